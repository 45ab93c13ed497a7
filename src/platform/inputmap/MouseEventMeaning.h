#pragma once

#include "input/SyntheticEvent.h"

namespace corvane {

// What a mouse event does to its button; every mouse event also puts the pointer at its location.
enum class ButtonTransition { none, press, release };

class MouseEventMeaning {
public:
    static ButtonTransition transition(MouseEventType type);
};

} // namespace corvane
