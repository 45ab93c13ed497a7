#pragma once

// The window and the Qt Quick libraries under it live in a module of their own, loaded only when
// the window opens, so that the headless runner never maps them.

#include "common/Error.h"
#include "input/AccessibilityTrust.h"
#include "receiver/TouchReceiver.h"

#include <QCoreApplication>
#include <QString>
#include <expected>
#include <functional>
#include <memory>

namespace corvane {

// The open window and its tray icon, until destroyed.
class DesktopWindow {
public:
    virtual ~DesktopWindow() = default;

    // Shows the window, raised and focused. `activationToken` is the launcher's XDG activation
    // token, or empty.
    virtual void bringForward(const QString& activationToken) = 0;
};

struct WindowOptions {
    // The window stays closed until asked for; the tray icon is shown all the same.
    bool startHidden = false;
    // Ends the program: called by Quit, and by closing the window while no tray hosts it.
    std::function<void()> quit;
};

struct WindowModule {
    // The GUI application the window needs; create it before anything else uses Qt.
    std::unique_ptr<QCoreApplication> (*createApplication)(int& argc, char** argv);
    // Opens the window and the tray icon over the receiver; the caller runs the event loop.
    std::expected<std::unique_ptr<DesktopWindow>, Error> (*open)(
        std::shared_ptr<TouchReceiver> receiver, std::shared_ptr<AccessibilityTrust> trust,
        WindowOptions options);
};

// The one function the module exports; it returns the module's table.
using WindowModuleEntry = const WindowModule* (*)();
inline constexpr const char* windowModuleEntryName = "corvane_window_module";
inline constexpr const char* windowModuleFileName = "corvane-window.so";

} // namespace corvane
