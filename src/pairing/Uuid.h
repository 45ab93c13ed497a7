#pragma once

#include <string>
#include <string_view>

namespace corvane {

// Canonical UUID text: 36 characters, hex groups 8-4-4-4-12 joined by hyphens, either case.
bool isCanonicalUuid(std::string_view text);

// A fresh random (version 4) UUID in canonical form with uppercase digits.
std::string newUppercaseUuid();

} // namespace corvane
