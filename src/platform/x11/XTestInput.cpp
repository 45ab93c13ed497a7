#include "platform/x11/XTestInput.h"

#include "input/mapping/MouseEventMeaning.h"
#include "input/mapping/PostWithModifiers.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <limits>
#include <string>

namespace corvane {

namespace {

// Evdev-based keymaps, the default of every current X server, number keys as the kernel does
// plus this offset.
constexpr unsigned int evdevKeycodeOffset = 8;

constexpr unsigned int buttonLeft = 1;
constexpr unsigned int buttonMiddle = 2;
constexpr unsigned int buttonRight = 3;
constexpr unsigned int buttonScrollUp = 4;
constexpr unsigned int buttonScrollDown = 5;
constexpr unsigned int buttonScrollLeft = 6;
constexpr unsigned int buttonScrollRight = 7;

unsigned int buttonNumber(MouseButton button) {
    switch (button) {
    case MouseButton::right:
        return buttonRight;
    case MouseButton::center:
        return buttonMiddle;
    case MouseButton::left:
        break;
    }
    return buttonLeft;
}

// Positions travel as 16-bit values in the protocol; anything wider would wrap around.
int protocolCoordinate(std::int64_t value) {
    return static_cast<int>(std::clamp<std::int64_t>(
        value, std::numeric_limits<std::int16_t>::min(), std::numeric_limits<std::int16_t>::max()));
}

// Xlib reacts to a broken connection in two steps: a process-wide I/O error handler, whose
// default ends the process, then the display's own exit handler, whose default also does. This
// handler only returns, leaving the decision to each display's exit handler: ours marks the
// connection lost, and displays opened by anyone else keep Xlib's default and still exit.
int deferToExitHandler(Display* /*display*/) {
    return 0;
}

} // namespace

struct XTestInput::Connection {
    Display* display = nullptr;
    bool lost = false;
    bool hasXTest = false;
    int screen = 0;
    int minKeycode = 0;
    int maxKeycode = 0;
    int buttonCount = 0;

    Connection() = default;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    ~Connection() {
        if (display != nullptr) {
            XCloseDisplay(display);
        }
    }

