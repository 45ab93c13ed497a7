#include "input/InputInjector.h"

#include "fakes/RecordingEventSink.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace corvane {
using test::RecordingEventSink;
namespace {

using Kind = TouchMessage::Kind;
using Call = RecordingEventSink::Call;

TouchMessage message(Kind kind) {
    TouchMessage result;
    result.kind = kind;
    return result;
}

TouchMessage motion(Kind kind, std::optional<double> dx, std::optional<double> dy) {
    TouchMessage result = message(kind);
    result.dx = dx;
    result.dy = dy;
    return result;
}

TouchMessage withValue(Kind kind, std::optional<double> value) {
    TouchMessage result = message(kind);
    result.value = value;
    return result;
}

TouchMessage keyMessage(std::optional<std::string> key) {
    TouchMessage result = message(Kind::key);
    result.key = std::move(key);
    return result;
}

TouchMessage modifiersMessage(std::optional<std::int64_t> mask) {
    TouchMessage result = message(Kind::modifiers);
    result.modifiers = mask;
    return result;
}

SyntheticEvent mouse(MouseEventType type, Point at, MouseButton button, EventFlags flags = 0,
                     Point delta = {}) {
    return SyntheticEvent{MouseEvent{type, at, button, delta}, flags};
}

SyntheticEvent keyEvent(std::uint16_t code, bool down, EventFlags flags) {
    return SyntheticEvent{KeyboardEvent{code, down}, flags};
}

SyntheticEvent wheel(std::int32_t vertical, std::int32_t horizontal) {
    return SyntheticEvent{ScrollWheelEvent{vertical, horizontal}, 0};
}

class InputInjectorTest : public ::testing::Test {
protected:
    std::shared_ptr<RecordingEventSink> sink = std::make_shared<RecordingEventSink>();
    InputInjector injector{sink};
    const Point here{100, 100};

    void apply(const TouchMessage& m) { injector.applyInput(m); }
};

TEST_F(InputInjectorTest, Move_FromPointerLocationByExactDelta_Unclamped) {
    struct Case {
        std::optional<Point> location;
        double dx, dy;
        Point expected;
    };
    for (const Case c : {Case{here, 200.0, -200.0, Point{300, -100}}, // deltas at the bound
                         Case{std::nullopt, 5, 6, Point{5, 6}},       // no location: origin
                         Case{Point{-10.25, 5000.5}, -0.5, 199.5, Point{-10.75, 5200}}}) {
        sink->clear();
        sink->location = c.location;
        apply(motion(Kind::move, c.dx, c.dy));
        EXPECT_EQ(sink->posted(), (std::vector{mouse(MouseEventType::mouseMoved, c.expected,
                                                     MouseButton::left, 0, Point{c.dx, c.dy})}))
            << c.dx << "," << c.dy;
    }
}

TEST_F(InputInjectorTest, Motion_FailingGuard_PostsNothing) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (Kind kind : {Kind::move, Kind::scroll}) {
        apply(motion(kind, 200.5, 0));
        apply(motion(kind, 0, -200.0000001));
        apply(motion(kind, 1, std::nullopt));
        apply(motion(kind, std::nullopt, 1));
        apply(motion(kind, nan, 1));
        apply(motion(kind, 1, -inf));
    }
    EXPECT_TRUE(sink->entries.empty());
}

TEST_F(InputInjectorTest, Drag_WithModifiers_PostsDownDragsUpInOrderWithFlags) {
    apply(modifiersMessage(5));
    apply(message(Kind::buttonDown));
    apply(motion(Kind::move, 10, 0));
    apply(message(Kind::click)); // clicks are ignored while held
    apply(message(Kind::rightClick));
    apply(message(Kind::middleClick));
    apply(motion(Kind::scroll, 0, 1));
    apply(message(Kind::buttonUp));
    const EventFlags flags = EventFlag::shift | EventFlag::command;
    EXPECT_EQ(sink->posted(),
              (std::vector{
                  mouse(MouseEventType::leftMouseDown, here, MouseButton::left, flags),
                  mouse(MouseEventType::leftMouseDragged, Point{110, 100}, MouseButton::left, flags,
                        Point{10, 0}),
                  wheel(-2, 0), // scrolling ignores active modifiers
                  mouse(MouseEventType::leftMouseUp, here, MouseButton::left, flags),
              }));
    EXPECT_FALSE(injector.buttonHeld());
}

TEST_F(InputInjectorTest, ButtonDownTwice_PostsOneDown_AndButtonUpAloneIsIgnored) {
    apply(message(Kind::buttonUp));
    EXPECT_TRUE(sink->entries.empty());
    apply(message(Kind::buttonDown));
    apply(message(Kind::buttonDown));
    EXPECT_EQ(sink->posted().size(), 1u);
    EXPECT_TRUE(injector.buttonHeld());
}

