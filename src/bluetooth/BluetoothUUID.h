#pragma once

#include <string>
#include <string_view>

namespace corvane {

// A Bluetooth attribute UUID. Stacks spell the same UUID in different letter cases and in the
// 16- or 32-bit short forms, so it is kept in one canonical text and compared by that.
class BluetoothUUID {
public:
    // Upper-case 128-bit text; 4 or 8 hex digits are widened with the Bluetooth base UUID.
    explicit BluetoothUUID(std::string_view text);

    const std::string& text() const { return text_; }

    bool operator==(const BluetoothUUID&) const = default;

private:
    std::string text_;
};

} // namespace corvane
