#pragma once

#include "common/Error.h"
#include "pairing/SecretStore.h"

#include <expected>
#include <filesystem>

namespace corvane {

// Secrets as files, one per item, for sessions without a Secret Service. The folder is 0700 and
// each file 0600; every write replaces the file atomically, so a crash leaves old or new bytes.
// Failure statuses are errno values.
class FileSecretStore : public SecretStore {
public:
    explicit FileSecretStore(std::filesystem::path folder);

    // $XDG_DATA_HOME/corvane, or ~/.local/share/corvane.
    static std::expected<std::filesystem::path, Error> defaultFolder();

    const std::filesystem::path& folder() const { return folder_; }
    // The file that holds an item; its name is built so that no service or account can leave
    // the folder.
    std::filesystem::path pathFor(const SecretItem& item) const;

    SecretLookup copyMatching(const SecretItem& item) override;
    std::int32_t update(const SecretItem& item, const Bytes& data) override;
    std::int32_t add(const SecretItem& item, const Bytes& data) override;
    std::int32_t remove(const SecretItem& item) override;
    std::optional<std::string> errorMessage(std::int32_t status) const override;

private:
    std::int32_t ensureFolder() const;
    std::int32_t syncFolder() const;
    // Deletes the temporary files a writer killed mid-write left behind: they hold secrets that
    // would outlive a remove. Any temporary file found is stale because one process at a time
    // writes a store's folder; writers of the same folder in several processes are not
    // supported. True when it deleted any.
    bool removeStaleTemporaries() const;
    // Writes `data` to a fresh 0600 file in the folder and flushes it; its path goes to `tempPath`.
    std::int32_t writeTemporary(const Bytes& data, std::filesystem::path& tempPath) const;

    std::filesystem::path folder_;
};

} // namespace corvane
