#include "platform/uinput/UinputInput.h"

#include "input/mapping/MouseEventMeaning.h"
#include "input/mapping/PostWithModifiers.h"
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

std::expected<std::shared_ptr<UinputInput>, Error> UinputInput::open(const std::string& path,
                                                                     WorkspaceKeys workspaceKeys) {
    auto device = LibevdevUinputDevice::create(path);
    if (!device) {
        return std::unexpected(device.error());
    }
    return std::make_shared<UinputInput>(std::move(*device), path, workspaceKeys);
}

UinputInput::UinputInput(std::unique_ptr<UinputDevice> device, std::string path,
                         WorkspaceKeys workspaceKeys)
    : device_(std::move(device)), path_(std::move(path)), workspaceKeys_(workspaceKeys) {}

UinputInput::~UinputInput() {
    holdModifiers(0);
}

bool UinputInput::isTrusted() {
    return ::access(path_.c_str(), W_OK) == 0;
}

void UinputInput::requestTrust() {}

std::optional<Point> UinputInput::pointerLocation() {
    return std::nullopt;
}

std::optional<SyntheticEvent> UinputInput::createMouseEvent(MouseEventType type, Point location,
                                                            Point delta, MouseButton button) {
    return SyntheticEvent{MouseEvent{type, location, button, delta}};
}

std::optional<SyntheticEvent> UinputInput::createKeyboardEvent(std::uint16_t keyCode,
                                                               bool keyDown) {
    if (!KeyTable::chord(keyCode, 0, workspaceKeys_)) {
        return std::nullopt;
    }
    return SyntheticEvent{KeyboardEvent{keyCode, keyDown}};
}

std::optional<SyntheticEvent> UinputInput::createScrollWheelEvent(std::int32_t vertical,
                                                                  std::int32_t horizontal) {
    return SyntheticEvent{ScrollWheelEvent{vertical, horizontal}};
}

void UinputInput::post(const SyntheticEvent& event) {
    postWithModifiers(
        modifiers_, workspaceKeys_, event, [this](const auto& changes) { apply(changes); },
        [this](const KeyboardEvent& key, const KeyChord& chord) {
            writeKey(chord.key, key.keyDown);
        },
        [this](const auto& body) { postBody(body); });
}

void UinputInput::holdModifiers(EventFlags flags) {
    apply(modifiers_.hold(flags));
}

void UinputInput::postBody(const MouseEvent& event) {
    moveBy(event.delta);
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

void UinputInput::postBody(const ScrollWheelEvent& event) {
    const HiResScroll amounts = scroll_.hiRes(event);
    writeIfNonZero(EV_REL, REL_WHEEL_HI_RES, amounts.hiRes.vertical);
    writeIfNonZero(EV_REL, REL_WHEEL, amounts.notches.vertical);
    writeIfNonZero(EV_REL, REL_HWHEEL_HI_RES, amounts.hiRes.horizontal);
    writeIfNonZero(EV_REL, REL_HWHEEL, amounts.notches.horizontal);
    sync();
}

void UinputInput::moveBy(Point delta) {
    const PixelPoint step = motion_.step(delta);
    writeIfNonZero(EV_REL, REL_X, saturated(step.x));
    writeIfNonZero(EV_REL, REL_Y, saturated(step.y));
    sync();
}

void UinputInput::apply(const ModifierState::Changes& changes) {
    for (const auto& change : changes) {
        writeKey(change.modifier.key, change.press);
    }
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
