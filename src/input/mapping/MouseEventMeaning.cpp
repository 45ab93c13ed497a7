#include "input/mapping/MouseEventMeaning.h"

namespace corvane {

ButtonTransition MouseEventMeaning::transition(MouseEventType type) {
    switch (type) {
    case MouseEventType::leftMouseDown:
    case MouseEventType::rightMouseDown:
    case MouseEventType::otherMouseDown:
        return ButtonTransition::press;
    case MouseEventType::leftMouseUp:
    case MouseEventType::rightMouseUp:
    case MouseEventType::otherMouseUp:
        return ButtonTransition::release;
    case MouseEventType::mouseMoved:
    case MouseEventType::leftMouseDragged:
        break;
    }
    return ButtonTransition::none;
}

} // namespace corvane
