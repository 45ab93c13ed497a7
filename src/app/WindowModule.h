#pragma once

// The window and the Qt Quick libraries under it live in a module of their own, loaded only when
// the window opens, so that the headless runner never maps them.

#include "input/AccessibilityTrust.h"
#include "receiver/TouchReceiver.h"

#include <QCoreApplication>
#include <memory>

namespace corvane {

struct WindowModule {
    // The GUI application the window needs; create it before anything else uses Qt.
    std::unique_ptr<QCoreApplication> (*createApplication)(int& argc, char** argv);
    // Opens the window and runs the event loop until it closes; returns the loop's exit code.
    int (*run)(std::shared_ptr<TouchReceiver> receiver, std::shared_ptr<AccessibilityTrust> trust);
};

// The one function the module exports; it returns the module's table.
using WindowModuleEntry = const WindowModule* (*)();
inline constexpr const char* windowModuleEntryName = "corvane_window_module";
inline constexpr const char* windowModuleFileName = "corvane-window.so";

} // namespace corvane
