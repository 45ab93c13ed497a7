#pragma once

#include "input/SyntheticEvent.h"
#include "input/mapping/KeyTable.h"
#include "input/mapping/ModifierState.h"

#include <optional>
#include <variant>

namespace corvane {

// Posts one event the way every backend does: the modifier presses and releases it needs first,
// then the event itself (a key by its chord on this desktop; a key with no chord sends nothing),
// then the modifiers settled again. The backend supplies how to press and release modifiers,
// type a chord, and post a pointer or wheel body.
template<typename Apply, typename TypeChord, typename PostBody>
void postWithModifiers(ModifierState& modifiers, WorkspaceKeys workspaceKeys,
                       const SyntheticEvent& event, Apply&& apply, TypeChord&& typeChord,
                       PostBody&& postBody) {
    const auto* key = std::get_if<KeyboardEvent>(&event.body);
    const auto chord =
        key ? KeyTable::chord(key->keyCode, event.flags, workspaceKeys) : std::nullopt;
    apply(modifiers.before(event, chord));
    if (key && chord) {
        typeChord(*key, *chord);
    } else if (const auto* mouse = std::get_if<MouseEvent>(&event.body)) {
        postBody(*mouse);
    } else if (const auto* wheel = std::get_if<ScrollWheelEvent>(&event.body)) {
        postBody(*wheel);
    }
    apply(modifiers.after(event));
}

} // namespace corvane
