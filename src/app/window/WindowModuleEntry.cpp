#include "app/WindowModule.h"
#include "app/window/CompanionSession.h"

#include <QGuiApplication>

namespace {

std::unique_ptr<QCoreApplication> createGuiApplication(int& argc, char** argv) {
    return std::make_unique<QGuiApplication>(argc, argv);
}

std::expected<std::unique_ptr<corvane::DesktopWindow>, corvane::Error>
openWindow(std::shared_ptr<corvane::TouchReceiver> receiver,
           std::shared_ptr<corvane::AccessibilityTrust> trust, corvane::WindowOptions options) {
    auto session = std::make_unique<corvane::CompanionSession>(
        std::move(receiver), std::move(trust), std::move(options));
    if (auto opened = session->open(); !opened) {
        return std::unexpected(opened.error());
    }
    return session;
}

} // namespace

extern "C" __attribute__((visibility("default"))) const corvane::WindowModule*
corvane_window_module() {
    static constexpr corvane::WindowModule module{&createGuiApplication, &openWindow};
    return &module;
}
