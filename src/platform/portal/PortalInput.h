#pragma once

#include "input/AccessibilityTrust.h"
#include "input/EventSink.h"
#include "input/mapping/KeyTable.h"
#include "input/mapping/ModifierState.h"
#include "input/mapping/ScrollConverter.h"
#include "platform/portal/RemoteDesktopSession.h"

#include <functional>
#include <memory>
#include <string>

namespace corvane {

// Synthetic input through the RemoteDesktop portal, the way Wayland desktops let an application
// control them: the user consents once in the desktop's own dialog.
//
// Trusted means a started session. The request is that dialog; a session the desktop closes, or
// a Notify call it refuses, is trust lost. The pointer moves by the phone's deltas, unscaled and
// without acceleration; keys are sent as keysyms, which the desktop types in the user's layout.
class PortalInput final : public EventSink, public AccessibilityTrust {
public:
    // Starts checking that the portal is there at once.
    explicit PortalInput(QDBusConnection bus, RestoreTokenStore tokens = RestoreTokenStore(),
                         WorkspaceKeys workspaceKeys = WorkspaceKeys::controlAlt);
    ~PortalInput() override;
    PortalInput(const PortalInput&) = delete;
    PortalInput& operator=(const PortalInput&) = delete;

    bool isTrusted() override;
    void requestTrust() override;
    // Also reports the portal found missing (see problem()).
    void onTrustChanged(std::function<void()> handler) override;

    // Why the portal cannot be used, or nothing while it can (or is still being checked).
    std::optional<std::string> problem() const;

    std::optional<Point> pointerLocation() override;
    std::optional<SyntheticEvent> createMouseEvent(MouseEventType type, Point location, Point delta,
                                                   MouseButton button) override;
    std::optional<SyntheticEvent> createKeyboardEvent(std::uint16_t keyCode, bool keyDown) override;
    std::optional<SyntheticEvent> createScrollWheelEvent(std::int32_t vertical,
                                                         std::int32_t horizontal) override;
    void post(const SyntheticEvent& event) override;
    void holdModifiers(EventFlags flags) override;

private:
    void sessionChanged();
    void postBody(const MouseEvent& event);
    void postBody(const ScrollWheelEvent& event);
    void scrollSteps(std::uint32_t axis, std::int32_t steps);
    void apply(const ModifierState::Changes& changes);
    void keysym(Keysym keysym, bool pressed);

    std::unique_ptr<RemoteDesktopSession> session_;
    WorkspaceKeys workspaceKeys_;
    ModifierState modifiers_;
    ScrollConverter scroll_;
    bool wasTrusted_ = false;
    std::function<void()> onTrustChanged_;
};

} // namespace corvane
