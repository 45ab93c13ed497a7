#include "app/WindowModule.h"
#include "app/window/CompanionWindow.h"

#include <QGuiApplication>

namespace {

std::unique_ptr<QCoreApplication> createGuiApplication(int& argc, char** argv) {
    return std::make_unique<QGuiApplication>(argc, argv);
}

} // namespace

extern "C" __attribute__((visibility("default"))) const corvane::WindowModule*
corvane_window_module() {
    static constexpr corvane::WindowModule module{&createGuiApplication, &corvane::runWindow};
    return &module;
}
