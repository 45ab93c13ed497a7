#pragma once

#include <string>
#include <string_view>

namespace corvane {

// Appends `text` as a quoted JSON string, escaped by the JSON rules; bytes at or above 0x80 pass
// through unchanged, so valid UTF-8 stays valid UTF-8.
void appendJsonString(std::string_view text, std::string& out);

} // namespace corvane
