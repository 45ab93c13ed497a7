#pragma once

#include "common/Bytes.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace corvane {

// Standard Base64 (RFC 4648 alphabet) with "=" padding and no line breaks.
std::string encodeBase64(std::span<const std::uint8_t> bytes);

// Strict inverse of encodeBase64: the whole text must be canonical padded Base64, or nothing.
std::optional<Bytes> decodeBase64(std::string_view text);

} // namespace corvane
