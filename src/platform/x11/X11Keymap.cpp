#include "platform/x11/X11Keymap.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>

namespace corvane {

namespace {

constexpr int plainLevel = 0;
constexpr int shiftLevel = 1;

} // namespace

X11Keymap::X11Keymap(_XDisplay* display) : display_(display) {
    int opcode = 0;
    int eventBase = 0;
    int errorBase = 0;
    int major = XkbMajorVersion;
    int minor = XkbMinorVersion;
    if (XkbQueryExtension(display_, &opcode, &eventBase, &errorBase, &major, &minor) != True) {
        return;
    }
    xkbEventType_ = eventBase;
    XkbSelectEvents(display_, XkbUseCoreKbd, XkbNewKeyboardNotifyMask | XkbMapNotifyMask,
                    XkbNewKeyboardNotifyMask | XkbMapNotifyMask);
    XkbSelectEventDetails(display_, XkbUseCoreKbd, XkbStateNotify, XkbGroupStateMask,
                          XkbGroupStateMask);
}

std::optional<X11Keymap::Key> X11Keymap::find(std::span<const Keysym> keysyms) {
    readPendingEvents();
    if (stale_) {
        load();
    }
    std::optional<Key> shifted;
    for (const Keysym keysym : keysyms) {
        if (keysym == 0) {
            break;
        }
        const auto found = keys_.find(keysym);
        if (found == keys_.end()) {
            continue;
        }
        if (!found->second.shifted) {
            return found->second;
        }
        if (!shifted) {
            shifted = found->second;
        }
    }
    return shifted;
}

void X11Keymap::readPendingEvents() {
    // A round trip first: a layout switched just before this shortcut has its notice generated
    // already, but it may still be on its way to us. Only the events selected above and
    // MappingNotify reach this connection, and XPending does not wait for more.
    XSync(display_, False);
    while (XPending(display_) > 0) {
        XEvent event;
        XNextEvent(display_, &event);
        if (event.type == MappingNotify) {
            XRefreshKeyboardMapping(&event.xmapping);
            stale_ = true;
        } else if (event.type == xkbEventType_) {
            stale_ = true;
        }
    }
}

void X11Keymap::load() {
    stale_ = false;
    keys_.clear();
    XkbDescPtr keyboard = XkbGetMap(display_, XkbKeyTypesMask | XkbKeySymsMask, XkbUseCoreKbd);
    if (keyboard == nullptr) {
        return;
    }
    XkbStateRec state{};
    XkbGetState(display_, XkbUseCoreKbd, &state);
    // Plain levels first, so that a keysym found on both levels is typed without Shift.
    for (const int level : {plainLevel, shiftLevel}) {
        for (int keycode = keyboard->min_key_code; keycode <= keyboard->max_key_code; ++keycode) {
            const int groups = XkbKeyNumGroups(keyboard, keycode);
            if (groups == 0) {
                continue;
            }
            const int group = state.group < groups ? state.group : 0;
            if (level >= XkbKeyGroupWidth(keyboard, keycode, group)) {
                continue;
            }
            const KeySym keysym = XkbKeySymEntry(keyboard, keycode, level, group);
            if (keysym != NoSymbol) {
                keys_.try_emplace(static_cast<Keysym>(keysym),
                                  Key{static_cast<unsigned int>(keycode), level == shiftLevel});
            }
        }
    }
    XkbFreeKeyboard(keyboard, 0, True);
}

} // namespace corvane
