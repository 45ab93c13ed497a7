#pragma once

#include "input/SyntheticEvent.h"

namespace corvane {

// What a mouse event does to its button; every mouse event also puts the pointer at its location.
enum class ButtonTransition { none, press, release };

namespace MouseEventMeaning {

ButtonTransition transition(MouseEventType type);

} // namespace MouseEventMeaning

} // namespace corvane
