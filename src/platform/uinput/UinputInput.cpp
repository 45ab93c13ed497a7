#include "platform/uinput/UinputInput.h"

#include "platform/inputmap/ModifierKeys.h"
#include "platform/inputmap/MouseEventMeaning.h"
#include "platform/uinput/LibevdevUinputDevice.h"

#include <linux/input-event-codes.h>
#include <unistd.h>

#include <algorithm>
#include <limits>
#include <utility>

namespace corvane {

namespace {

std::uint16_t buttonCode(MouseButton button) {
    switch (button) {
    case MouseButton::right:
        return BTN_RIGHT;
    case MouseButton::center:
        return BTN_MIDDLE;
    case MouseButton::left:
        break;
    }
    return BTN_LEFT;
}

std::int32_t saturated(std::int64_t value) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(
        value, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

} // namespace

std::expected<std::shared_ptr<UinputInput>, Error> UinputInput::open(const std::string& path) {
    auto device = LibevdevUinputDevice::create(path);
    if (!device) {
        return std::unexpected(device.error());
    }
    return std::make_shared<UinputInput>(std::move(*device), path);
}

UinputInput::UinputInput(std::unique_ptr<UinputDevice> device, std::string path)
    : device_(std::move(device)), path_(std::move(path)) {}

bool UinputInput::isTrusted() {
    return ::access(path_.c_str(), W_OK) == 0;
}

void UinputInput::requestTrust() {}

std::optional<Point> UinputInput::pointerLocation() {
    return motion_.location(pixel_);
}

std::optional<SyntheticEvent> UinputInput::createMouseEvent(MouseEventType type, Point location,
                                                            MouseButton button) {
    return SyntheticEvent{MouseEvent{type, location, button}};
}

std::optional<SyntheticEvent> UinputInput::createKeyboardEvent(std::uint16_t keyCode,
                                                               bool keyDown) {
    if (!KeyTable::linuxKey(keyCode)) {
        return std::nullopt;
    }
    return SyntheticEvent{KeyboardEvent{keyCode, keyDown}};
}

std::optional<SyntheticEvent> UinputInput::createScrollWheelEvent(std::int32_t vertical,
                                                                  std::int32_t horizontal) {
    return SyntheticEvent{ScrollWheelEvent{vertical, horizontal}};
}

void UinputInput::post(const SyntheticEvent& event) {
    for (const LinuxKeyCode key : ModifierKeys::pressOrder(event.flags)) {
        writeKey(key, true);
    }
    std::visit([this](const auto& body) { postBody(body); }, event.body);
    for (const LinuxKeyCode key : ModifierKeys::releaseOrder(event.flags)) {
        writeKey(key, false);
    }
}

void UinputInput::postBody(const MouseEvent& event) {
    moveTo(event.location);
    switch (MouseEventMeaning::transition(event.type)) {
    case ButtonTransition::press:
        writeKey(buttonCode(event.button), true);
        break;
    case ButtonTransition::release:
        writeKey(buttonCode(event.button), false);
        break;
    case ButtonTransition::none:
        break;
    }
}

void UinputInput::postBody(const KeyboardEvent& event) {
    if (const auto key = KeyTable::linuxKey(event.keyCode)) {
        writeKey(*key, event.keyDown);
    }
}

void UinputInput::postBody(const ScrollWheelEvent& event) {
    const HiResScroll amounts = scroll_.hiRes(event);
    writeIfNonZero(EV_REL, REL_WHEEL_HI_RES, amounts.hiRes.vertical);
    writeIfNonZero(EV_REL, REL_WHEEL, amounts.notches.vertical);
    writeIfNonZero(EV_REL, REL_HWHEEL_HI_RES, amounts.hiRes.horizontal);
    writeIfNonZero(EV_REL, REL_HWHEEL, amounts.notches.horizontal);
    sync();
}

void UinputInput::moveTo(Point target) {
    const PixelPoint next = motion_.place(target);
    writeIfNonZero(EV_REL, REL_X, saturated(next.x - pixel_.x));
    writeIfNonZero(EV_REL, REL_Y, saturated(next.y - pixel_.y));
    pixel_ = next;
    sync();
}

void UinputInput::writeKey(std::uint16_t code, bool down) {
    write(EV_KEY, code, down ? 1 : 0);
    sync();
}

void UinputInput::write(std::uint16_t type, std::uint16_t code, std::int32_t value) {
    // A refused write has no one to report to: the event is lost, as a dropped one would be.
    device_->write(type, code, value);
    pendingFrame_ = true;
}

void UinputInput::writeIfNonZero(std::uint16_t type, std::uint16_t code, std::int32_t value) {
    if (value != 0) {
        write(type, code, value);
    }
}

void UinputInput::sync() {
    // An empty frame would tell readers nothing.
    if (pendingFrame_) {
        device_->write(EV_SYN, SYN_REPORT, 0);
        pendingFrame_ = false;
    }
}

} // namespace corvane
