#pragma once

#include "common/Error.h"
#include "protocol/TouchMessage.h"

#include <expected>
#include <memory>
#include <string_view>

namespace corvane {

// Decodes single protocol lines. Each call is independent of the ones before it; the decoder only
// keeps its parser and scratch buffer so that a busy connection allocates nothing per line.
class TouchMessageDecoder {
public:
    TouchMessageDecoder();
    ~TouchMessageDecoder();
    TouchMessageDecoder(TouchMessageDecoder&&) noexcept;
    TouchMessageDecoder& operator=(TouchMessageDecoder&&) noexcept;

    // One line, without its line feed: exactly one JSON object with a known "kind".
    std::expected<TouchMessage, Error> decode(std::string_view line);

private:
    struct Parser;
    std::unique_ptr<Parser> parser_;
};

} // namespace corvane
