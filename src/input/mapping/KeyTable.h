#pragma once

#include "input/SyntheticEvent.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace corvane {

// Linux input key codes (the kernel's KEY_* values): key positions, named after what they type
// on a US layout. X servers with evdev keymaps number them the same, plus eight.
using LinuxKeyCode = std::uint16_t;

namespace LinuxKey {
inline constexpr LinuxKeyCode escape = 1;
inline constexpr LinuxKeyCode minus = 12;
inline constexpr LinuxKeyCode equal = 13;
inline constexpr LinuxKeyCode leftCtrl = 29;
inline constexpr LinuxKeyCode leftShift = 42;
inline constexpr LinuxKeyCode z = 44;
inline constexpr LinuxKeyCode leftAlt = 56;
inline constexpr LinuxKeyCode space = 57;
inline constexpr LinuxKeyCode left = 105;
inline constexpr LinuxKeyCode right = 106;
inline constexpr LinuxKeyCode leftMeta = 125;
} // namespace LinuxKey

// X keysyms (X11/keysymdef.h): what a key types, whatever its position.
using Keysym = std::uint32_t;

namespace KeysymOf {
inline constexpr Keysym space = 0x20;
inline constexpr Keysym plus = 0x2b;
inline constexpr Keysym minus = 0x2d;
inline constexpr Keysym equal = 0x3d;
inline constexpr Keysym z = 0x7a;
inline constexpr Keysym escape = 0xff1b;
inline constexpr Keysym left = 0xff51;
inline constexpr Keysym right = 0xff53;
inline constexpr Keysym shiftL = 0xffe1;
inline constexpr Keysym controlL = 0xffe3;
inline constexpr Keysym altL = 0xffe9;
inline constexpr Keysym superL = 0xffeb;
} // namespace KeysymOf

// Modifier keys as Linux desktops know them, one bit each, in the order they are pressed.
using ModifierSet = std::uint8_t;

namespace LinuxModifier {
inline constexpr ModifierSet shift = 1;
inline constexpr ModifierSet alt = 2;
inline constexpr ModifierSet control = 4;
inline constexpr ModifierSet super = 8;
} // namespace LinuxModifier

// The keys a desktop switches workspaces with, by default.
enum class WorkspaceKeys {
    controlAlt,   // Ctrl+Alt+Left/Right: GNOME (since 40), Xfce, Cinnamon, MATE
    controlSuper, // Ctrl+Super+Left/Right: KDE Plasma
};

// What one shortcut key, pressed with its flags, means on a Linux desktop.
struct KeyChord {
    // The key's position on a US layout, for backends that can only press positions.
    LinuxKeyCode key = 0;
    // What it should type, most wanted first (0: no alternative). Backends that know the layout
    // press the first one the layout types without Shift, else the first one it types with it.
    std::array<Keysym, 2> keysyms{};
    // The modifier keys held around it.
    ModifierSet modifiers = 0;
    bool operator==(const KeyChord&) const = default;
};

// The one table of what the phone's keys mean here.
namespace KeyTable {

// The desktop's workspace keys, from $XDG_CURRENT_DESKTOP (a colon-separated list).
WorkspaceKeys workspaceKeysFor(std::string_view currentDesktop);

// The meaning of a virtual key pressed with these flags, or nothing for a key we do not send.
// Flags map one by one (Shift to Shift, Option to Alt, Command to Control, Control to Super),
// except Control+Left/Right, which switches spaces on the original ("navigate") and so presses
// the desktop's workspace keys.
std::optional<KeyChord> chord(std::uint16_t virtualKey, EventFlags flags,
                              WorkspaceKeys workspaceKeys = WorkspaceKeys::controlAlt);

} // namespace KeyTable

} // namespace corvane
