#pragma once

#include "common/Bytes.h"
#include "common/Error.h"
#include "pairing/SecretStore.h"

#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace corvane {

// A failed secret-store call: the store's exact status and a readable text for it.
class PairingKeychainError {
public:
    PairingKeychainError(std::int32_t status, std::string description);

    std::int32_t status() const { return status_; }
    const std::string& description() const { return description_; }

    operator Error() const { return Error(description_); }

private:
    std::int32_t status_;
    std::string description_;
};

// One opaque blob per (service, account) in the user's secret store.
class PairingKeychain {
public:
    explicit PairingKeychain(std::shared_ptr<SecretStore> store);

    // The item's bytes, or nothing when there is no such item.
    std::expected<std::optional<Bytes>, PairingKeychainError> read(std::string_view service,
                                                                   std::string_view account) const;
    // Replaces the item's bytes, creating the item on first use.
    std::expected<void, PairingKeychainError> write(const Bytes& data, std::string_view service,
                                                    std::string_view account) const;
    // Removes the item; removing a missing item succeeds.
    std::expected<void, PairingKeychainError> deleteItem(std::string_view service,
                                                         std::string_view account) const;

private:
    PairingKeychainError errorFor(std::int32_t status) const;

    std::shared_ptr<SecretStore> store_;
};

} // namespace corvane
