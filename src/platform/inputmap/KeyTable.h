#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace corvane {

// Linux input key codes (the kernel's KEY_* values). X servers with evdev keymaps use the same
// codes shifted by eight, so both backends share them.
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

// The shortcut keys the phone can press, from virtual key code to Linux key.
class KeyTable {
public:
    // The Linux key at the position of this virtual key, or nothing for a key we do not send.
    static std::optional<LinuxKeyCode> linuxKey(std::uint16_t virtualKey);
    // Every Linux key of the table, for backends that must declare their keys up front.
    static std::span<const LinuxKeyCode> linuxKeys();
};

} // namespace corvane
