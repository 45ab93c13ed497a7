#pragma once

#include "input/AccessibilityTrust.h"

namespace corvane {

// The benchmark posts into a sink that goes nowhere, so it needs no desktop's permission.
class AlwaysTrusted final : public AccessibilityTrust {
public:
    bool isTrusted() override { return true; }
    void requestTrust() override {}
};

} // namespace corvane
