#pragma once

#include "pairing/SecretStore.h"

#include <map>
#include <memory>

namespace corvane {

// The keyring and the pairing files as one store. Reads and writes go to the store in use;
// removals reach both, since an earlier run may have left the item in the other one. When the
// keyring is not the store in use and cannot be reached to remove an item, a note in the files
// asks for that removal, and the keyring's next use makes it before anything is read.
class SecretStoreSet final : public SecretStore {
public:
    enum class InUse { keyring, files };

    // Either store may be null when this build or this session has none; the one in use not.
    SecretStoreSet(std::shared_ptr<SecretStore> keyring, std::shared_ptr<SecretStore> files,
                   InUse inUse);

    const std::shared_ptr<SecretStore>& inUse() const;

    SecretLookup copyMatching(const SecretItem& item) override;
    std::int32_t update(const SecretItem& item, const Bytes& data) override;
    std::int32_t add(const SecretItem& item, const Bytes& data) override;
    std::int32_t remove(const SecretItem& item) override;
    std::optional<std::string> errorMessage(std::int32_t status) const override;

private:
    // Removes from the keyring what a note asks to, before the keyring is used for `item`.
    std::int32_t settlePendingRemoval(const SecretItem& item);
    std::int32_t removeFromOtherStore(const SecretItem& item);
    // Keeps which store a failure came from, for its text: their statuses overlap.
    std::int32_t outcome(std::int32_t status, const std::shared_ptr<SecretStore>& from);

    std::shared_ptr<SecretStore> keyring_;
    std::shared_ptr<SecretStore> files_;
    InUse inUse_;
    std::map<std::int32_t, std::shared_ptr<SecretStore>> failedIn_;
};

} // namespace corvane
