#include "platform/uinput/UinputInput.h"

#include <linux/input-event-codes.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

namespace corvane {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

struct Written {
    std::uint16_t type;
    std::uint16_t code;
    std::int32_t value;
    bool operator==(const Written&) const = default;
};

void PrintTo(const Written& written, std::ostream* out) {
    *out << "{" << written.type << ", " << written.code << ", " << written.value << "}";
}

class RecordingDevice final : public UinputDevice {
public:
    explicit RecordingDevice(std::shared_ptr<std::vector<Written>> log) : log_(std::move(log)) {}
    bool write(std::uint16_t type, std::uint16_t code, std::int32_t value) override {
        log_->push_back({type, code, value});
        return true;
    }

private:
    std::shared_ptr<std::vector<Written>> log_;
};

constexpr Written syn{EV_SYN, SYN_REPORT, 0};
Written key(std::uint16_t code, std::int32_t value) {
    return {EV_KEY, code, value};
}
Written rel(std::uint16_t code, std::int32_t value) {
    return {EV_REL, code, value};
}

class UinputInputTest : public ::testing::Test {
protected:
    std::shared_ptr<std::vector<Written>> log = std::make_shared<std::vector<Written>>();
    std::unique_ptr<UinputInput> input = std::make_unique<UinputInput>(
        std::make_unique<RecordingDevice>(log), "/nonexistent/uinput");

    void postMouse(MouseEventType type, Point delta, EventFlags flags = 0,
                   MouseButton button = MouseButton::left) {
        // The location is the receiver's guess, which a relative device ignores.
        auto event = input->createMouseEvent(type, {-1, -1}, delta, button);
        ASSERT_TRUE(event);
        event->flags = flags;
        input->post(*event);
    }

    void moveBy(double dx, double dy, EventFlags flags = 0) {
        postMouse(MouseEventType::mouseMoved, {dx, dy}, flags);
    }

    void pressKey(std::uint16_t keyCode, EventFlags flags) {
        for (const bool down : {true, false}) {
            auto event = input->createKeyboardEvent(keyCode, down);
            ASSERT_TRUE(event);
            event->flags = flags;
            input->post(*event);
        }
    }

