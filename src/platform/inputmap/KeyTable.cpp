#include "platform/inputmap/KeyTable.h"

#include "input/SyntheticEvent.h"

#include <algorithm>
#include <array>
#include <utility>

namespace corvane {

namespace {

constexpr std::array<std::pair<std::uint16_t, LinuxKeyCode>, 7> table{{
    {VirtualKey::z, LinuxKey::z},
    {VirtualKey::equal, LinuxKey::equal},
    {VirtualKey::minus, LinuxKey::minus},
    {VirtualKey::space, LinuxKey::space},
    {VirtualKey::escape, LinuxKey::escape},
    {VirtualKey::leftArrow, LinuxKey::left},
    {VirtualKey::rightArrow, LinuxKey::right},
}};

constexpr std::array<LinuxKeyCode, table.size()> linuxKeysOfTable = [] {
    std::array<LinuxKeyCode, table.size()> keys{};
    std::ranges::transform(table, keys.begin(), [](const auto& entry) { return entry.second; });
    return keys;
}();

} // namespace

std::optional<LinuxKeyCode> KeyTable::linuxKey(std::uint16_t virtualKey) {
    const auto* found = std::ranges::find(table, virtualKey, &decltype(table)::value_type::first);
    if (found == table.end()) {
        return std::nullopt;
    }
    return found->second;
}

std::span<const LinuxKeyCode> KeyTable::linuxKeys() {
    return linuxKeysOfTable;
}

} // namespace corvane
