#pragma once

#include "input/AccessibilityTrust.h"

#include <optional>

namespace corvane::test {

// A trust answer the test flips; counts the requests for the prompt.
class FakeAccessibilityTrust : public AccessibilityTrust {
public:
    bool isTrusted() override {
        ++checks;
        return trusted;
    }
    void requestTrust() override {
        ++requests;
        if (trustedAfterRequest) {
            trusted = *trustedAfterRequest;
        }
    }

    bool trusted = true;
    // When set, a request changes the answer to this, as a user granting at the prompt would.
    std::optional<bool> trustedAfterRequest;
    int checks = 0;
    int requests = 0;
};

} // namespace corvane::test
