#pragma once

#include "pairing/SecretStore.h"

#include <libsecret/secret.h>

#include <map>
#include <memory>

namespace corvane {

// Items in the Secret Service of the session bus (GNOME Keyring, KWallet...), through libsecret's
// blocking calls. Each item carries the string attributes "service" and "account", so
// `secret-tool lookup service S account A` finds it; the bytes are stored as text/plain. A locked
// item is unlocked through the Secret Service's own prompt; one that stays locked is an error,
// never "not found", so nothing is overwritten or reported gone that could not be seen.
class SecretServiceStore : public SecretStore {
public:
    // This store's own failure statuses; their texts come from the last failure of each kind.
    enum Status : std::int32_t {
        lookupFailed = 1,
        storeFailed = 2,
        clearFailed = 3,
        duplicateItem = 4,
        invalidAttributes = 5,
        locked = 6,
    };

    SecretServiceStore();

    // Whether a Secret Service answers on the session bus (starting it if it is activatable).
    static bool available();

    SecretLookup copyMatching(const SecretItem& item) override;
    std::int32_t update(const SecretItem& item, const Bytes& data) override;
    std::int32_t add(const SecretItem& item, const Bytes& data) override;
    std::int32_t remove(const SecretItem& item) override;
    std::optional<std::string> errorMessage(std::int32_t status) const override;

private:
    struct ItemsDeleter {
        void operator()(GList* items) const;
    };
    using Items = std::unique_ptr<GList, ItemsDeleter>;

    // The items named by `item`, unlocked where they were locked; `failure` names a failed call.
    std::int32_t findUnlocked(const SecretItem& item, Status failure, SecretSearchFlags flags,
                              Items& found);
    std::int32_t store(const SecretItem& item, const Bytes& data);
    std::int32_t fail(Status status, GError* error);

    SecretSchema schema_;
    std::map<std::int32_t, std::string> lastMessages_;
};

} // namespace corvane
