// The composition root: the one place that picks the platform backends and wires them into a
// TouchReceiver.

#include "app/ActivityFanOut.h"
#include "app/CommandLine.h"
#include "app/InputBackends.h"
#include "app/Launch.h"
#include "app/SecretBackends.h"
#include "app/TerminationSignals.h"
#include "app/WindowModuleLoader.h"
#include "platform/freedesktop/DesktopNotifications.h"
#include "platform/qt/QtClock.h"
#include "platform/qt/QtListenerFactory.h"
#include "platform/qt/QtMainThread.h"
#include "platform/qt/SystemHostName.h"
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

// Everyone who hears how phones come and go: the security log, and desktop notifications while a
// session bus is there.
std::shared_ptr<ClientActivityLog> makeActivityLog() {
    auto listeners = std::make_shared<ActivityFanOut>();
    listeners->add(std::make_shared<SecurityLog>());
    if (QDBusConnection bus = QDBusConnection::sessionBus(); bus.isConnected()) {
        listeners->add(std::make_shared<DesktopNotifications>(bus));
    }
    return listeners;
}

// The receiver over the backends the environment asks for.
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
        .clock = std::make_shared<QtClock>(),
        .pairingStorage = {.secrets = secrets->store,
                           .defaults = std::make_shared<QSettingsDefaults>(),
                           .random = random},
        .bluetooth = makeBluetooth(),
        .activity = makeActivityLog(),
        .storageStatus = secrets->notice,
    };
    return Wiring{TouchReceiver::create(std::move(platform)), *input};
}

void nameApplication() {
    QCoreApplication::setApplicationName("corvane");
    QCoreApplication::setApplicationVersion(CORVANE_VERSION);
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
        return corvane::launch(*commandLine, nullptr, corvane::wireReceiver);
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
    return corvane::launch(*commandLine, *window, corvane::wireReceiver);
}
