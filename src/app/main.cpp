// The composition root: the one place that picks the platform backends and wires them into a
// TouchReceiver.

#include "app/HeadlessRunner.h"
#include "app/InputBackends.h"
#include "app/LineReader.h"
#include "app/TerminationSignals.h"
#include "app/WindowModuleLoader.h"
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
    auto input = chooseInput(environment("CORVANE_INPUT"), std::cerr);
    if (!input) {
        return std::unexpected(Error("input: " + input.error().description()));
    }
    auto secrets = makeSecretStore();
    if (!secrets) {
        return std::unexpected(Error("pairing storage: " + secrets.error().description()));
    }

    auto mainThread = std::make_shared<QtMainThread>();
    auto random = std::make_shared<SodiumRandom>();
    ReceiverPlatform platform{
        .listeners = std::make_shared<QtListenerFactory>(mainThread, makePublisher()),
        .trust = *input,
        .events = *input,
        .mainThread = mainThread,
        .hostName = std::make_shared<SystemHostName>(),
        .random = random,
        .pairingStorage = {.secrets = *secrets,
                           .defaults = std::make_shared<QSettingsDefaults>(),
                           .random = random},
        .bluetooth = makeBluetooth(),
    };
    return Wiring{TouchReceiver::create(std::move(platform)), *input};
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
