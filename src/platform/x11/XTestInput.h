#pragma once

#include "common/Error.h"
#include "input/AccessibilityTrust.h"
#include "input/EventSink.h"
#include "input/mapping/FractionalMotion.h"
#include "input/mapping/KeyTable.h"
#include "input/mapping/ModifierState.h"
#include "input/mapping/ScrollConverter.h"
#include "platform/x11/X11Keymap.h"

#include <expected>
#include <map>
#include <memory>

namespace corvane {

// Synthetic input through the XTEST extension of one X display. Xlib stays inside the source
// file: its macros (None, Bool, Status...) clash with the rest of the program.
//
// Xlib ends the process when a display connection breaks. Each object therefore installs a
// per-display exit handler that only marks the connection lost (and a process-wide I/O error
// handler that defers to the per-display one); from then on isTrusted() answers false,
// pointerLocation() and every create call give nothing, and post() does nothing.
//
// Keys are looked up by what they type in the current layout: "undo" presses the key that types
// z on AZERTY too.
class XTestInput final : public EventSink, public AccessibilityTrust {
    struct Connection;

public:
    // Connects to `display` (nullptr: $DISPLAY). A display without XTEST opens but is not trusted.
    static std::expected<std::shared_ptr<XTestInput>, Error>
    open(const char* display, WorkspaceKeys workspaceKeys = WorkspaceKeys::controlAlt);

    XTestInput(std::unique_ptr<Connection> connection, WorkspaceKeys workspaceKeys);
    ~XTestInput() override;
    XTestInput(const XTestInput&) = delete;
    XTestInput& operator=(const XTestInput&) = delete;

    // The display still answers a round trip and offers XTEST.
    bool isTrusted() override;
    // X11 has no per-application permission to ask for: whoever may connect to the display (its
    // authorization cookie) may use XTEST, so there is no prompt to show.
    void requestTrust() override;

    std::optional<Point> pointerLocation() override;
    std::optional<SyntheticEvent> createMouseEvent(MouseEventType type, Point location, Point delta,
                                                   MouseButton button) override;
    std::optional<SyntheticEvent> createKeyboardEvent(std::uint16_t keyCode, bool keyDown) override;
    std::optional<SyntheticEvent> createScrollWheelEvent(std::int32_t vertical,
                                                         std::int32_t horizontal) override;
    void post(const SyntheticEvent& event) override;
    void holdModifiers(EventFlags flags) override;

private:
    bool usable() const;
    std::optional<PixelPoint> realPointer();
    // The key typing the first of `keysyms` the layout has, else the one at `position`.
    std::optional<X11Keymap::Key> keyFor(std::span<const Keysym> keysyms, LinuxKeyCode position);
    void postBody(const MouseEvent& event);
    void postKey(const KeyboardEvent& event, const KeyChord& chord);
    void postBody(const ScrollWheelEvent& event);
    void apply(const ModifierState::Changes& changes);
    void fakeKey(unsigned int keycode, bool down);
    void fakeMotion(PixelPoint pixel);
    void clickButton(unsigned int button, int times);

    std::unique_ptr<Connection> connection_;
    X11Keymap keymap_;
    WorkspaceKeys workspaceKeys_;
    ModifierState modifiers_;
    // What was pressed, so that a layout change in between cannot leave a key down.
    std::map<ModifierSet, unsigned int> modifierKeycodes_;
    std::map<std::uint16_t, unsigned int> keyKeycodes_;
    FractionalMotion motion_;
    ScrollConverter scroll_;
};

} // namespace corvane
