#include "input/mapping/ModifierKeys.h"

#include <array>
#include <utility>

namespace corvane {

namespace {

constexpr std::array<ModifierKeys::Modifier, 4> modifiers{{
    {LinuxModifier::shift, LinuxKey::leftShift, KeysymOf::shiftL},
    {LinuxModifier::alt, LinuxKey::leftAlt, KeysymOf::altL},
    {LinuxModifier::control, LinuxKey::leftCtrl, KeysymOf::controlL},
    {LinuxModifier::super, LinuxKey::leftMeta, KeysymOf::superL},
}};

constexpr std::array<std::pair<EventFlags, ModifierSet>, 4> flagModifiers{{
    {EventFlag::shift, LinuxModifier::shift},
    {EventFlag::option, LinuxModifier::alt},
    {EventFlag::command, LinuxModifier::control},
    {EventFlag::control, LinuxModifier::super},
}};

} // namespace

ModifierSet ModifierKeys::of(EventFlags flags) {
    ModifierSet set = 0;
    for (const auto& [flag, modifier] : flagModifiers) {
        if ((flags & flag) != 0) {
            set |= modifier;
        }
    }
    return set;
}

std::span<const ModifierKeys::Modifier> ModifierKeys::all() {
    return modifiers;
}

} // namespace corvane
