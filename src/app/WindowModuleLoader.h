#pragma once

#include "app/WindowModule.h"
#include "common/Error.h"

#include <expected>
#include <filesystem>

namespace corvane {

// Loads the window module from beside the program (a build folder) or from where the install
// puts it, relative to the program; the module stays loaded until the process ends.
std::expected<const WindowModule*, Error>
loadWindowModule(const std::filesystem::path& programFolder);

// The folder of the running program.
std::expected<std::filesystem::path, Error> runningProgramFolder();

} // namespace corvane
