#include "app/window/CompanionSession.h"

#include <QDBusConnection>
#include <QGuiApplication>
#include <QIcon>
#include <QQuickWindow>
#include <cstdio>

namespace corvane {

CompanionSession::CompanionSession(std::shared_ptr<TouchReceiver> receiver,
                                   std::shared_ptr<AccessibilityTrust> trust, WindowOptions options)
    : options_(std::move(options)), window_(receiver, std::move(trust)),
      tray_(QDBusConnection::sessionBus(), receiver, AutostartEntry::forThisProgram(),
            {.showWindow = [this] { bringForward({}); },
             .toggleReceiver = [this] { window_.bridge().toggleRunning(); },
             .quit = [this] { options_.quit(); }}),
      closeFilter_([this] { windowClosing(); }) {}

CompanionSession::~CompanionSession() = default;

std::expected<void, Error> CompanionSession::open() {
    // Closing the window decides for itself whether the program ends.
    QGuiApplication::setQuitOnLastWindowClosed(false);
    // Lets the desktop match the window to the installed launcher and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("dev.corvane.Corvane"));
    QGuiApplication::setWindowIcon(QIcon(QStringLiteral(":/corvane/Mark.png")));
    if (auto loaded = window_.load(!options_.startHidden); !loaded) {
        return loaded;
    }
    window_.window()->installEventFilter(&closeFilter_);
    // Without a session bus there is no tray, and the window works as before.
    if (auto published = tray_.publish(); !published) {
        std::fprintf(stderr, "corvane: no tray icon: %s\n",
                     published.error().description().c_str());
    }
    return {};
}

void CompanionSession::windowClosing() {
    if (!tray_.hostPresent()) {
        options_.quit();
    }
}

bool CompanionSession::CloseFilter::eventFilter(QObject*, QEvent* event) {
    if (event->type() == QEvent::Close) {
        closing_();
    }
    return false;
}

void CompanionSession::bringForward(const QString& activationToken) {
    QQuickWindow* window = window_.window();
    // Wayland compositors raise a window for a launcher's activation token, which Qt takes from
    // the environment.
    if (!activationToken.isEmpty()) {
        qputenv("XDG_ACTIVATION_TOKEN", activationToken.toUtf8());
    }
    if (window->windowStates() & Qt::WindowMinimized) {
        window->showNormal();
    } else {
        window->show();
    }
    window->raise();
    window->requestActivate();
}

} // namespace corvane
