#include "pairing/Uuid.h"

#include <uuid/uuid.h>

#include <array>
#include <cstddef>

namespace corvane {

namespace {

constexpr std::size_t canonicalLength = 36;

bool isHyphenPosition(std::size_t index) {
    return index == 8 || index == 13 || index == 18 || index == 23;
}

// Locale-independent, unlike std::isxdigit.
bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

} // namespace

bool isCanonicalUuid(std::string_view text) {
    if (text.size() != canonicalLength) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool valid = isHyphenPosition(i) ? text[i] == '-' : isHexDigit(text[i]);
        if (!valid) {
            return false;
        }
    }
    return true;
}

std::string newUppercaseUuid() {
    uuid_t uuid;
    uuid_generate_random(uuid);
    std::array<char, canonicalLength + 1> text{};
    uuid_unparse_upper(uuid, text.data());
    return std::string(text.data(), canonicalLength);
}

} // namespace corvane
