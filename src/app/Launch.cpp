#include "app/Launch.h"

#include "app/HeadlessRunner.h"
#include "app/LineReader.h"
#include "app/SingleInstance.h"
#include "app/TerminationSignals.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <iostream>
#include <optional>

namespace corvane {

namespace {

// Leaves the event loop from the loop, after whatever the receiver posted while stopping.
void exitLater(int status) {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [status] { QCoreApplication::exit(status); },
        Qt::QueuedConnection);
}

// The receiver without a window, until a quit command or a termination signal.
struct HeadlessMode {
    explicit HeadlessMode(const Wiring& wiring)
        : runner(wiring.receiver, std::cout, exitLater),
          commands(0, [this](std::string_view line) { runner.handleCommand(line, std::cerr); }) {}

    HeadlessRunner runner;
    LineReader commands;
    std::unique_ptr<TerminationSignals> termination;
};

std::expected<std::unique_ptr<HeadlessMode>, Error> startHeadless(const Wiring& wiring) {
    auto mode = std::make_unique<HeadlessMode>(wiring);
    auto signals_ =
        TerminationSignals::watch([&runner = mode->runner] { runner.handleTermination(); });
    if (!signals_) {
        return std::unexpected(Error("signals: " + signals_.error().description()));
    }
    mode->termination = std::move(*signals_);
    mode->runner.begin();
    return mode;
}

// The window and its tray icon, until Quit, a termination signal or closing the window
// without a tray.
struct WindowMode {
    std::unique_ptr<TerminationSignals> termination;
    std::unique_ptr<DesktopWindow> window;
};

std::expected<WindowMode, Error> startWindow(const Wiring& wiring, const WindowModule& module,
                                             bool background) {
    auto quit = [receiver = wiring.receiver] {
        receiver->stop();
        exitLater(0);
    };
    auto signals_ = TerminationSignals::watch(quit);
    if (!signals_) {
        return std::unexpected(Error("signals: " + signals_.error().description()));
    }
    auto window = module.open(wiring.receiver, wiring.trust,
                              WindowOptions{.startHidden = background, .quit = quit});
    if (!window) {
        return std::unexpected(window.error());
    }
    if (background) {
        wiring.receiver->start();
    }
    return WindowMode{std::move(*signals_), std::move(*window)};
}

// This session already has its corvane: it opens its window, or a headless one is told no.
void handOver(SingleInstance& instance, bool wantsWindow) {
    if (!wantsWindow) {
        std::cerr << "corvane: corvane is already running in this session" << std::endl;
        exitLater(1);
        return;
    }
    instance.activateRunning([](std::expected<void, Error> shown) {
        if (!shown) {
            std::cerr << "corvane: corvane is already running in this session but did not open "
                         "its window: "
                      << shown.error().description() << std::endl;
        }
        exitLater(shown ? 0 : 1);
    });
}

// What runs once this process is the session's corvane, until the event loop ends.
struct Running {
    std::unique_ptr<HeadlessMode> headless;
    std::optional<WindowMode> windowed;
};

// Without a window module the program runs headless; a window answers later launches.
std::expected<void, Error> startRunning(Running& running, SingleInstance& instance,
                                        const CommandLine& commandLine, const WindowModule* module,
                                        const WireReceiver& wire) {
    auto wiring = wire();
    if (!wiring) {
        return std::unexpected(wiring.error());
    }
    if (module == nullptr) {
        auto mode = startHeadless(*wiring);
        if (!mode) {
            return std::unexpected(mode.error());
        }
        running.headless = std::move(*mode);
        return {};
    }
    auto mode = startWindow(*wiring, *module, commandLine.background);
    if (!mode) {
        return std::unexpected(mode.error());
    }
    running.windowed = std::move(*mode);
    instance.setActivateWindow([&window = *running.windowed->window](const QString& token) {
        window.bringForward(token);
        return true;
    });
    return {};
}

} // namespace

int launch(const CommandLine& commandLine, const WindowModule* module, const WireReceiver& wire) {
    SingleInstance instance(QDBusConnection::sessionBus());
    Running running;
    instance.claim([&](std::expected<bool, Error> first) {
        if (!first) {
            std::cerr << "corvane: cannot tell whether corvane already runs ("
                      << first.error().description() << "); going on alone" << std::endl;
        } else if (!*first) {
            handOver(instance, module != nullptr);
            return;
        }
        if (auto started = startRunning(running, instance, commandLine, module, wire); !started) {
            std::cerr << "corvane: " << started.error().description() << std::endl;
            exitLater(1);
        }
    });
    return QCoreApplication::exec();
}

} // namespace corvane
