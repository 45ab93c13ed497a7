#pragma once

#include "protocol/TouchMessage.h"
#include "protocol/TouchMessageDecoder.h"

#include <expected>
#include <optional>
#include <string_view>

namespace corvane {

// The product's own codec, behind the interface that the benchmark gives every contender.
class CorvaneLineCodec {
public:
    static constexpr std::string_view name = "corvane";

    // The decoder's own result, as the product receives it.
    std::expected<TouchMessage, Error> decode(std::string_view line);
    std::optional<Bytes> line(const TouchMessage& message);

private:
    TouchMessageDecoder decoder_;
};

} // namespace corvane
