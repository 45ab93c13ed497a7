#include "protocol/JsonString.h"

namespace corvane {

namespace {

char hexDigit(unsigned nibble) {
    return "0123456789abcdef"[nibble & 0xFU];
}

// The short escape for a byte that JSON forbids raw inside a string, or 0 for \u00XX.
char shortEscape(unsigned char byte) {
    switch (byte) {
    case '"':
        return '"';
    case '\\':
        return '\\';
    case '\b':
        return 'b';
    case '\f':
        return 'f';
    case '\n':
        return 'n';
    case '\r':
        return 'r';
    case '\t':
        return 't';
    default:
        return 0;
    }
}

bool needsEscape(unsigned char byte) {
    return byte < 0x20 || byte == '"' || byte == '\\';
}

} // namespace

void appendJsonString(std::string_view text, std::string& out) {
    out += '"';
    std::size_t runStart = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (!needsEscape(byte)) {
            continue;
        }
        out.append(text.substr(runStart, i - runStart));
        out += '\\';
        if (const char escape = shortEscape(byte)) {
            out += escape;
        } else {
            out += "u00";
            out += hexDigit(byte >> 4U);
            out += hexDigit(byte);
        }
        runStart = i + 1;
    }
    out.append(text.substr(runStart));
    out += '"';
}

} // namespace corvane
