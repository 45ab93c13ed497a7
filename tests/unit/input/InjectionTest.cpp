#include "fakes/RecordingEventSink.h"
#include "input/InputInjector.h"
#include "protocol/TouchMessageDecoder.h"
#include "unit/ScriptFile.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace corvane {
namespace {

std::string text(double number) {
    char digits[32];
    return {digits, std::to_chars(digits, digits + sizeof digits, number).ptr};
}

std::string hex(EventFlags flags) {
    char digits[32];
    return "0x" + std::string(digits, std::to_chars(digits, digits + sizeof digits, flags, 16).ptr);
}

std::string describe(const SyntheticEvent& event) {
    static const std::string types[] = {"",        "leftDown", "leftUp", "rightDown",
                                        "rightUp", "moved",    "dragged"};
    static const std::string buttons[] = {"left", "right", "center"};
    std::string out;
    if (const auto* mouse = std::get_if<MouseEvent>(&event.body)) {
        const auto type = static_cast<std::size_t>(mouse->type);
        out = (type < 7     ? types[type]
               : type == 25 ? "otherDown"
                            : "otherUp") +
              " " + buttons[static_cast<int>(mouse->button)] + " at " + text(mouse->location.x) +
              "," + text(mouse->location.y);
        if (mouse->delta != Point{}) {
            out += " by " + text(mouse->delta.x) + "," + text(mouse->delta.y);
        }
    } else if (const auto* key = std::get_if<KeyboardEvent>(&event.body)) {
        out = "key " + std::to_string(key->keyCode) + (key->keyDown ? " down" : " up");
    } else {
        const auto& wheel = std::get<ScrollWheelEvent>(event.body);
        out = "wheel " + std::to_string(wheel.vertical) + " " + std::to_string(wheel.horizontal);
    }
    return event.flags == 0 ? out : out + " flags " + hex(event.flags);
}

TEST(Injection, InputMessagesPostTheirEvents) {
    test::runScript("input/injection.txt", [] {
        auto sink = std::make_shared<test::RecordingEventSink>();
        auto injector = std::make_shared<InputInjector>(sink);
        auto decoder = std::make_shared<TouchMessageDecoder>();
        auto failing = std::make_shared<std::set<std::string>>();
        sink->fails = [failing](const SyntheticEvent& event) {
            return failing->contains(describe(event));
        };
        return [=](const std::string& step) {
            sink->clear();
            Point location;
            if (step.starts_with("fail ")) {
                failing->insert(step.substr(5));
            } else if (std::sscanf(step.c_str(), "location %lf,%lf", &location.x, &location.y) ==
                       2) {
                sink->location = location;
            } else if (step == "no location") {
                sink->location.reset();
            } else if (step == "release") {
                injector->releaseHeldButton();
            } else if (step == "clear") {
                injector->clearModifiers();
            } else {
                injector->applyInput(decoder->decode(step).value());
            }
            std::vector<std::string> produced;
            for (const auto& entry : sink->entries) {
                if (entry.call == test::RecordingEventSink::Call::post) {
                    produced.push_back(describe(entry.event));
                } else if (entry.call == test::RecordingEventSink::Call::hold) {
                    produced.push_back("hold " + hex(entry.event.flags));
                }
            }
            return produced;
        };
    });
}

// Decoded lines never carry these, but the guards must hold whoever builds the message.
TEST(Injection, NonFiniteValues_PostNothing) {
    auto sink = std::make_shared<test::RecordingEventSink>();
    InputInjector injector(sink);
    const double inf = std::numeric_limits<double>::infinity();
    for (const double bad : {std::nan(""), inf, -inf}) {
        for (const auto kind : {TouchMessage::Kind::move, TouchMessage::Kind::scroll,
                                TouchMessage::Kind::zoom, TouchMessage::Kind::navigate}) {
            TouchMessage message;
            message.kind = kind;
            message.value = bad;
            message.dx = bad;
            message.dy = 1;
            injector.applyInput(message);
            std::swap(message.dx, message.dy);
            injector.applyInput(message);
        }
    }
    EXPECT_TRUE(sink->entries.empty());
}

} // namespace
} // namespace corvane
