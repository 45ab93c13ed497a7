// The composition root: the one place that picks the platform backends and wires them into a
// TouchReceiver.

#include "app/ActivityFanOut.h"
#include "app/CommandLine.h"
#include "app/HeadlessRunner.h"
#include "app/LineReader.h"
#include "app/NoInput.h"
#include "app/SingleInstance.h"
#include "app/TerminationSignals.h"
#include "app/WindowModuleLoader.h"
#include "platform/freedesktop/DesktopNotifications.h"
#include "platform/qt/QtListenerFactory.h"
#include "platform/qt/QtMainThread.h"
#include "platform/qt/SystemHostName.h"
#include "platform/secrets/SecretStoreFactory.h"
#include "platform/system/QSettingsDefaults.h"
#include "platform/system/SodiumRandom.h"
#include "receiver/TouchReceiver.h"

#ifdef CORVANE_HAVE_AVAHI
#include "platform/avahi/AvahiPublisher.h"
#endif
#ifdef CORVANE_HAVE_BLUEZ
#include "platform/bluez/BluezPeripheralManagerFactory.h"
#endif
#ifdef CORVANE_HAVE_XTEST
#include "platform/x11/XTestInput.h"
#endif
#ifdef CORVANE_HAVE_UINPUT
#include "platform/uinput/UinputInput.h"
#endif

#include <QCoreApplication>
#include <QDBusConnection>
#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <expected>
#include <iostream>
#include <memory>
#include <string>
#include <string_view>

namespace corvane {
namespace {

struct InputBackend {
    std::string name;
    std::shared_ptr<EventSink> events;
    std::shared_ptr<AccessibilityTrust> trust;
};

template<typename Backend>
InputBackend inputBackend(std::string name, const std::shared_ptr<Backend>& backend) {
    return {std::move(name), backend, backend};
}

std::expected<InputBackend, Error> openXTest() {
#ifdef CORVANE_HAVE_XTEST
    auto opened = XTestInput::open(nullptr);
    if (!opened) {
        return std::unexpected(opened.error());
    }
    return inputBackend("XTEST", *opened);
#else
    return std::unexpected(Error("this build has no XTEST support"));
#endif
}

std::expected<InputBackend, Error> openUinput() {
#ifdef CORVANE_HAVE_UINPUT
    auto opened = UinputInput::open();
    if (!opened) {
        return std::unexpected(opened.error());
    }
    return inputBackend("uinput", *opened);
#else
    return std::unexpected(Error("this build has no uinput support"));
#endif
}

InputBackend noInput() {
    return inputBackend("none", std::make_shared<NoInput>());
}

// CORVANE_INPUT: auto (XTEST when an X display with XTEST answers, else uinput when the node
// is writable, else none), xtest, uinput or none. An explicit choice that fails is an error.
std::expected<InputBackend, Error> chooseInput(std::string_view choice) {
    if (choice.empty() || choice == "auto") {
        if (auto xtest = openXTest(); xtest && xtest->trust->isTrusted()) {
            return xtest;
        }
        if (auto uinput = openUinput(); uinput && uinput->trust->isTrusted()) {
            return uinput;
        }
        return noInput();
    }
    if (choice == "xtest") {
        return openXTest();
    }
    if (choice == "uinput") {
        return openUinput();
    }
    if (choice == "none") {
        return noInput();
    }
    return std::unexpected(
        Error("unknown input backend \"" + std::string(choice) + "\" (auto, xtest, uinput, none)"));
}

std::shared_ptr<DnsSdPublisher> makePublisher() {
#ifdef CORVANE_HAVE_AVAHI
    return std::make_shared<AvahiPublisher>();
#else
    return nullptr;
#endif
}

// Without BlueZ support the receiver reports Bluetooth as unavailable and serves TCP alone.
std::shared_ptr<PeripheralManagerFactory> makeBluetooth() {
#ifdef CORVANE_HAVE_BLUEZ
    return std::make_shared<BluezPeripheralManagerFactory>();
#else
    return nullptr;
#endif
}

std::string_view environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string_view(value) : std::string_view();
}

// Everyone who hears how phones come and go: desktop notifications while a session bus is there.
std::shared_ptr<ClientActivityLog> makeActivityLog() {
    auto listeners = std::make_shared<ActivityFanOut>();
    if (QDBusConnection bus = QDBusConnection::sessionBus(); bus.isConnected()) {
        listeners->add(std::make_shared<DesktopNotifications>(bus));
    }
    return listeners;
}

// The receiver over the backends the environment asks for, and the trust check the window's
// "Request Accessibility" button uses.
struct Wiring {
    std::shared_ptr<TouchReceiver> receiver;
    std::shared_ptr<AccessibilityTrust> trust;
};

std::expected<Wiring, Error> wireReceiver() {
    auto input = chooseInput(environment("CORVANE_INPUT"));
    if (!input) {
        return std::unexpected(Error("input: " + input.error().description()));
    }
    auto secrets = makeSecretStore();
    if (!secrets) {
        return std::unexpected(Error("pairing storage: " + secrets.error().description()));
    }
    std::cerr << "corvane: input through " << input->name << std::endl;

    auto mainThread = std::make_shared<QtMainThread>();
    auto random = std::make_shared<SodiumRandom>();
    ReceiverPlatform platform{
        .listeners = std::make_shared<QtListenerFactory>(mainThread, makePublisher()),
        .trust = input->trust,
        .events = input->events,
        .mainThread = mainThread,
        .hostName = std::make_shared<SystemHostName>(),
        .random = random,
        .pairingStorage = {.secrets = *secrets,
                           .defaults = std::make_shared<QSettingsDefaults>(),
                           .random = random},
        .bluetooth = makeBluetooth(),
        .activity = makeActivityLog(),
    };
    return Wiring{TouchReceiver::create(std::move(platform)), input->trust};
}

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

void nameApplication() {
    QCoreApplication::setApplicationName("corvane");
    QCoreApplication::setApplicationVersion(CORVANE_VERSION);
}

// What runs once this process is the session's corvane, until the event loop ends.
struct Running {
    std::unique_ptr<HeadlessMode> headless;
    std::optional<WindowMode> windowed;
};

// Without a window module the program runs headless; a window answers later launches.
std::expected<void, Error> startRunning(Running& running, SingleInstance& instance,
                                        const CommandLine& commandLine,
                                        const WindowModule* module) {
    auto wiring = wireReceiver();
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

// Nothing starts until the session bus has said whether another corvane runs.
int run(const CommandLine& commandLine, const WindowModule* module) {
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
        if (auto started = startRunning(running, instance, commandLine, module); !started) {
            std::cerr << "corvane: " << started.error().description() << std::endl;
            exitLater(1);
        }
    });
    return QCoreApplication::exec();
}

} // namespace
} // namespace corvane