TEST_F(InputInjectorTest, ButtonDown_CreationFails_StillHoldsButton) {
    sink->failing.push_back(MouseEvent{MouseEventType::leftMouseDown, here, MouseButton::left, {}});
    apply(message(Kind::buttonDown));
    EXPECT_TRUE(injector.buttonHeld());
    EXPECT_TRUE(sink->posted().empty());
    apply(motion(Kind::move, 1, 1));
    EXPECT_EQ(sink->posted(), (std::vector{mouse(MouseEventType::leftMouseDragged, Point{101, 101},
                                                 MouseButton::left, 0, Point{1, 1})}));
}

TEST_F(InputInjectorTest, Clicks_PostDownThenUpAtOneLocationWithTheirButtons) {
    apply(message(Kind::click));
    apply(message(Kind::rightClick));
    apply(message(Kind::middleClick));
    EXPECT_EQ(sink->posted(), (std::vector{
                                  mouse(MouseEventType::leftMouseDown, here, MouseButton::left),
                                  mouse(MouseEventType::leftMouseUp, here, MouseButton::left),
                                  mouse(MouseEventType::rightMouseDown, here, MouseButton::right),
                                  mouse(MouseEventType::rightMouseUp, here, MouseButton::right),
                                  mouse(MouseEventType::otherMouseDown, here, MouseButton::center),
                                  mouse(MouseEventType::otherMouseUp, here, MouseButton::center),
                              }));
}

TEST_F(InputInjectorTest, Click_DownCreationFails_UpStillCreatedAndPosted) {
    sink->failing.push_back(MouseEvent{MouseEventType::leftMouseDown, here, MouseButton::left, {}});
    apply(message(Kind::click));
    using Entry = RecordingEventSink::Entry;
    EXPECT_EQ(
        sink->entries,
        (std::vector{
            Entry{Call::create, mouse(MouseEventType::leftMouseDown, here, MouseButton::left),
                  false},
            Entry{Call::create, mouse(MouseEventType::leftMouseUp, here, MouseButton::left), true},
            Entry{Call::post, mouse(MouseEventType::leftMouseUp, here, MouseButton::left), true},
        }));
}

TEST_F(InputInjectorTest, Scroll_RoundsHalvesAwayFromZero_AndPostsZeroWheels) {
    apply(motion(Kind::scroll, -0.75, 1.25));
    apply(motion(Kind::scroll, 0, 0.2));
    apply(motion(Kind::scroll, 200, -200));
    apply(motion(Kind::scroll, 0.25, -0.25));
    EXPECT_EQ(sink->posted(),
              (std::vector{wheel(-3, 2), wheel(0, 0), wheel(400, -400), wheel(1, -1)}));
}

// Every accepted mask is handed to the sink, which holds the modifier keys; nothing is posted.
TEST_F(InputInjectorTest, Modifiers_MapMaskBitsAndIgnoreOutOfRangeMasks) {
    struct Case {
        std::int64_t mask;
        EventFlags flags;
    };
    std::vector<RecordingEventSink::Entry> holds;
    for (const Case c : {Case{1, 0x20000}, Case{2, 0x80000}, Case{4, 0x100000}, Case{5, 0x120000},
                         Case{8, 0x40000}, Case{15, 0x1E0000}}) {
        apply(modifiersMessage(c.mask));
        EXPECT_EQ(injector.activeModifiers(), c.flags) << "mask " << c.mask;
        holds.push_back({Call::hold, SyntheticEvent{{}, c.flags}});
    }
    for (std::int64_t mask :
         {std::int64_t{16}, std::int64_t{-1}, std::numeric_limits<std::int64_t>::min()}) {
        apply(modifiersMessage(mask));
        EXPECT_EQ(injector.activeModifiers(), 0x1E0000u) << "mask " << mask;
    }
    apply(modifiersMessage(std::nullopt));
    EXPECT_EQ(injector.activeModifiers(), 0x1E0000u);
    apply(modifiersMessage(0));
    EXPECT_EQ(injector.activeModifiers(), 0u);
    holds.push_back({Call::hold, SyntheticEvent{{}, 0}});
    EXPECT_EQ(sink->entries, holds);
}

TEST_F(InputInjectorTest, Keys_CarryTheirOwnFlagsNotActiveModifiers) {
    apply(modifiersMessage(4));
    apply(message(Kind::click));
    apply(keyMessage("undo"));
    apply(keyMessage("playPause"));
    EXPECT_EQ(sink->posted(),
              (std::vector{
                  mouse(MouseEventType::leftMouseDown, here, MouseButton::left, 0x100000),
                  mouse(MouseEventType::leftMouseUp, here, MouseButton::left, 0x100000),
                  keyEvent(6, true, 0x100000),
                  keyEvent(6, false, 0x100000),
                  keyEvent(49, true, 0),
                  keyEvent(49, false, 0),
              }));
}

