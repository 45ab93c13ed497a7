#pragma once

#include "common/Error.h"
#include "pairing/PairingKeychain.h"
#include "pairing/SecureRandom.h"
#include "pairing/UserDefaults.h"

#include <expected>
#include <map>
#include <memory>
#include <string>
#include <string_view>

namespace corvane {

// The registry's own failures.
enum class PairingError {
    invalidClient,
    randomUnavailable,
};

// "Invalid device identity", "Secure random data is unavailable".
std::string_view description(PairingError error);

// Where the registry keeps its state between runs.
struct PairingStorage {
    std::shared_ptr<SecretStore> secrets;
    std::shared_ptr<UserDefaults> defaults;
    std::shared_ptr<SecureRandom> random;
};

// The phones paired with this computer: its host identity and one secret token per client.
class PairedClients {
public:
    static constexpr std::string_view serviceIdentifier = "dev.corvane.receiver.mac.pairings";
    static constexpr std::string_view tokensAccount = "clients";
    static constexpr std::string_view hostIDKey = "corvaneHostID";

    // Loads the host ID (making one on first use) and the stored tokens.
    static std::expected<PairedClients, Error> create(PairingStorage storage);

    const std::string& hostID() const { return hostID_; }

    // Issues and stores a fresh token for `clientID`, replacing its earlier one.
    std::expected<std::string, Error> pair(std::string_view clientID);

    // Whether `token` is the stored token of `clientID`; compared in constant time.
    bool accepts(std::string_view clientID, std::string_view token) const;

    // Deletes every stored token; the host ID stays.
    std::expected<void, Error> forgetAll();

    // Deletes the stored tokens without reading them, so an item that cannot be decoded can
    // still be forgotten.
    static std::expected<void, Error> forgetStored(const PairingStorage& storage);

private:
    PairedClients(PairingStorage storage, std::string hostID,
                  std::map<std::string, std::string, std::less<>> tokens);

    PairingStorage storage_;
    PairingKeychain keychain_;
    std::string hostID_;
    std::map<std::string, std::string, std::less<>> tokens_;
};

} // namespace corvane
