#pragma once

#include "common/Error.h"
#include "input/AccessibilityTrust.h"
#include "input/EventSink.h"

#include <QObject>
#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

// One opened input backend.
struct InputBackend {
    std::string name;
    std::shared_ptr<EventSink> events;
    std::shared_ptr<AccessibilityTrust> trust;
    // Why it cannot be used now, or nothing while it can (or can once the user is asked).
    std::function<std::optional<std::string>()> problem;
};

// A backend the choice may open, by name.
struct InputCandidate {
    std::string name;
    std::function<std::expected<InputBackend, Error>()> open;
};

// The input backend the receiver uses, chosen among candidates in order of preference and chosen
// again when the one in use turns out unusable: the receiver and the window hold this one object
// for the life of the program, while the backend behind it may change.
//
// It probes the candidates again from the first when trust is requested (Start, Request
// Accessibility) while none is usable, so that a udev rule installed after launch, a portal that
// appeared or a display that came back count without a restart. A candidate that fails later
// (a portal found missing) gives way to the next one. Changes reach the trust handler from the
// event loop, never from inside a call.
class InputChoice final : public EventSink, public AccessibilityTrust {
public:
    // Chooses at once; `log` gets a line for each choice and each candidate passed over.
    InputChoice(std::vector<InputCandidate> candidates, std::ostream& log);
    ~InputChoice() override;
    InputChoice(const InputChoice&) = delete;
    InputChoice& operator=(const InputChoice&) = delete;

    // The candidates CORVANE_INPUT asks for, in order: auto follows the session (the portal, then
    // uinput on Wayland; XTest, then uinput on X11), a name asks for that backend alone.
    static std::expected<std::vector<std::string>, Error> order(std::string_view choice,
                                                                bool waylandSession);
    // A Wayland session: WAYLAND_DISPLAY set, or XDG_SESSION_TYPE "wayland".
    static bool isWaylandSession(std::string_view waylandDisplay, std::string_view sessionType);

    const std::string& currentName() const { return current_.name; }
    // Why the last candidate passed over was, as "name: reason".
    const std::string& lastProblem() const { return lastProblem_; }

    bool isTrusted() override;
    void requestTrust() override;
    void onTrustChanged(std::function<void()> handler) override;

    std::optional<Point> pointerLocation() override;
    std::optional<SyntheticEvent> createMouseEvent(MouseEventType type, Point location, Point delta,
                                                   MouseButton button) override;
    std::optional<SyntheticEvent> createKeyboardEvent(std::uint16_t keyCode, bool keyDown) override;
    std::optional<SyntheticEvent> createScrollWheelEvent(std::int32_t vertical,
                                                         std::int32_t horizontal) override;
    void post(const SyntheticEvent& event) override;
    void holdModifiers(EventFlags flags) override;

private:
    bool usable() const;
    void chooseFrom(std::size_t first);
    void passOver(const std::string& name, const std::string& problem);
    void backendChanged();
    void reportLater();

    std::vector<InputCandidate> candidates_;
    std::ostream& log_;
    std::size_t currentIndex_ = 0;
    InputBackend current_;
    std::string lastProblem_;
    std::function<void()> onTrustChanged_;
    // Context of the deferred reports: none is delivered after this object is gone.
    QObject context_;
};

} // namespace corvane
