#pragma once

namespace corvane {

// Whether this process may post synthetic input, as the desktop decides it.
class AccessibilityTrust {
public:
    virtual ~AccessibilityTrust() = default;

    // A synchronous answer that is cheap enough to ask before every input message.
    virtual bool isTrusted() = 0;
    // Asks the desktop to offer the user a way to grant access; never blocks, never waits.
    virtual void requestTrust() = 0;
};

} // namespace corvane
