#include "pairing/PairingKeychain.h"

#include <utility>

namespace corvane {

PairingKeychainError::PairingKeychainError(std::int32_t status, std::string description)
    : status_(status), description_(std::move(description)) {}

PairingKeychain::PairingKeychain(std::shared_ptr<SecretStore> store) : store_(std::move(store)) {}

std::expected<std::optional<Bytes>, PairingKeychainError>
PairingKeychain::read(std::string_view service, std::string_view account) const {
    SecretLookup lookup =
        store_->copyMatching(SecretItem{std::string(service), std::string(account)});
    if (lookup.status == SecretStatus::itemNotFound) {
        return std::nullopt;
    }
    // Success without bytes is a store fault, reported with the status it gave.
    if (lookup.status != SecretStatus::success || !lookup.data) {
        return std::unexpected(errorFor(lookup.status));
    }
    return std::move(lookup.data);
}

std::expected<void, PairingKeychainError> PairingKeychain::write(const Bytes& data,
                                                                 std::string_view service,
                                                                 std::string_view account) const {
    const SecretItem item{std::string(service), std::string(account)};
    // Update first so that the old bytes stay in place until new ones are stored.
    const std::int32_t updateStatus = store_->update(item, data);
    if (updateStatus == SecretStatus::success) {
        return {};
    }
    if (updateStatus != SecretStatus::itemNotFound) {
        return std::unexpected(errorFor(updateStatus));
    }
    const std::int32_t addStatus = store_->add(item, data);
    if (addStatus != SecretStatus::success) {
        return std::unexpected(errorFor(addStatus));
    }
    return {};
}

std::expected<void, PairingKeychainError>
PairingKeychain::deleteItem(std::string_view service, std::string_view account) const {
    const std::int32_t status =
        store_->remove(SecretItem{std::string(service), std::string(account)});
    if (status == SecretStatus::success || status == SecretStatus::itemNotFound) {
        return {};
    }
    return std::unexpected(errorFor(status));
}

PairingKeychainError PairingKeychain::errorFor(std::int32_t status) const {
    std::optional<std::string> message = store_->errorMessage(status);
    // An empty text would leave the status line ending in ": " with nothing after it.
    if (message && !message->empty()) {
        return PairingKeychainError(status, std::move(*message));
    }
    return PairingKeychainError(status, "Keychain error " + std::to_string(status));
}

} // namespace corvane
