#include "input/mapping/ModifierState.h"

#include <ranges>
#include <variant>

namespace corvane {

ModifierState::Changes ModifierState::hold(EventFlags flags) {
    held_ = ModifierKeys::of(flags);
    return bringTo(pressed_ & held_);
}

ModifierState::Changes ModifierState::bringTo(ModifierSet wanted) {
    Changes changes;
    for (const auto& modifier : std::views::reverse(ModifierKeys::all())) {
        if ((pressed_ & modifier.bit) != 0 && (wanted & modifier.bit) == 0) {
            changes.push_back({modifier, false});
        }
    }
    for (const auto& modifier : ModifierKeys::all()) {
        if ((pressed_ & modifier.bit) == 0 && (wanted & modifier.bit) != 0) {
            changes.push_back({modifier, true});
        }
    }
    pressed_ = wanted;
    return changes;
}

ModifierState::Changes ModifierState::settle() {
    return bringTo(held_);
}

ModifierState::Changes ModifierState::before(const SyntheticEvent& event,
                                             const std::optional<KeyChord>& chord) {
    if (const auto* key = std::get_if<KeyboardEvent>(&event.body)) {
        // A key's release needs nothing new: its modifiers are down since its press.
        return key->keyDown && chord ? bringTo(chord->modifiers) : Changes{};
    }
    return bringTo(ModifierKeys::of(event.flags));
}

ModifierState::Changes ModifierState::after(const SyntheticEvent& event) {
    const auto* key = std::get_if<KeyboardEvent>(&event.body);
    return key && !key->keyDown ? settle() : Changes{};
}

} // namespace corvane