    // Called by Xlib after its I/O error handler; returning instead of exiting keeps the process
    // alive, and Xlib then refuses further requests on this display.
    static void onConnectionBroken(Display* /*display*/, void* self) {
        static_cast<Connection*>(self)->lost = true;
    }
};

std::expected<std::shared_ptr<XTestInput>, Error> XTestInput::open(const char* display,
                                                                   WorkspaceKeys workspaceKeys) {
    auto connection = std::make_unique<Connection>();
    connection->display = XOpenDisplay(display);
    if (connection->display == nullptr) {
        const char* name = XDisplayName(display);
        return std::unexpected(
            Error(std::string("Cannot open X display \"") + (name ? name : "") + "\""));
    }
    XSetIOErrorHandler(&deferToExitHandler);
    XSetIOErrorExitHandler(connection->display, &Connection::onConnectionBroken, connection.get());
    int eventBase = 0;
    int errorBase = 0;
    int major = 0;
    int minor = 0;
    connection->hasXTest =
        XTestQueryExtension(connection->display, &eventBase, &errorBase, &major, &minor) == True;
    connection->screen = DefaultScreen(connection->display);
    XDisplayKeycodes(connection->display, &connection->minKeycode, &connection->maxKeycode);
    connection->buttonCount = XGetPointerMapping(connection->display, nullptr, 0);
    if (connection->lost) {
        return std::unexpected(Error("The X display closed the connection"));
    }
    return std::make_shared<XTestInput>(std::move(connection), workspaceKeys);
}

XTestInput::XTestInput(std::unique_ptr<Connection> connection, WorkspaceKeys workspaceKeys)
    : connection_(std::move(connection)), keymap_(connection_->display),
      workspaceKeys_(workspaceKeys) {}

XTestInput::~XTestInput() {
    // The server keeps XTEST keys down after its client leaves.
    holdModifiers(0);
}

bool XTestInput::isTrusted() {
    if (!usable()) {
        return false;
    }
    XSync(connection_->display, False);
    return !connection_->lost;
}

void XTestInput::requestTrust() {}

std::optional<Point> XTestInput::pointerLocation() {
    const auto real = realPointer();
    if (!real) {
        return std::nullopt;
    }
    return motion_.location(*real);
}

std::optional<SyntheticEvent> XTestInput::createMouseEvent(MouseEventType type, Point location,
                                                           Point delta, MouseButton button) {
    if (!usable()) {
        return std::nullopt;
    }
    return SyntheticEvent{MouseEvent{type, location, button, delta}};
}

std::optional<SyntheticEvent> XTestInput::createKeyboardEvent(std::uint16_t keyCode, bool keyDown) {
    const auto chord = KeyTable::chord(keyCode, 0, workspaceKeys_);
    if (!usable() || !chord || !keyFor(chord->keysyms, chord->key)) {
        return std::nullopt;
    }
    return SyntheticEvent{KeyboardEvent{keyCode, keyDown}};
}

std::optional<SyntheticEvent> XTestInput::createScrollWheelEvent(std::int32_t vertical,
                                                                 std::int32_t horizontal) {
    if (!usable()) {
        return std::nullopt;
    }
    return SyntheticEvent{ScrollWheelEvent{vertical, horizontal}};
}

void XTestInput::post(const SyntheticEvent& event) {
    if (!usable()) {
        return;
    }
    postWithModifiers(
        modifiers_, workspaceKeys_, event, [this](const auto& changes) { apply(changes); },
        [this](const KeyboardEvent& key, const KeyChord& chord) { postKey(key, chord); },
        [this](const auto& body) { postBody(body); });
    XFlush(connection_->display);
}

void XTestInput::holdModifiers(EventFlags flags) {
    if (!usable()) {
        return;
    }
    apply(modifiers_.hold(flags));
    XFlush(connection_->display);
}

bool XTestInput::usable() const {
    return connection_->hasXTest && !connection_->lost;
}

std::optional<PixelPoint> XTestInput::realPointer() {
    if (connection_->lost) {
        return std::nullopt;
    }
    Display* display = connection_->display;
    Window root = 0;
    Window child = 0;
    int rootX = 0;
    int rootY = 0;
    int windowX = 0;
    int windowY = 0;
    unsigned int mask = 0;
    // False means the pointer is on another screen, whose coordinates are not ours.
    const Bool onOurScreen = XQueryPointer(display, RootWindow(display, connection_->screen), &root,
                                           &child, &rootX, &rootY, &windowX, &windowY, &mask);
    if (onOurScreen != True || connection_->lost) {
        return std::nullopt;
    }
    return PixelPoint{rootX, rootY};
}

std::optional<X11Keymap::Key> XTestInput::keyFor(std::span<const Keysym> keysyms,
                                                 LinuxKeyCode position) {
    if (const auto key = keymap_.find(keysyms)) {
        return key;
    }
    // A keycode outside the server's range is a protocol error, and Xlib's default error handler
    // ends the process.
    const int keycode = position + static_cast<int>(evdevKeycodeOffset);
    if (keycode < connection_->minKeycode || keycode > connection_->maxKeycode) {
        return std::nullopt;
    }
    return X11Keymap::Key{static_cast<unsigned int>(keycode), false};
}

void XTestInput::postBody(const MouseEvent& event) {
    const PixelPoint pixel = motion_.place(event.location);
    const ButtonTransition transition = MouseEventMeaning::transition(event.type);
    if (transition == ButtonTransition::none || realPointer() != pixel) {
        fakeMotion(pixel);
    }
    if (transition != ButtonTransition::none) {
        XTestFakeButtonEvent(connection_->display, buttonNumber(event.button),
                             transition == ButtonTransition::press ? True : False, CurrentTime);
    }
}

void XTestInput::postKey(const KeyboardEvent& event, const KeyChord& chord) {
    if (!event.keyDown) {
        if (const auto pressed = keyKeycodes_.extract(event.keyCode)) {
            fakeKey(pressed.mapped(), false);
        } else if (const auto key = keyFor(chord.keysyms, chord.key)) {
            fakeKey(key->keycode, false);
        }
        return;
    }
    const auto key = keyFor(chord.keysyms, chord.key);
    if (!key) {
        return;
    }
    // A keysym on the layout's second level needs Shift at the moment of the press only.
    const bool addShift = key->shifted && (modifiers_.pressed() & LinuxModifier::shift) == 0;
    const auto shift =
        addShift ? keyFor(std::array{KeysymOf::shiftL}, LinuxKey::leftShift) : std::nullopt;
    if (shift) {
        fakeKey(shift->keycode, true);
    }
    fakeKey(key->keycode, true);
    keyKeycodes_[event.keyCode] = key->keycode;
    if (shift) {
        fakeKey(shift->keycode, false);
    }
}

void XTestInput::apply(const ModifierState::Changes& changes) {
    for (const auto& change : changes) {
        const ModifierSet bit = change.modifier.bit;
        if (!change.press) {
            if (const auto pressed = modifierKeycodes_.extract(bit)) {
                fakeKey(pressed.mapped(), false);
            }
        } else if (const auto key =
                       keyFor(std::array{change.modifier.keysym}, change.modifier.key)) {
            fakeKey(key->keycode, true);
            modifierKeycodes_[bit] = key->keycode;
        }
    }
}

void XTestInput::postBody(const ScrollWheelEvent& event) {
    const WheelSteps notches = scroll_.notches(event);
    clickButton(notches.vertical > 0 ? buttonScrollUp : buttonScrollDown,
                notches.vertical > 0 ? notches.vertical : -notches.vertical);
    clickButton(notches.horizontal > 0 ? buttonScrollRight : buttonScrollLeft,
                notches.horizontal > 0 ? notches.horizontal : -notches.horizontal);
}

void XTestInput::fakeKey(unsigned int keycode, bool down) {
    XTestFakeKeyEvent(connection_->display, keycode, down ? True : False, CurrentTime);
}

void XTestInput::fakeMotion(PixelPoint pixel) {
    XTestFakeMotionEvent(connection_->display, connection_->screen, protocolCoordinate(pixel.x),
                         protocolCoordinate(pixel.y), CurrentTime);
}

void XTestInput::clickButton(unsigned int button, int times) {
    // A button the pointer does not have is a protocol error (see keycodeOf).
    if (static_cast<int>(button) > connection_->buttonCount) {
        return;
    }
    for (int i = 0; i < times; ++i) {
        XTestFakeButtonEvent(connection_->display, button, True, CurrentTime);
        XTestFakeButtonEvent(connection_->display, button, False, CurrentTime);
    }
}

} // namespace corvane
