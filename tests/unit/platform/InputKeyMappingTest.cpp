#include "input/SyntheticEvent.h"
#include "inputmap/KeyTable.h"
#include "inputmap/ModifierState.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace corvane {
namespace {

constexpr ModifierSet shift = LinuxModifier::shift;
constexpr ModifierSet alt = LinuxModifier::alt;
constexpr ModifierSet control = LinuxModifier::control;
constexpr ModifierSet super = LinuxModifier::super;

TEST(KeyTable, ChordsFollowFlagsExceptNavigateWhichTakesTheDesktopsWorkspaceKeys) {
    struct Case {
        std::uint16_t virtualKey;
        EventFlags flags;
        WorkspaceKeys workspace;
        std::optional<KeyChord> expected;
    };
    const auto gnome = WorkspaceKeys::controlAlt;
    const auto plasma = WorkspaceKeys::controlSuper;
    const Case cases[] = {
        {VirtualKey::z, EventFlag::command, gnome, KeyChord{44, {KeysymOf::z, 0}, control}},
        {VirtualKey::z, EventFlag::shift | EventFlag::command, gnome,
         KeyChord{44, {KeysymOf::z, 0}, shift | control}},
        {VirtualKey::z, EventFlag::option | EventFlag::control, gnome,
         KeyChord{44, {KeysymOf::z, 0}, alt | super}},
        {VirtualKey::equal, EventFlag::command, gnome,
         KeyChord{13, {KeysymOf::equal, KeysymOf::plus}, control}},
        {VirtualKey::minus, EventFlag::command, gnome, KeyChord{12, {KeysymOf::minus, 0}, control}},
        {VirtualKey::leftArrow, 0, gnome, KeyChord{105, {KeysymOf::left, 0}, 0}},
        {VirtualKey::leftArrow, EventFlag::control, gnome,
         KeyChord{105, {KeysymOf::left, 0}, control | alt}},
        {VirtualKey::rightArrow, EventFlag::control, plasma,
         KeyChord{106, {KeysymOf::right, 0}, control | super}},
        {VirtualKey::rightArrow, EventFlag::control | EventFlag::shift, gnome,
         KeyChord{106, {KeysymOf::right, 0}, shift | super}},
        {0, 0, gnome, std::nullopt}, // A on the original
        {0xFFFF, EventFlag::command, gnome, std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(KeyTable::chord(c.virtualKey, c.flags, c.workspace), c.expected)
            << "key " << c.virtualKey << " flags " << c.flags;
    }
}

TEST(KeyTable, WorkspaceKeys_PlasmaOnlyWhenKdeIsAmongTheCurrentDesktops) {
    for (const auto& [desktop, expected] : {std::pair{"KDE", WorkspaceKeys::controlSuper},
                                            std::pair{"ubuntu:KDE", WorkspaceKeys::controlSuper},
                                            std::pair{"GNOME", WorkspaceKeys::controlAlt},
                                            std::pair{"ubuntu:GNOME", WorkspaceKeys::controlAlt},
                                            std::pair{"KDEX:XFCE", WorkspaceKeys::controlAlt},
                                            std::pair{"", WorkspaceKeys::controlAlt}}) {
        EXPECT_EQ(KeyTable::workspaceKeysFor(desktop), expected) << desktop;
    }
}

std::string describe(const ModifierState::Changes& changes) {
    std::string text;
    for (const auto& change : changes) {
        const char* name = change.modifier.bit == shift     ? "shift"
                           : change.modifier.bit == alt     ? "alt"
                           : change.modifier.bit == control ? "control"
                                                            : "super";
        text += std::string(text.empty() ? "" : " ") + (change.press ? "+" : "-") + name;
    }
    return text;
}

SyntheticEvent mouseWith(EventFlags flags) {
    return SyntheticEvent{MouseEvent{MouseEventType::mouseMoved, {}, MouseButton::left, {}}, flags};
}

SyntheticEvent key(bool down, EventFlags flags) {
    return SyntheticEvent{KeyboardEvent{VirtualKey::z, down}, flags};
}

// One phone's session, step by step: the presses and releases each step makes.
TEST(ModifierState, HeldAcrossEventsChangingOnlyTheDifference) {
    const EventFlags command = EventFlag::command;
    const EventFlags all = EventFlag::shift | EventFlag::option | command | EventFlag::control;
    const KeyChord undo{44, {KeysymOf::z, 0}, control};
    struct Step {
        const char* what;
        std::function<ModifierState::Changes(ModifierState&)> act;
        const char* expected;
    };
    const Step steps[] = {
        {"mask Command: nothing yet", [&](auto& s) { return s.hold(command); }, ""},
        {"a move with it", [&](auto& s) { return s.before(mouseWith(command), {}); }, "+control"},
        {"another move", [&](auto& s) { return s.before(mouseWith(command), {}); }, ""},
        {"nothing after a move", [&](auto& s) { return s.after(mouseWith(command)); }, ""},
        {"mask Shift and Command", [&](auto& s) { return s.hold(command | EventFlag::shift); }, ""},
        {"a click with them",
         [&](auto& s) { return s.before(mouseWith(command | EventFlag::shift), {}); }, "+shift"},
        {"mask Shift releases Control at once", [&](auto& s) { return s.hold(EventFlag::shift); },
         "-control"},
        {"undo down", [&](auto& s) { return s.before(key(true, command), undo); },
         "-shift +control"},
        {"undo up needs nothing new", [&](auto& s) { return s.before(key(false, command), undo); },
         ""},
        {"undo up settles to the phone's", [&](auto& s) { return s.after(key(false, command)); },
         "-control +shift"},
        {"a scroll has no flags", [&](auto& s) { return s.before(mouseWith(0), {}); }, "-shift"},
        {"the next move presses again",
         [&](auto& s) { return s.before(mouseWith(EventFlag::shift), {}); }, "+shift"},
        {"mask of all four", [&](auto& s) { return s.hold(all); }, ""},
        {"a move", [&](auto& s) { return s.before(mouseWith(all), {}); }, "+alt +control +super"},
        {"mask Shift releases the rest at once", [&](auto& s) { return s.hold(EventFlag::shift); },
         "-super -control -alt"},
        {"mask 0 releases everything", [&](auto& s) { return s.hold(0); }, "-shift"},
        {"and again nothing", [&](auto& s) { return s.hold(0); }, ""},
    };
    ModifierState state;
    for (const Step& step : steps) {
        EXPECT_EQ(describe(step.act(state)), step.expected) << step.what;
    }
    EXPECT_EQ(state.pressed(), 0);
}

} // namespace
} // namespace corvane
