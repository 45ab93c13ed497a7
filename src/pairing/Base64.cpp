#include "pairing/Base64.h"

#include <sodium.h>

namespace corvane {

std::string encodeBase64(std::span<const std::uint8_t> bytes) {
    constexpr int variant = sodium_base64_VARIANT_ORIGINAL;
    std::string text(sodium_base64_ENCODED_LEN(bytes.size(), variant), '\0');
    sodium_bin2base64(text.data(), text.size(), bytes.data(), bytes.size(), variant);
    text.pop_back(); // the terminating NUL that libsodium writes
    return text;
}

std::optional<Bytes> decodeBase64(std::string_view text) {
    Bytes bytes(text.size() / 4 * 3 + 3, '\0');
    std::size_t length = 0;
    // No ignore set and no end pointer: anything left unconsumed makes the call fail.
    const int result =
        sodium_base642bin(reinterpret_cast<unsigned char*>(bytes.data()), bytes.size(), text.data(),
                          text.size(), nullptr, &length, nullptr, sodium_base64_VARIANT_ORIGINAL);
    if (result != 0) {
        return std::nullopt;
    }
    bytes.resize(length);
    return bytes;
}

} // namespace corvane
