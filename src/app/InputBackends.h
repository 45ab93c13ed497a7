#pragma once

#include "app/InputChoice.h"
#include "common/Error.h"

#include <expected>
#include <memory>
#include <ostream>
#include <string_view>

namespace corvane {

// The input backends this build has, chosen as CORVANE_INPUT asks (auto, portal, xtest, uinput,
// none) for the session the environment describes. A backend asked for by name that cannot be
// opened is an error; the automatic choice never is.
std::expected<std::shared_ptr<InputChoice>, Error> chooseInput(std::string_view choice,
                                                               std::ostream& log);

} // namespace corvane
