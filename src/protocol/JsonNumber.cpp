#include "protocol/JsonNumber.h"

#include <algorithm>

namespace corvane {
namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

std::size_t countDigits(std::string_view text, std::size_t from) {
    std::size_t end = from;
    while (end < text.size() && isDigit(text[end])) {
        ++end;
    }
    return end - from;
}

// The parts of a number literal that passed isJsonNumber.
struct Literal {
    bool negative = false;
    std::string_view integer;
    std::string_view fraction;
    std::string_view exponent; // digits only
    bool negativeExponent = false;
};

Literal split(std::string_view text) {
    Literal literal;
    std::size_t at = 0;
    literal.negative = text[at] == '-';
    at += literal.negative ? 1 : 0;
    literal.integer = text.substr(at, countDigits(text, at));
    at += literal.integer.size();
    if (at < text.size() && text[at] == '.') {
        literal.fraction = text.substr(at + 1, countDigits(text, at + 1));
        at += 1 + literal.fraction.size();
    }
    if (at < text.size()) {
        ++at; // e or E
        literal.negativeExponent = text[at] == '-';
        at += (text[at] == '-' || text[at] == '+') ? 1 : 0;
        literal.exponent = text.substr(at);
    }
    return literal;
}

// Saturates far beyond any exponent that could still give a 64-bit whole number.
std::int64_t exponentValue(const Literal& literal) {
    constexpr std::int64_t saturation = 1'000'000'000;
    std::int64_t value = 0;
    for (const char c : literal.exponent) {
        value = std::min(saturation, value * 10 + (c - '0'));
    }
    return literal.negativeExponent ? -value : value;
}

} // namespace

bool isJsonNumber(std::string_view literal) {
    std::size_t at = (!literal.empty() && literal[0] == '-') ? 1 : 0;
    const std::size_t integerDigits = countDigits(literal, at);
    if (integerDigits == 0 || (integerDigits > 1 && literal[at] == '0')) {
        return false;
    }
    at += integerDigits;
    if (at < literal.size() && literal[at] == '.') {
        const std::size_t fractionDigits = countDigits(literal, at + 1);
        if (fractionDigits == 0) {
            return false;
        }
        at += 1 + fractionDigits;
    }
    if (at < literal.size() && (literal[at] == 'e' || literal[at] == 'E')) {
        ++at;
        if (at < literal.size() && (literal[at] == '+' || literal[at] == '-')) {
            ++at;
        }
        const std::size_t exponentDigits = countDigits(literal, at);
        if (exponentDigits == 0) {
            return false;
        }
        at += exponentDigits;
    }
    return at == literal.size();
}

std::optional<std::int64_t> wholeInt64(std::string_view literal) {
    if (!isJsonNumber(literal)) {
        return std::nullopt;
    }
    const Literal parts = split(literal);
    // The significant digits run over the integer and fraction parts; index them as one string.
    const std::size_t total = parts.integer.size() + parts.fraction.size();
    const auto digitAt = [&](std::size_t i) {
        return i < parts.integer.size() ? parts.integer[i]
                                        : parts.fraction[i - parts.integer.size()];
    };
    std::size_t first = 0;
    while (first < total && digitAt(first) == '0') {
        ++first;
    }
    if (first == total) {
        return 0;
    }
    std::size_t end = total;
    while (digitAt(end - 1) == '0') {
        --end;
    }
    // value = digits[first, end) * 10^scale
    const std::int64_t scale = exponentValue(parts) -
                               static_cast<std::int64_t>(parts.fraction.size()) +
                               static_cast<std::int64_t>(total - end);
    const auto significant = static_cast<std::int64_t>(end - first);
    if (scale < 0 || significant + scale > 19) {
        return std::nullopt;
    }
    // At most 19 digits: below 10^19, so it fits an unsigned 64-bit integer.
    std::uint64_t magnitude = 0;
    for (std::size_t i = first; i < end; ++i) {
        magnitude = magnitude * 10 + static_cast<std::uint64_t>(digitAt(i) - '0');
    }
    for (std::int64_t i = 0; i < scale; ++i) {
        magnitude *= 10;
    }
    constexpr std::uint64_t maxPositive = 9'223'372'036'854'775'807ULL;
    if (!parts.negative) {
        return magnitude <= maxPositive
                   ? std::optional<std::int64_t>(static_cast<std::int64_t>(magnitude))
                   : std::nullopt;
    }
    if (magnitude > maxPositive + 1) {
        return std::nullopt;
    }
    // -(2^63) has no positive counterpart; negate in unsigned arithmetic.
    return static_cast<std::int64_t>(~magnitude + 1);
}

} // namespace corvane
