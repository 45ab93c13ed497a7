#include "CorvaneLineCodec.h"

namespace corvane {

std::expected<TouchMessage, Error> CorvaneLineCodec::decode(std::string_view line) {
    return decoder_.decode(line);
}

std::optional<Bytes> CorvaneLineCodec::line(const TouchMessage& message) {
    return message.line();
}

} // namespace corvane
