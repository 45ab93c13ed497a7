#pragma once

#include "input/SyntheticEvent.h"
#include "input/mapping/KeyTable.h"
#include "input/mapping/ModifierKeys.h"

#include <optional>
#include <vector>

namespace corvane {

// Which modifier keys a backend holds down, and the presses and releases that keep them right.
// Keys stay down across events that need the same modifiers; when an event needs others, only
// the difference is released (last pressed first) and then pressed. Tapping them around every
// event instead would make each move with Control set a bare Super tap.
class ModifierState {
public:
    struct Change {
        ModifierKeys::Modifier modifier;
        bool press = false;
    };
    using Changes = std::vector<Change>;

    // The phone now holds the modifiers of `flags`: releases at once what is no longer held.
    // Nothing is pressed until an event needs it.
    Changes hold(EventFlags flags);
    // Before an event that needs exactly `wanted` down.
    Changes bringTo(ModifierSet wanted);
    // After a shortcut key's release: back to what the phone holds, so that the shortcut's own
    // modifiers do not outlive it.
    Changes settle();

    // What a backend does around posting `event` (`chord` is a key event's meaning): first the
    // changes before it, then the event, then the changes after it.
    Changes before(const SyntheticEvent& event, const std::optional<KeyChord>& chord);
    Changes after(const SyntheticEvent& event);

    ModifierSet pressed() const { return pressed_; }

private:
    ModifierSet held_ = 0;
    ModifierSet pressed_ = 0;
};

} // namespace corvane
