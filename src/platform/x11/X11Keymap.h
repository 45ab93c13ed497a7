#pragma once

#include "input/mapping/KeyTable.h"

#include <optional>
#include <span>
#include <unordered_map>

struct _XDisplay;

namespace corvane {

// Where keysyms sit in the X server's current keyboard layout (its active group), so that a
// shortcut types the same letter on AZERTY or QWERTZ as on QWERTY. The table is read again when
// the server reports a new keymap or a switch of group.
class X11Keymap {
public:
    struct Key {
        unsigned int keycode = 0;
        // Reached only with Shift held (the layout's second level).
        bool shifted = false;
        bool operator==(const Key&) const = default;
    };

    // Asks `display` (which must outlive this) for notice of layout changes.
    explicit X11Keymap(_XDisplay* display);

    // The first of `keysyms` (0 ends the list) that the layout types without Shift, else the
    // first that it types with it, or nothing. Reads the layout again first if it changed.
    std::optional<Key> find(std::span<const Keysym> keysyms);

private:
    void readPendingEvents();
    void load();

    _XDisplay* display_;
    int xkbEventType_ = -1;
    bool stale_ = true;
    std::unordered_map<Keysym, Key> keys_;
};

} // namespace corvane
