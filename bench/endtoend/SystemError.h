#pragma once

#include "common/Error.h"

#include <cerrno>
#include <cstring>
#include <string>

namespace corvane {

// The failed call's name and the reason errno gives.
inline Error systemError(const std::string& call) {
    return Error(call + ": " + std::strerror(errno));
}

} // namespace corvane
