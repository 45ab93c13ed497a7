#pragma once

#include "input/EventSink.h"
#include "input/SyntheticEvent.h"
#include "protocol/TouchMessage.h"

#include <memory>

namespace corvane {

// Turns an admitted phone's input messages into synthetic events. It keeps the two pieces of
// input state that outlive a message: the held left button and the phone's modifier flags.
class InputInjector {
public:
    explicit InputInjector(std::shared_ptr<EventSink> sink);

    // Posts the events of one input message; messages that fail a guard post nothing.
    void applyInput(const TouchMessage& message);
    // Moves (or drags, while the button is held) by a delta that applyInput has checked.
    void movePointer(double dx, double dy);
    // Scrolls by a delta that applyInput has checked.
    void scroll(double dx, double dy);
    // Posts the left-button-up that a held drag still owes ("buttonUp", and the receiver when its
    // client goes); nothing when no button is held.
    void releaseHeldButton();
    // Forgets the phone's modifier flags and has the sink let go of every modifier key.
    void clearModifiers();

    bool buttonHeld() const { return buttonHeld_; }
    EventFlags activeModifiers() const { return activeModifiers_; }

private:
    Point currentLocation();
    void postMouseEvent(MouseEventType type, Point location, MouseButton button, Point delta = {});
    void click(MouseEventType down, MouseEventType up, MouseButton button);
    void pressButton();
    void pressKey(std::uint16_t keyCode, EventFlags flags);
    void postKeyEvent(std::uint16_t keyCode, bool keyDown, EventFlags flags);
    void applyMotion(const TouchMessage& message);
    void applyZoom(const TouchMessage& message);
    void applyNavigate(const TouchMessage& message);
    void applyKey(const TouchMessage& message);
    void applyModifiers(const TouchMessage& message);

    std::shared_ptr<EventSink> sink_;
    bool buttonHeld_ = false;
    EventFlags activeModifiers_ = 0;
};

} // namespace corvane
