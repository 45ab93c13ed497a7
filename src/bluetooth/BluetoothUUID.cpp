#include "bluetooth/BluetoothUUID.h"

#include <algorithm>
#include <cctype>

namespace corvane {

namespace {

constexpr std::string_view baseSuffix = "-0000-1000-8000-00805F9B34FB";

bool isHex(std::string_view text) {
    return std::ranges::all_of(text, [](unsigned char c) { return std::isxdigit(c) != 0; });
}

std::string upperCased(std::string_view text) {
    std::string out(text);
    std::ranges::transform(out, out.begin(),
                           [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return out;
}

} // namespace

BluetoothUUID::BluetoothUUID(std::string_view text) : text_(upperCased(text)) {
    if ((text_.size() == 4 || text_.size() == 8) && isHex(text_)) {
        text_.insert(0, 8 - text_.size(), '0');
        text_.append(baseSuffix);
    }
}

} // namespace corvane
