#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace corvane {

// Whether `literal` is exactly one JSON number token (RFC 8259 grammar, nothing around it).
bool isJsonNumber(std::string_view literal);

// The exact value of a JSON number literal when it is a whole number within the signed 64-bit
// range, whatever its spelling ("5", "5.0", "5e0", "50e-1"); nothing otherwise. Works on the
// decimal text rather than a double, so "5.0000000000000001" and "-9223372036854775809" fail.
std::optional<std::int64_t> wholeInt64(std::string_view literal);

} // namespace corvane
