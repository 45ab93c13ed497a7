#include "protocol/TouchMessage.h"
#include "protocol/TouchMessageDecoder.h"
#include "unit/ScriptFile.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace corvane {
namespace {

TEST(WireFormat, LinesDecodeToWhatTheyEncodeBackToOrFail) {
    test::runScript("protocol/lines.txt", [] {
        return [decoder = std::make_shared<TouchMessageDecoder>()](const std::string& step) {
            const std::string input = step == "<empty>" ? "" : step;
            // Transports decode lines in place: nothing after the line may be read.
            const std::string buffer = input + "}]\"0";
            const auto decoded = decoder->decode(std::string_view(buffer).substr(0, input.size()));
            const auto line = decoded ? decoded->line() : std::nullopt;
            if (!line || line->find('\n') != line->size() - 1) {
                return std::vector<std::string>{decoded ? "no line" : "fails"};
            }
            const std::string json = line->substr(0, line->size() - 1);
            return std::vector<std::string>{json == input ? "=" : json};
        };
    });
}

TEST(WireFormat, MessagesThatCannotBeWritten_GiveNoLineAndLeaveTheBufferAlone) {
    const double inf = std::numeric_limits<double>::infinity();
    const std::function<void(TouchMessage&)> faults[] = {
        [](TouchMessage& m) { m.dx = std::nan(""); },
        [&](TouchMessage& m) { m.dy = inf; },
        [&](TouchMessage& m) { m.value = -inf; },
        [](TouchMessage& m) { m.code = "\xFF"; },
        [](TouchMessage& m) { m.key = "\xC0\xAF"; },
        [](TouchMessage& m) { m.hostID = "\xED\xA0\x80"; },
        [](TouchMessage& m) { m.clientID = "ok\xE2\x82"; },
        [](TouchMessage& m) { m.token = "t\x80"; },
        [](TouchMessage& m) { m.kind = static_cast<TouchMessage::Kind>(14); },
    };
    for (const auto& fault : faults) {
        TouchMessage message;
        message.hostID = "H";
        fault(message);
        std::string out = "kept";
        EXPECT_FALSE(message.line());
        EXPECT_FALSE(encodeJson(message, out));
        EXPECT_EQ(out, "kept");
    }
}

TEST(WireFormat, MovedFromDecoder_StillDecodes) {
    TouchMessageDecoder first;
    const TouchMessageDecoder second(std::move(first));
    // NOLINTNEXTLINE(bugprone-use-after-move): a moved-from decoder stays usable on purpose
    EXPECT_TRUE(first.decode(R"({"kind":"click"})"));
}

} // namespace
} // namespace corvane
