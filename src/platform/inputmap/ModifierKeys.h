#pragma once

#include "input/SyntheticEvent.h"
#include "platform/inputmap/KeyTable.h"

#include <span>

namespace corvane {

// The modifier keys that stand for the phone's flags: Shift to Shift, Option to Alt, Command to
// Control (the shortcut key of Linux desktops), Control to Super.
class ModifierKeys {
public:
    struct Modifier {
        ModifierSet bit;
        LinuxKeyCode key;
        Keysym keysym;
    };

    // The modifiers of these flags; flag bits other than the four are ignored.
    static ModifierSet of(EventFlags flags);
    // Every modifier, in the order they are pressed (released in reverse).
    static std::span<const Modifier> all();
};

} // namespace corvane
