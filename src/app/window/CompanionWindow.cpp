#include "app/window/CompanionWindow.h"

#include "app/window/RoundedImage.h"

#include <QGuiApplication>
#include <QIcon>
#include <QQmlApplicationEngine>
#include <QQmlError>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QStringList>
#include <utility>

#ifndef CORVANE_VERSION
#define CORVANE_VERSION ""
#endif

namespace corvane {

namespace {

constexpr const char* moduleUri = "Corvane.Window";

void registerTypes() {
    qmlRegisterUncreatableType<ReceiverBridge>(moduleUri, 1, 0, "ReceiverBridge",
                                               QStringLiteral("provided by the program"));
    qmlRegisterType<RoundedImage>(moduleUri, 1, 0, "RoundedImage");
}

} // namespace

CompanionWindow::CompanionWindow(std::shared_ptr<TouchReceiver> receiver,
                                 std::shared_ptr<AccessibilityTrust> trust, QString version)
    : bridge_(std::move(receiver), std::move(trust)), version_(std::move(version)) {}

CompanionWindow::~CompanionWindow() = default;

std::expected<void, Error> CompanionWindow::load(bool visible) {
    // Fusion follows the desktop palette, which is also where the window learns dark from light.
    if (qEnvironmentVariableIsEmpty("QT_QUICK_CONTROLS_STYLE") && QQuickStyle::name().isEmpty()) {
        QQuickStyle::setStyle(QStringLiteral("Fusion"));
    }
    registerTypes();

    engine_ = std::make_unique<QQmlApplicationEngine>();
    QStringList problems;
    QObject::connect(engine_.get(), &QQmlEngine::warnings, engine_.get(),
                     [&problems](const QList<QQmlError>& warnings) {
                         for (const QQmlError& warning : warnings) {
                             problems << warning.toString();
                         }
                     });
    engine_->setInitialProperties({
        {QStringLiteral("bridge"), QVariant::fromValue(&bridge_)},
        {QStringLiteral("version"), version_},
        {QStringLiteral("visible"), visible},
    });
    engine_->load(QUrl(QStringLiteral("qrc:/corvane/Main.qml")));
    // Later warnings go to the log as usual.
    QObject::disconnect(engine_.get(), &QQmlEngine::warnings, engine_.get(), nullptr);

    if (window() == nullptr) {
        QString description = QStringLiteral("Could not create the window");
        if (!problems.isEmpty()) {
            description += QStringLiteral(": ") + problems.join(QStringLiteral("; "));
        }
        engine_.reset();
        return std::unexpected(Error(description.toStdString()));
    }
    window()->setIcon(QIcon(QStringLiteral(":/corvane/Mark.png")));
    return {};
}

QQuickWindow* CompanionWindow::window() const {
    if (!engine_ || engine_->rootObjects().isEmpty()) {
        return nullptr;
    }
    return qobject_cast<QQuickWindow*>(engine_->rootObjects().constFirst());
}

QString CompanionWindow::buildVersion() {
    return QStringLiteral(CORVANE_VERSION);
}

} // namespace corvane
