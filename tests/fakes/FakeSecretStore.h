#pragma once

#include "pairing/SecretStore.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>

namespace corvane::test {

// An in-memory secret store whose every call can be made to fail with any status.
class FakeSecretStore : public SecretStore {
public:
    using Key = std::pair<std::string, std::string>;

    // Items by (service, account).
    std::map<Key, Bytes> items;
    // When set, the call returns this status and changes nothing.
    std::optional<std::int32_t> copyStatus;
    std::optional<std::int32_t> updateStatus;
    std::optional<std::int32_t> addStatus;
    std::optional<std::int32_t> removeStatus;
    // A lookup that reports success and hands back no bytes.
    bool copyWithoutData = false;
    // Texts that errorMessage() knows; other statuses have none.
    std::map<std::int32_t, std::string> messages;
    int removeCalls = 0;

    static constexpr std::int32_t duplicateItem = -25299;

    std::optional<Bytes> item(const std::string& service, const std::string& account) const {
        const auto found = items.find({service, account});
        return found == items.end() ? std::nullopt : std::optional(found->second);
    }

    SecretLookup copyMatching(const SecretItem& item) override {
        if (copyStatus || copyWithoutData) {
            return {copyStatus.value_or(SecretStatus::success), std::nullopt};
        }
        const auto data = this->item(item.service, item.account);
        return {data ? SecretStatus::success : SecretStatus::itemNotFound, data};
    }

    std::int32_t update(const SecretItem& item, const Bytes& data) override {
        const auto found = items.find({item.service, item.account});
        if (updateStatus || found == items.end()) {
            return updateStatus.value_or(SecretStatus::itemNotFound);
        }
        found->second = data;
        return SecretStatus::success;
    }

    std::int32_t add(const SecretItem& item, const Bytes& data) override {
        if (addStatus) {
            return *addStatus;
        }
        return items.emplace(Key{item.service, item.account}, data).second ? SecretStatus::success
                                                                           : duplicateItem;
    }

    std::int32_t remove(const SecretItem& item) override {
        ++removeCalls;
        if (removeStatus) {
            return *removeStatus;
        }
        return items.erase({item.service, item.account}) == 1 ? SecretStatus::success
                                                              : SecretStatus::itemNotFound;
    }

    std::optional<std::string> errorMessage(std::int32_t status) const override {
        const auto found = messages.find(status);
        return found == messages.end() ? std::nullopt : std::optional(found->second);
    }
};

} // namespace corvane::test
