#pragma once

#include "app/window/ReceiverBridge.h"
#include "common/Error.h"
#include "input/AccessibilityTrust.h"
#include "receiver/TouchReceiver.h"

#include <QString>
#include <expected>
#include <memory>

class QQmlApplicationEngine;
class QQuickWindow;

namespace corvane {

// The main window over one receiver: the bridge, the QML engine and the window it creates.
// Needs a QGuiApplication; destroy it before the application.
class CompanionWindow {
public:
    // `version` is shown in the help sheet; an empty one reads "Beta".
    CompanionWindow(std::shared_ptr<TouchReceiver> receiver,
                    std::shared_ptr<AccessibilityTrust> trust, QString version = buildVersion());
    ~CompanionWindow();

    CompanionWindow(const CompanionWindow&) = delete;
    CompanionWindow& operator=(const CompanionWindow&) = delete;

    // Creates the window, shown or not.
    std::expected<void, Error> load(bool visible = true);

    // Null until load() succeeded.
    QQuickWindow* window() const;
    ReceiverBridge& bridge() { return bridge_; }

    // The project version this program was built as.
    static QString buildVersion();

private:
    ReceiverBridge bridge_;
    QString version_;
    // Declared after the bridge so that the QML objects binding to it go first.
    std::unique_ptr<QQmlApplicationEngine> engine_;
};

} // namespace corvane
