#include "fakes/RecordingEventSink.h"
#include "input/InputInjector.h"
#include "protocol/TouchMessageDecoder.h"
#include "unit/ScriptFile.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace corvane {
namespace {

template<typename Number>
std::string text(Number number, int base = 10) {
    char digits[32];
    if constexpr (std::is_floating_point_v<Number>) {
        return std::string(digits, std::to_chars(digits, digits + sizeof digits, number).ptr);
    } else {
        return std::string(digits, std::to_chars(digits, digits + sizeof digits, number, base).ptr);
    }
}

std::string describe(const SyntheticEvent& event) {
    static const std::map<MouseEventType, std::string> types{
        {MouseEventType::leftMouseDown, "leftDown"},
        {MouseEventType::leftMouseUp, "leftUp"},
        {MouseEventType::rightMouseDown, "rightDown"},
        {MouseEventType::rightMouseUp, "rightUp"},
        {MouseEventType::mouseMoved, "moved"},
        {MouseEventType::leftMouseDragged, "dragged"},
        {MouseEventType::otherMouseDown, "otherDown"},
        {MouseEventType::otherMouseUp, "otherUp"}};
    static const std::string buttons[] = {"left", "right", "center"};
    std::string out;
    if (const auto* mouse = std::get_if<MouseEvent>(&event.body)) {
        out = types.at(mouse->type) + " " + buttons[static_cast<int>(mouse->button)] + " at " +
              text(mouse->location.x) + "," + text(mouse->location.y);
        if (mouse->delta != Point{}) {
            out += " by " + text(mouse->delta.x) + "," + text(mouse->delta.y);
        }
    } else if (const auto* key = std::get_if<KeyboardEvent>(&event.body)) {
        out = "key " + text(key->keyCode) + (key->keyDown ? " down" : " up");
    } else {
        const auto& wheel = std::get<ScrollWheelEvent>(event.body);
        out = "wheel " + text(wheel.vertical) + " " + text(wheel.horizontal);
    }
    return event.flags == 0 ? out : out + " flags 0x" + text(event.flags, 16);
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
                    produced.push_back("hold 0x" + text(entry.event.flags, 16));
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
