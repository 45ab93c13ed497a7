#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// The constants that the phone and the desktop must agree on to find and reach each other.
namespace corvane::TouchService {

inline constexpr std::string_view type = "_corvane._tcp";
inline constexpr std::uint16_t port = 55440;
// The most bytes a phone may send without a line feed, over either transport.
inline constexpr std::size_t lineLimit = 16384;
inline constexpr std::string_view bluetoothServiceUUID = "B9F74EE8-3E8B-4A7E-A02D-E09D960DF301";
inline constexpr std::string_view bluetoothCommandUUID = "B9F74EE8-3E8B-4A7E-A02D-E09D960DF302";
inline constexpr std::string_view bluetoothStatusUUID = "B9F74EE8-3E8B-4A7E-A02D-E09D960DF303";

} // namespace corvane::TouchService