int main(int argc, char** argv) {
    // Qt's own event loop adds less latency to each touch than GLib's; nothing here needs GLib's.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB")) {
        qputenv("QT_NO_GLIB", "1");
    }
    // Before any thread exists, so that every thread inherits the mask and the signals wait in
    // the signalfd.
    corvane::TerminationSignals::blockTerminationSignals();
    // A reader that goes away must not kill the receiver; the failed write is enough.
    std::signal(SIGPIPE, SIG_IGN);

    QStringList arguments;
    for (int index = 0; index < argc; ++index) {
        arguments << QString::fromLocal8Bit(argv[index]);
    }
    const auto commandLine = corvane::parseCommandLine(arguments);
    if (!commandLine) {
        std::cerr << "corvane: " << commandLine.error().description() << std::endl;
        return 2;
    }
    if (commandLine->request == corvane::CommandLine::Request::help) {
        std::cout << corvane::commandLineHelp();
        return 0;
    }
    if (commandLine->request == corvane::CommandLine::Request::version) {
        std::cout << "corvane " << CORVANE_VERSION << std::endl;
        return 0;
    }
    if (commandLine->headless) {
        QCoreApplication application(argc, argv);
        corvane::nameApplication();
        return corvane::run(*commandLine, nullptr);
    }
    // The window brings its GUI application; the headless runner must not ask for a display.
    auto window = corvane::loadWindowModule();
    if (!window) {
        std::cerr << "corvane: the window cannot open: " << window.error().description()
                  << " (corvane --headless runs without it)" << std::endl;
        return 1;
    }
    auto application = (*window)->createApplication(argc, argv);
    corvane::nameApplication();
    return corvane::run(*commandLine, *window);
}
