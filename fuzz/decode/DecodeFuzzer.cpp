// Arbitrary bytes into the line decoder: decoding must not crash, and whatever decodes must
// encode to one line that decodes back to an equal message.

#include "protocol/TouchMessage.h"
#include "protocol/TouchMessageDecoder.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace {

[[noreturn]] void violated(const char* what) {
    std::fprintf(stderr, "invariant violated: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // One decoder for every input, as a connection keeps one for all its lines.
    static corvane::TouchMessageDecoder decoder;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    auto decoded = decoder.decode(text);
    if (!decoded) {
        return 0;
    }
    const auto line = decoded->line();
    if (!line) {
        violated("a decoded message does not encode");
    }
    if (line->empty() || line->back() != '\n' || line->find('\n') != line->size() - 1) {
        violated("an encoded message is not exactly one line");
    }
    auto again = decoder.decode(std::string_view(*line).substr(0, line->size() - 1));
    if (!again) {
        violated("an encoded message does not decode");
    }
    if (!(*again == *decoded)) {
        violated("a message changed on its way through encoding");
    }
    return 0;
}
