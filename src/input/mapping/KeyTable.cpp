#include "input/mapping/KeyTable.h"

#include "input/mapping/ModifierKeys.h"

#include <algorithm>
#include <ranges>

namespace corvane {

namespace {

struct Entry {
    std::uint16_t virtualKey;
    LinuxKeyCode key;
    std::array<Keysym, 2> keysyms;
};

// Zooming in is Ctrl+= on layouts that type = without Shift (US, French) and Ctrl++ where + is
// the unshifted one (German); applications take either.
constexpr std::array<Entry, 7> entries{{
    {VirtualKey::z, LinuxKey::z, {KeysymOf::z, 0}},
    {VirtualKey::equal, LinuxKey::equal, {KeysymOf::equal, KeysymOf::plus}},
    {VirtualKey::minus, LinuxKey::minus, {KeysymOf::minus, 0}},
    {VirtualKey::space, LinuxKey::space, {KeysymOf::space, 0}},
    {VirtualKey::escape, LinuxKey::escape, {KeysymOf::escape, 0}},
    {VirtualKey::leftArrow, LinuxKey::left, {KeysymOf::left, 0}},
    {VirtualKey::rightArrow, LinuxKey::right, {KeysymOf::right, 0}},
}};

bool switchesWorkspace(std::uint16_t virtualKey, EventFlags flags) {
    return flags == EventFlag::control &&
           (virtualKey == VirtualKey::leftArrow || virtualKey == VirtualKey::rightArrow);
}

} // namespace

WorkspaceKeys KeyTable::workspaceKeysFor(std::string_view currentDesktop) {
    for (const auto name : std::views::split(currentDesktop, ':')) {
        if (std::string_view(name.begin(), name.end()) == "KDE") {
            return WorkspaceKeys::controlSuper;
        }
    }
    return WorkspaceKeys::controlAlt;
}

std::optional<KeyChord> KeyTable::chord(std::uint16_t virtualKey, EventFlags flags,
                                        WorkspaceKeys workspaceKeys) {
    const auto* found = std::ranges::find(entries, virtualKey, &Entry::virtualKey);
    if (found == entries.end()) {
        return std::nullopt;
    }
    ModifierSet modifiers = ModifierKeys::of(flags);
    if (switchesWorkspace(virtualKey, flags)) {
        modifiers = workspaceKeys == WorkspaceKeys::controlSuper
                        ? LinuxModifier::control | LinuxModifier::super
                        : LinuxModifier::control | LinuxModifier::alt;
    }
    return KeyChord{found->key, found->keysyms, modifiers};
}

} // namespace corvane
