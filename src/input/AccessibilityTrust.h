#pragma once

#include <functional>

namespace corvane {

// Whether this process may post synthetic input, as the desktop decides it.
class AccessibilityTrust {
public:
    virtual ~AccessibilityTrust() = default;

    // A synchronous answer that is cheap enough to ask before every input message.
    virtual bool isTrusted() = 0;
    // Asks the desktop to offer the user a way to grant access; never blocks, never waits.
    virtual void requestTrust() = 0;
    // `handler` runs whenever the answer may have changed on its own (a grant or a loss that
    // arrived later); never from inside a call on this object. One handler; a later one replaces
    // it. Backends whose answer only changes when asked need not call it.
    virtual void onTrustChanged(std::function<void()> /*handler*/) {}
};

} // namespace corvane
