// The composition root: the one place that picks the platform backends and wires them into a
// TouchReceiver.

#include "app/HeadlessRunner.h"
#include "app/LineReader.h"
#include "app/NoInput.h"
#include "app/TerminationSignals.h"
#include "app/WindowModuleLoader.h"
#include "platform/qt/QtClock.h"
#include "platform/qt/QtListenerFactory.h"
#include "platform/qt/QtMainThread.h"
#include "platform/qt/SystemHostName.h"
#include "platform/secrets/SecretStoreFactory.h"
#include "platform/system/QSettingsDefaults.h"
#include "platform/system/SecurityLog.h"
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

bool hasArgument(int argc, char** argv, std::string_view wanted) {
    return std::any_of(argv + 1, argv + argc, [wanted](const char* argument) {
        return std::string_view(argument) == wanted;
    });
}

std::string_view environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string_view(value) : std::string_view();
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
        .clock = std::make_shared<QtClock>(),
        .pairingStorage = {.secrets = secrets->store,
                           .defaults = std::make_shared<QSettingsDefaults>(),
                           .random = random},
        .bluetooth = makeBluetooth(),
        .activity = std::make_shared<SecurityLog>(),
        .storageStatus = secrets->notice,
    };
    return Wiring{TouchReceiver::create(std::move(platform)), input->trust};
}

// Leaves the event loop from the loop, after whatever the receiver posted while stopping.
void exitLater(int status) {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [status] { QCoreApplication::exit(status); },
        Qt::QueuedConnection);
}

int runHeadless(const Wiring& wiring) {
    HeadlessRunner runner(wiring.receiver, std::cout, exitLater);
    auto signals_ = TerminationSignals::watch([&runner] { runner.handleTermination(); });
    if (!signals_) {
        std::cerr << "corvane: signals: " << signals_.error().description() << std::endl;
        return 1;
    }
    LineReader commands(
        0, [&runner](std::string_view line) { runner.handleCommand(line, std::cerr); });

    runner.begin();
    return QCoreApplication::exec();
}

int runWithWindow(const Wiring& wiring, const WindowModule& window) {
    auto signals_ = TerminationSignals::watch([receiver = wiring.receiver] {
        receiver->stop();
        exitLater(0);
    });
    if (!signals_) {
        std::cerr << "corvane: signals: " << signals_.error().description() << std::endl;
        return 1;
    }
    return window.run(wiring.receiver, wiring.trust);
}

void nameApplication() {
    QCoreApplication::setApplicationName("corvane");
    QCoreApplication::setApplicationVersion(CORVANE_VERSION);
}

// Without a window module the program runs headless.
int run(const WindowModule* window) {
    auto wiring = wireReceiver();
    if (!wiring) {
        std::cerr << "corvane: " << wiring.error().description() << std::endl;
        return 1;
    }
    return window != nullptr ? runWithWindow(*wiring, *window) : runHeadless(*wiring);
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

    const bool headless = corvane::hasArgument(argc, argv, "--headless");
    if (corvane::hasArgument(argc, argv, "--version")) {
        std::cout << "corvane " << CORVANE_VERSION << std::endl;
        return 0;
    }
    if (headless) {
        QCoreApplication application(argc, argv);
        corvane::nameApplication();
        return corvane::run(nullptr);
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
    return corvane::run(*window);
}
