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

    int copyCalls = 0;
    int updateCalls = 0;
    int addCalls = 0;
    int removeCalls = 0;

    std::optional<Bytes> item(const std::string& service, const std::string& account) const {
        const auto found = items.find(Key(service, account));
        return found == items.end() ? std::nullopt : std::optional<Bytes>(found->second);
    }

    SecretLookup copyMatching(const SecretItem& item) override {
        ++copyCalls;
        if (copyStatus) {
            return SecretLookup{*copyStatus, std::nullopt};
        }
        if (copyWithoutData) {
            return SecretLookup{SecretStatus::success, std::nullopt};
        }
        const auto found = items.find(key(item));
        if (found == items.end()) {
            return SecretLookup{SecretStatus::itemNotFound, std::nullopt};
        }
        return SecretLookup{SecretStatus::success, found->second};
    }

    std::int32_t update(const SecretItem& item, const Bytes& data) override {
        ++updateCalls;
        if (updateStatus) {
            return *updateStatus;
        }
        const auto found = items.find(key(item));
        if (found == items.end()) {
            return SecretStatus::itemNotFound;
        }
        found->second = data;
        return SecretStatus::success;
    }

    std::int32_t add(const SecretItem& item, const Bytes& data) override {
        ++addCalls;
        if (addStatus) {
            return *addStatus;
        }
        if (!items.emplace(key(item), data).second) {
            return duplicateItem;
        }
        return SecretStatus::success;
    }

    std::int32_t remove(const SecretItem& item) override {
        ++removeCalls;
        if (removeStatus) {
            return *removeStatus;
        }
        return items.erase(key(item)) == 1 ? SecretStatus::success : SecretStatus::itemNotFound;
    }

    std::optional<std::string> errorMessage(std::int32_t status) const override {
        const auto found = messages.find(status);
        return found == messages.end() ? std::nullopt : std::optional<std::string>(found->second);
    }

    static constexpr std::int32_t duplicateItem = -25299;

private:
    static Key key(const SecretItem& item) { return Key(item.service, item.account); }
};

} // namespace corvane::test
