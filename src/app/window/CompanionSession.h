#pragma once

#include "app/WindowModule.h"
#include "app/window/CompanionTray.h"
#include "app/window/CompanionWindow.h"

#include <QEvent>
#include <QObject>
#include <expected>
#include <memory>

namespace corvane {

// The window and its tray icon together. While a tray hosts the icon, closing the window only
// hides it; without one, closing ends the program.
class CompanionSession final : public DesktopWindow {
public:
    CompanionSession(std::shared_ptr<TouchReceiver> receiver,
                     std::shared_ptr<AccessibilityTrust> trust, WindowOptions options);
    ~CompanionSession() override;

    CompanionSession(const CompanionSession&) = delete;
    CompanionSession& operator=(const CompanionSession&) = delete;

    std::expected<void, Error> open();
    void bringForward(const QString& activationToken) override;

    CompanionWindow& window() { return window_; }
    CompanionTray& tray() { return tray_; }

private:
    // Hears the window's close requests, before the window hides.
    class CloseFilter : public QObject {
    public:
        explicit CloseFilter(std::function<void()> closing) : closing_(std::move(closing)) {}
        bool eventFilter(QObject* watched, QEvent* event) override;

    private:
        std::function<void()> closing_;
    };

    void windowClosing();

    WindowOptions options_;
    CompanionWindow window_;
    CompanionTray tray_;
    // Goes before the window does.
    CloseFilter closeFilter_;
};

} // namespace corvane
