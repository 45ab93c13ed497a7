#include "pairing/PairedClients.h"

#include "pairing/Base64.h"
#include "pairing/TokenMapJson.h"
#include "pairing/Uuid.h"

#include <sodium.h>

#include <array>
#include <cstdint>
#include <utility>

namespace corvane {

namespace {

constexpr std::size_t tokenLength = 32;

Error pairingError(PairingError error) {
    return Error(std::string(description(error)));
}

Error storageNotSetUp() {
    return Error("Pairing storage is not set up");
}

// A stored ID that isn't a UUID is replaced; a valid one is kept verbatim, letter case included.
std::string loadOrCreateHostID(UserDefaults& defaults) {
    std::optional<std::string> stored = defaults.string(PairedClients::hostIDKey);
    if (stored && isCanonicalUuid(*stored)) {
        return std::move(*stored);
    }
    std::string hostID = newUppercaseUuid();
    defaults.setString(PairedClients::hostIDKey, hostID);
    return hostID;
}

} // namespace

std::string_view description(PairingError error) {
    switch (error) {
    case PairingError::invalidClient:
        return "Invalid device identity";
    case PairingError::randomUnavailable:
        return "Secure random data is unavailable";
    }
    return "Pairing failed";
}

PairedClients::PairedClients(PairingStorage storage, std::string hostID, TokenMap tokens)
    : storage_(std::move(storage)), keychain_(storage_.secrets), hostID_(std::move(hostID)),
      tokens_(std::move(tokens)) {}

std::expected<PairedClients, Error> PairedClients::create(PairingStorage storage) {
    if (!storage.secrets || !storage.defaults || !storage.random) {
        return std::unexpected(storageNotSetUp());
    }
    // The host ID is stored before the keychain is read, so it persists even if that read fails.
    std::string hostID = loadOrCreateHostID(*storage.defaults);
    const PairingKeychain keychain(storage.secrets);
    auto stored = keychain.read(serviceIdentifier, tokensAccount);
    if (!stored) {
        return std::unexpected(Error(stored.error()));
    }
    TokenMap tokens;
    if (*stored) {
        auto decoded = decodeTokenMap(**stored);
        if (!decoded) {
            return std::unexpected(std::move(decoded.error()));
        }
        tokens = std::move(*decoded);
    }
    return PairedClients(std::move(storage), std::move(hostID), std::move(tokens));
}

std::expected<std::string, Error> PairedClients::pair(std::string_view clientID) {
    if (!isCanonicalUuid(clientID)) {
        return std::unexpected(pairingError(PairingError::invalidClient));
    }
    std::array<std::uint8_t, tokenLength> secret{};
    const bool filled = storage_.random->fill(secret);
    std::string token = filled ? encodeBase64(secret) : std::string();
    sodium_memzero(secret.data(), secret.size());
    if (!filled) {
        return std::unexpected(pairingError(PairingError::randomUnavailable));
    }
    // Change a copy and keep it only once the store has the new bytes.
    TokenMap updated = tokens_;
    updated.insert_or_assign(std::string(clientID), token);
    const auto written = keychain_.write(encodeTokenMap(updated), serviceIdentifier, tokensAccount);
    if (!written) {
        return std::unexpected(Error(written.error()));
    }
    tokens_.swap(updated);
    return token;
}

bool PairedClients::accepts(std::string_view clientID, std::string_view token) const {
    if (!isCanonicalUuid(clientID)) {
        return false;
    }
    const auto entry = tokens_.find(clientID);
    if (entry == tokens_.end()) {
        return false;
    }
    const std::optional<Bytes> expected = decodeBase64(entry->second);
    if (!expected) {
        return false;
    }
    const std::optional<Bytes> presented = decodeBase64(token);
    if (!presented || expected->size() != tokenLength || presented->size() != tokenLength) {
        return false;
    }
    // No early exit, so the time taken says nothing about how much of the token matched.
    return sodium_memcmp(expected->data(), presented->data(), tokenLength) == 0;
}

std::expected<void, Error> PairedClients::forgetAll() {
    auto forgotten = forgetStored(storage_);
    if (forgotten) {
        tokens_.clear();
    }
    return forgotten;
}

std::expected<void, Error> PairedClients::forgetStored(const PairingStorage& storage) {
    if (!storage.secrets) {
        return std::unexpected(storageNotSetUp());
    }
    const auto deleted =
        PairingKeychain(storage.secrets).deleteItem(serviceIdentifier, tokensAccount);
    if (!deleted) {
        return std::unexpected(Error(deleted.error()));
    }
    return {};
}

} // namespace corvane
