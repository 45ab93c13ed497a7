#include "platform/inputmap/ModifierKeys.h"

#include <algorithm>
#include <array>
#include <utility>

namespace corvane {

namespace {

constexpr std::array<std::pair<EventFlags, LinuxKeyCode>, 4> modifiers{{
    {EventFlag::shift, LinuxKey::leftShift},
    {EventFlag::option, LinuxKey::leftAlt},
    {EventFlag::command, LinuxKey::leftCtrl},
    {EventFlag::control, LinuxKey::leftMeta},
}};

constexpr std::array<LinuxKeyCode, modifiers.size()> modifierKeys{
    LinuxKey::leftShift, LinuxKey::leftAlt, LinuxKey::leftCtrl, LinuxKey::leftMeta};

} // namespace

std::vector<LinuxKeyCode> ModifierKeys::pressOrder(EventFlags flags) {
    std::vector<LinuxKeyCode> keys;
    for (const auto& [flag, key] : modifiers) {
        if ((flags & flag) != 0) {
            keys.push_back(key);
        }
    }
    return keys;
}

std::vector<LinuxKeyCode> ModifierKeys::releaseOrder(EventFlags flags) {
    auto keys = pressOrder(flags);
    std::ranges::reverse(keys);
    return keys;
}

std::span<const LinuxKeyCode> ModifierKeys::allKeys() {
    return modifierKeys;
}

} // namespace corvane
