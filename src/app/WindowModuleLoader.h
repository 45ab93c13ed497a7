#pragma once

#include "app/WindowModule.h"
#include "common/Error.h"

#include <expected>

namespace corvane {

// Loads the window module from beside the running program (a build folder) or from where the
// install puts it, relative to the program; the module stays loaded until the process ends.
std::expected<const WindowModule*, Error> loadWindowModule();

} // namespace corvane
