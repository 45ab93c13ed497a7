#pragma once

#include "common/Error.h"
#include "input/AccessibilityTrust.h"
#include "input/EventSink.h"
#include "platform/inputmap/FractionalMotion.h"
#include "platform/inputmap/ScrollConverter.h"

#include <expected>
#include <memory>

namespace corvane {

// Synthetic input through the XTEST extension of one X display. Xlib stays inside the source
// file: its macros (None, Bool, Status...) clash with the rest of the program.
//
// Xlib ends the process when a display connection breaks. Each object therefore installs a
// per-display exit handler that only marks the connection lost (and a process-wide I/O error
// handler that defers to the per-display one); from then on isTrusted() answers false,
// pointerLocation() and every create call give nothing, and post() does nothing.
class XTestInput final : public EventSink, public AccessibilityTrust {
    struct Connection;

public:
    // Connects to `display` (nullptr: $DISPLAY). A display without XTEST opens but is not trusted.
    static std::expected<std::shared_ptr<XTestInput>, Error> open(const char* display);

    explicit XTestInput(std::unique_ptr<Connection> connection);
    ~XTestInput() override;
    XTestInput(const XTestInput&) = delete;
    XTestInput& operator=(const XTestInput&) = delete;

    // The display still answers a round trip and offers XTEST.
    bool isTrusted() override;
    // X11 has no per-application permission to ask for: whoever may connect to the display (its
    // authorization cookie) may use XTEST, so there is no prompt to show.
    void requestTrust() override;

    std::optional<Point> pointerLocation() override;
    std::optional<SyntheticEvent> createMouseEvent(MouseEventType type, Point location,
                                                   MouseButton button) override;
    std::optional<SyntheticEvent> createKeyboardEvent(std::uint16_t keyCode, bool keyDown) override;
    std::optional<SyntheticEvent> createScrollWheelEvent(std::int32_t vertical,
                                                         std::int32_t horizontal) override;
    void post(const SyntheticEvent& event) override;

private:
    bool usable() const;
    std::optional<PixelPoint> realPointer();
    std::optional<unsigned int> keycodeOf(std::uint16_t linuxKey) const;
    void postBody(const MouseEvent& event);
    void postBody(const KeyboardEvent& event);
    void postBody(const ScrollWheelEvent& event);
    void fakeKey(std::uint16_t linuxKey, bool down);
    void fakeMotion(PixelPoint pixel);
    void clickButton(unsigned int button, int times);

    std::unique_ptr<Connection> connection_;
    FractionalMotion motion_;
    ScrollConverter scroll_;
};

} // namespace corvane