    void scroll(std::int32_t vertical, std::int32_t horizontal) {
        auto event = input->createScrollWheelEvent(vertical, horizontal);
        ASSERT_TRUE(event);
        input->post(*event);
    }
};

TEST_F(UinputInputTest, Moves_EmitThePhonesDeltasCarryingFractions) {
    EXPECT_EQ(input->pointerLocation(), std::nullopt);
    moveBy(12, -7);
    moveBy(-2, 0);
    moveBy(0.2, 0.2); // within the pixel: nothing yet
    EXPECT_THAT(*log, ElementsAre(rel(REL_X, 12), rel(REL_Y, -7), syn, rel(REL_X, -2), syn));
    log->clear();
    for (int i = 0; i < 10; ++i) {
        moveBy(0.3, 0);
    }
    std::int32_t total = 0;
    for (const Written& written : *log) {
        EXPECT_TRUE(written == syn || (written.type == EV_REL && written.code == REL_X));
        total += written.type == EV_REL ? written.value : 0;
    }
    EXPECT_EQ(total, 3);
}

TEST_F(UinputInputTest, ClicksAndDrags_PressButtonsWhereThePointerIs) {
    postMouse(MouseEventType::rightMouseDown, {}, 0, MouseButton::right);
    postMouse(MouseEventType::rightMouseUp, {}, 0, MouseButton::right);
    postMouse(MouseEventType::leftMouseDown, {});
    postMouse(MouseEventType::leftMouseDragged, {3, 4});
    EXPECT_THAT(*log, ElementsAre(key(BTN_RIGHT, 1), syn, key(BTN_RIGHT, 0), syn, key(BTN_LEFT, 1),
                                  syn, rel(REL_X, 3), rel(REL_Y, 4), syn));
}

// Control held on the phone is Super here: pressed once for a run of events, not around each.
TEST_F(UinputInputTest, Modifiers_HeldAcrossEventsAndReleasedAtMaskZeroOrExit) {
    input->holdModifiers(EventFlag::control);
    moveBy(1, 0, EventFlag::control);
    moveBy(1, 0, EventFlag::control);
    postMouse(MouseEventType::leftMouseDown, {}, EventFlag::control);
    postMouse(MouseEventType::leftMouseUp, {}, EventFlag::control);
    input->holdModifiers(0);
    EXPECT_THAT(*log, ElementsAre(key(KEY_LEFTMETA, 1), syn, rel(REL_X, 1), syn, rel(REL_X, 1), syn,
                                  key(BTN_LEFT, 1), syn, key(BTN_LEFT, 0), syn,
                                  key(KEY_LEFTMETA, 0), syn));
    log->clear();
    input->holdModifiers(EventFlag::shift);
    moveBy(1, 0, EventFlag::shift);
    input.reset();
    EXPECT_THAT(*log, ElementsAre(key(KEY_LEFTSHIFT, 1), syn, rel(REL_X, 1), syn,
                                  key(KEY_LEFTSHIFT, 0), syn));
}

// Keys are positions: redo is Shift+Ctrl+Z at the US Z, navigate Ctrl+Alt+Right on GNOME.
TEST_F(UinputInputTest, Shortcuts_PressTheirChordAndReleaseBackToTheHeldModifiers) {
    input->holdModifiers(EventFlag::shift);
    pressKey(VirtualKey::z, EventFlag::shift | EventFlag::command);
    pressKey(VirtualKey::rightArrow, EventFlag::control);
    EXPECT_THAT(
        *log, ElementsAre(key(KEY_LEFTSHIFT, 1), syn, key(KEY_LEFTCTRL, 1), syn, key(KEY_Z, 1), syn,
                          key(KEY_Z, 0), syn, key(KEY_LEFTCTRL, 0), syn, // back to the held Shift
                          key(KEY_LEFTSHIFT, 0), syn,                    // navigate
                          key(KEY_LEFTALT, 1), syn, key(KEY_LEFTCTRL, 1), syn, key(KEY_RIGHT, 1),
                          syn, key(KEY_RIGHT, 0), syn, key(KEY_LEFTCTRL, 0), syn,
                          key(KEY_LEFTALT, 0), syn, key(KEY_LEFTSHIFT, 1), syn));
    EXPECT_EQ(input->createKeyboardEvent(0, true), std::nullopt);
}

TEST_F(UinputInputTest, Scroll_SendsHiResUnitsAndCrossedNotchesInOneFrame) {
    scroll(ScrollConverter::pixelsPerNotch, ScrollConverter::pixelsPerNotch / 2);
    scroll(0, ScrollConverter::pixelsPerNotch / 2);
    EXPECT_THAT(*log, ElementsAre(rel(REL_WHEEL_HI_RES, 120), rel(REL_WHEEL, 1),
                                  rel(REL_HWHEEL_HI_RES, -60), syn, rel(REL_HWHEEL_HI_RES, -60),
                                  rel(REL_HWHEEL, -1), syn));
}

TEST_F(UinputInputTest, ScrollDownAndRight_UseNegativeWheelAndPositiveHWheel) {
    scroll(-400, -400);
    EXPECT_THAT(*log, ElementsAre(rel(REL_WHEEL_HI_RES, -1200), rel(REL_WHEEL, -10),
                                  rel(REL_HWHEEL_HI_RES, 1200), rel(REL_HWHEEL, 10), syn));
}

TEST_F(UinputInputTest, ZeroScroll_EmitsNothing) {
    scroll(0, 0);
    EXPECT_THAT(*log, IsEmpty());
}

TEST(UinputInputTrust, WritableNode_IsTrustedMissingNodeIsNot) {
    const auto node = std::filesystem::temp_directory_path() / "corvane-uinput-trust-test";
    std::FILE* file = std::fopen(node.c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fclose(file);
    UinputInput present(std::make_unique<RecordingDevice>(std::make_shared<std::vector<Written>>()),
                        node.string());
    EXPECT_TRUE(present.isTrusted());
    std::filesystem::remove(node);
    EXPECT_FALSE(present.isTrusted());
    present.requestTrust(); // nothing to ask for; must not block
}

TEST(UinputInputOpen, MissingNode_FailsWithReadableError) {
    const auto result = UinputInput::open("/nonexistent/uinput");
    ASSERT_FALSE(result);
    EXPECT_THAT(result.error().description(), HasSubstr("/nonexistent/uinput"));
    EXPECT_THAT(result.error().description(), HasSubstr("No such file"));
}

} // namespace
} // namespace corvane
