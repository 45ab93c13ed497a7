#pragma once

#include "platform/dbus/PendingCalls.h"
#include "platform/portal/RestoreTokenStore.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QString>
#include <QVariantList>
#include <cstdint>
#include <functional>

namespace corvane {

// One remote-desktop session of the xdg-desktop-portal (org.freedesktop.portal.RemoteDesktop on
// the session bus), from the check that the portal is there to the session's end.
//
// Every call is asynchronous. Requests answer through a Request object's Response signal; we name
// each request with a handle_token and subscribe to its path before calling, so that no answer is
// missed and none is taken for another's.
class RemoteDesktopSession : public QObject {
    Q_OBJECT

public:
    enum class State {
        probing,     // asking the portal for its version and device types
        unavailable, // no portal, or one without keyboard and pointer control
        idle,        // ready to ask the user
        requesting,  // CreateSession, SelectDevices and Start (the consent dialog) under way
        started,     // the user granted a session: Notify calls reach the desktop
    };

    RemoteDesktopSession(QDBusConnection bus, RestoreTokenStore tokens);
    ~RemoteDesktopSession() override;

    // Checks that the portal is there; the state follows.
    void probe();
    // Asks the user for a session (once the probe found the portal). Nothing while one is
    // requested or started, or without a portal.
    void request();

    State state() const { return state_; }
    // Why the portal cannot be used, once unavailable.
    const QString& problem() const { return problem_; }
    // Runs after every change of state.
    void onStateChanged(std::function<void()> handler) { onStateChanged_ = std::move(handler); }

    // Calls a Notify method of the started session with `arguments` after the session handle and
    // the (empty) options. A call that fails ends the session. Nothing when not started.
    void notify(const char* method, const QVariantList& arguments);

private slots:
    void requestAnswered(const QDBusMessage& message);
    void sessionClosed(const QDBusMessage& message);

private:
    using Answer = std::function<void(std::uint32_t response, const QVariantMap& results)>;

    void probed(const QDBusMessage& reply);
    void createSession();
    void selectDevices();
    void startSession();
    void started(std::uint32_t response, const QVariantMap& results);
    // Calls a portal method that answers through a Request; `answer` gets its Response.
    void callRequest(const char* method, QVariantList arguments, QVariantMap options,
                     Answer answer);
    void awaitResponseAt(const QString& path);
    void forgetRequest();
    // Ends the session (closing it on the portal's side when it still exists) and returns to idle.
    void endSession();
    void setState(State state, QString problem = {});
    QString newToken(const char* kind);

    QDBusConnection bus_;
    RestoreTokenStore tokens_;
    PendingCalls calls_;
    State state_ = State::probing;
    QString problem_;
    std::uint32_t version_ = 0;
    bool requestWanted_ = false;
    QString sessionHandle_;
    QString requestPath_;
    Answer answer_;
    // Tells apart the replies of this session's calls from those of an ended one.
    std::uint64_t generation_ = 0;
    std::uint64_t nextToken_ = 0;
    std::function<void()> onStateChanged_;
};

} // namespace corvane
