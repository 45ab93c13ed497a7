#pragma once

#include "common/Error.h"
#include "pairing/SecretStore.h"

#include <expected>
#include <memory>
#include <string>
#include <string_view>

namespace corvane {

// The pairing store, and what the user should be told about the choice.
struct SecretStoreChoice {
    std::shared_ptr<SecretStore> store;
    // Set when the automatic choice fell back to files: the user did not ask for them.
    std::string notice;
};

// The store that CORVANE_SECRETS names: "auto" (the default: the Secret Service when one
// answers on the session bus, else files), "secret-service" or "file". Whichever is in use,
// forgetting removes the pairing item from the other one as well.
std::expected<SecretStoreChoice, Error> makeSecretStore();

// The same for an explicit choice; an empty choice means "auto".
std::expected<SecretStoreChoice, Error> makeSecretStore(std::string_view choice);

} // namespace corvane
