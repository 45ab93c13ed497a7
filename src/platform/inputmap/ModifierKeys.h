#pragma once

#include "input/SyntheticEvent.h"
#include "platform/inputmap/KeyTable.h"

#include <span>
#include <vector>

namespace corvane {

// Which Linux modifier keys stand for an event's flags. Backends press them in this order just
// before the event and release them in reverse right after, so every posted event carries exactly
// its own flags and no modifier outlives it.
class ModifierKeys {
public:
    // Shift to Shift, Option to Alt, Command to Control (the Linux shortcut key), Control to Super.
    // Flag bits other than these four are ignored.
    static std::vector<LinuxKeyCode> pressOrder(EventFlags flags);
    // The same keys, last pressed first.
    static std::vector<LinuxKeyCode> releaseOrder(EventFlags flags);
    // Every modifier key a backend may press.
    static std::span<const LinuxKeyCode> allKeys();
};

} // namespace corvane
