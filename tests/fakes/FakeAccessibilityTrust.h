#pragma once

#include "input/AccessibilityTrust.h"

#include <functional>
#include <optional>
#include <utility>

namespace corvane::test {

// A trust answer the test flips; counts the requests for the prompt, and reports a change the
// way a desktop that answers later would.
class FakeAccessibilityTrust : public AccessibilityTrust {
public:
    bool isTrusted() override { return trusted; }
    void requestTrust() override {
        ++requests;
        if (trustedAfterRequest) {
            trusted = *trustedAfterRequest;
        }
    }

    void onTrustChanged(std::function<void()> handler) override { changed = std::move(handler); }

    // The desktop's answer arrived: the new value, then the report.
    void report(bool value) {
        trusted = value;
        if (changed) {
            changed();
        }
    }

    bool trusted = true;
    // When set, a request changes the answer to this, as a user granting at the prompt would.
    std::optional<bool> trustedAfterRequest;
    int requests = 0;
    std::function<void()> changed;
};

} // namespace corvane::test
