#pragma once

#include <string>

namespace corvane {

// Raw bytes as they travel on a wire or sit in a store; std::string keeps them contiguous and
// cheap to append to, and says nothing about their encoding.
using Bytes = std::string;

} // namespace corvane
