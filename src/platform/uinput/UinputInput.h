#pragma once

#include "common/Error.h"
#include "input/AccessibilityTrust.h"
#include "input/EventSink.h"
#include "input/mapping/KeyTable.h"
#include "input/mapping/ModifierState.h"
#include "input/mapping/RelativeMotion.h"
#include "input/mapping/ScrollConverter.h"
#include "platform/uinput/UinputDevice.h"

#include <expected>
#include <memory>
#include <string>

namespace corvane {

// Synthetic input through a kernel uinput device: works under Wayland compositors and on the
// console, wherever the user may write to the uinput node.
//
// A uinput device moves the pointer relatively and cannot read where it is: mouse events move by
// the phone's delta (the compositor applies its pointer acceleration to them), and keys are key
// positions, typed as the user's layout has them.
class UinputInput final : public EventSink, public AccessibilityTrust {
public:
    static std::expected<std::shared_ptr<UinputInput>, Error>
    open(const std::string& path = "/dev/uinput",
         WorkspaceKeys workspaceKeys = WorkspaceKeys::controlAlt);

    // Uses `device` for the events; `path` is the node whose write access isTrusted() checks.
    UinputInput(std::unique_ptr<UinputDevice> device, std::string path,
                WorkspaceKeys workspaceKeys = WorkspaceKeys::controlAlt);
    ~UinputInput() override;
    UinputInput(const UinputInput&) = delete;
    UinputInput& operator=(const UinputInput&) = delete;

    // The uinput node is still writable for this user.
    bool isTrusted() override;
    // Access to /dev/uinput is granted by the system (udev rules, group membership), not asked
    // for at run time, so there is nothing to prompt.
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
    void postBody(const MouseEvent& event);
    void postBody(const ScrollWheelEvent& event);
    void moveBy(Point delta);
    void apply(const ModifierState::Changes& changes);
    void writeKey(std::uint16_t code, bool down);
    void write(std::uint16_t type, std::uint16_t code, std::int32_t value);
    void writeIfNonZero(std::uint16_t type, std::uint16_t code, std::int32_t value);
    void sync();

    std::unique_ptr<UinputDevice> device_;
    std::string path_;
    WorkspaceKeys workspaceKeys_;
    ModifierState modifiers_;
    RelativeMotion motion_;
    ScrollConverter scroll_;
    bool pendingFrame_ = false;
};

} // namespace corvane
