#pragma once

#include "common/Error.h"
#include "pairing/SecretStore.h"

#include <expected>
#include <memory>
#include <string_view>

namespace corvane {

// The store that CORVANE_SECRETS names: "auto" (the default: the Secret Service when one
// answers on the session bus, else files), "secret-service" or "file".
std::expected<std::shared_ptr<SecretStore>, Error> makeSecretStore();

// The same for an explicit choice; an empty choice means "auto".
std::expected<std::shared_ptr<SecretStore>, Error> makeSecretStore(std::string_view choice);

} // namespace corvane
