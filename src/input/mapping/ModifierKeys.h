#pragma once

#include "input/SyntheticEvent.h"
#include "input/mapping/KeyTable.h"

#include <span>

namespace corvane {

// The modifier keys that stand for the phone's flags: Shift to Shift, Option to Alt, Command to
// Control (the shortcut key of Linux desktops), Control to Super.
namespace ModifierKeys {

struct Modifier {
    ModifierSet bit;
    LinuxKeyCode key;
    Keysym keysym;
};

// The modifiers of these flags; flag bits other than the four are ignored.
ModifierSet of(EventFlags flags);
// Every modifier, in the order they are pressed (released in reverse).
std::span<const Modifier> all();

} // namespace ModifierKeys

} // namespace corvane