TEST_F(InputInjectorTest, Key_ShortcutTableAndNothingForOtherNames) {
    apply(keyMessage("Undo"));
    apply(keyMessage("undo "));
    apply(keyMessage(""));
    apply(keyMessage(std::nullopt));
    EXPECT_TRUE(sink->entries.empty());
    struct Case {
        const char* name;
        std::uint16_t code;
        EventFlags flags;
    };
    for (const Case c :
         {Case{"playPause", 49, 0}, Case{"stepBack", 123, 0}, Case{"stepForward", 124, 0},
          Case{"undo", 6, 0x100000}, Case{"redo", 6, 0x120000}, Case{"escape", 53, 0}}) {
        sink->clear();
        apply(keyMessage(c.name));
        EXPECT_EQ(sink->posted(),
                  (std::vector{keyEvent(c.code, true, c.flags), keyEvent(c.code, false, c.flags)}))
            << c.name;
    }
}

TEST_F(InputInjectorTest, Key_DownCreationFails_UpStillPosted) {
    sink->failing.push_back(KeyboardEvent{53, true});
    apply(keyMessage("escape"));
    EXPECT_EQ(sink->posted(), (std::vector{keyEvent(53, false, 0)}));
}

TEST_F(InputInjectorTest, Zoom_PressesCommandEqualOrMinusOnlyWithinBound) {
    apply(withValue(Kind::zoom, 2.01));
    apply(withValue(Kind::zoom, -2.01));
    apply(withValue(Kind::zoom, std::numeric_limits<double>::quiet_NaN()));
    apply(withValue(Kind::zoom, -std::numeric_limits<double>::infinity()));
    apply(withValue(Kind::zoom, std::nullopt));
    EXPECT_TRUE(sink->entries.empty());
    apply(withValue(Kind::zoom, 2.0));
    apply(withValue(Kind::zoom, -0.5));
    apply(withValue(Kind::zoom, 0.0));
    apply(withValue(Kind::zoom, -0.0));
    apply(withValue(Kind::zoom, -2.0));
    std::vector<SyntheticEvent> expected;
    for (std::uint16_t code : {24, 27, 24, 24, 27}) {
        expected.push_back(keyEvent(code, true, 0x100000));
        expected.push_back(keyEvent(code, false, 0x100000));
    }
    EXPECT_EQ(sink->posted(), expected);
}

TEST_F(InputInjectorTest, Navigate_OnlyExactlyPlusOrMinusOne) {
    apply(withValue(Kind::navigate, 0.5));
    apply(withValue(Kind::navigate, 2.0));
    apply(withValue(Kind::navigate, std::nullopt));
    apply(withValue(Kind::navigate, std::numeric_limits<double>::quiet_NaN()));
    EXPECT_TRUE(sink->entries.empty());
    apply(withValue(Kind::navigate, 1.0));
    apply(withValue(Kind::navigate, -1.0));
    EXPECT_EQ(sink->posted(),
              (std::vector{keyEvent(124, true, 0x40000), keyEvent(124, false, 0x40000),
                           keyEvent(123, true, 0x40000), keyEvent(123, false, 0x40000)}));
}

TEST_F(InputInjectorTest, HandshakeKinds_PostNothingAndChangeNothing) {
    apply(message(Kind::buttonDown));
    apply(modifiersMessage(1));
    sink->clear();
    for (Kind kind : {Kind::hello, Kind::accepted, Kind::rejected}) {
        TouchMessage m = motion(kind, 1, 1);
        m.modifiers = 0;
        apply(m);
    }
    EXPECT_TRUE(sink->entries.empty());
    EXPECT_TRUE(injector.buttonHeld());
    EXPECT_EQ(injector.activeModifiers(), EventFlag::shift);
}

TEST_F(InputInjectorTest, ReleaseHeldButtonThenClear_UpCarriesFlagsThenSinkLetsGo) {
    injector.releaseHeldButton();
    EXPECT_TRUE(sink->entries.empty());
    apply(modifiersMessage(8));
    apply(message(Kind::buttonDown));
    sink->clear();
    sink->location.reset();
    injector.releaseHeldButton();
    injector.releaseHeldButton();
    injector.clearModifiers();
    const auto up = mouse(MouseEventType::leftMouseUp, Point{0, 0}, MouseButton::left, 0x40000);
    EXPECT_EQ(
        sink->entries,
        (std::vector<RecordingEventSink::Entry>{
            {Call::create, mouse(MouseEventType::leftMouseUp, Point{0, 0}, MouseButton::left)},
            {Call::post, up},
            {Call::hold, SyntheticEvent{{}, 0}},
        }));
    EXPECT_FALSE(injector.buttonHeld());
    EXPECT_EQ(injector.activeModifiers(), 0u);
}

} // namespace
} // namespace corvane
