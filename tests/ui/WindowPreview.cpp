// Opens the real window over a receiver on fakes, in the state the arguments ask for, so that
// the window can be looked at and photographed without a network, keyring or input device.

#include "app/window/CompanionWindow.h"
#include "fakes/FakeAccessibilityTrust.h"
#include "fakes/FakeHostName.h"
#include "fakes/FakeListener.h"
#include "fakes/FakeMainThread.h"
#include "fakes/FakeSecretStore.h"
#include "fakes/FakeSecureRandom.h"
#include "fakes/FakeUserDefaults.h"
#include "fakes/RecordingEventSink.h"

#include <QCommandLineParser>
#include <QGuiApplication>
#include <QQuickWindow>
#include <QTimer>
#include <cstdio>
#include <memory>

using namespace corvane;
using namespace corvane::test;

int main(int argc, char** argv) {
    QGuiApplication application(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption running(QStringLiteral("running"), "Start the receiver.");
    const QCommandLineOption untrusted(QStringLiteral("untrusted"), "Deny accessibility.");
    const QCommandLineOption help(QStringLiteral("help-sheet"), "Open the help sheet.");
    const QCommandLineOption forget(QStringLiteral("forget-dialog"), "Ask to forget devices.");
    const QCommandLineOption quitAfter(QStringLiteral("quit-after"), "Quit after SECONDS.",
                                       QStringLiteral("SECONDS"), QStringLiteral("60"));
    parser.addOptions({running, untrusted, help, forget, quitAfter});
    parser.process(application);

    auto trust = std::make_shared<FakeAccessibilityTrust>();
    trust->trusted = !parser.isSet(untrusted);
    auto listeners = std::make_shared<FakeListenerFactory>();
    auto mainThread = std::make_shared<FakeMainThread>();
    auto receiver = TouchReceiver::create(ReceiverPlatform{
        .listeners = listeners,
        .trust = trust,
        .events = std::make_shared<RecordingEventSink>(),
        .mainThread = mainThread,
        .hostName = std::make_shared<FakeHostName>(),
        .random = std::make_shared<FakeSecureRandom>(),
        .pairingStorage = PairingStorage{std::make_shared<FakeSecretStore>(),
                                         std::make_shared<FakeUserDefaults>(),
                                         std::make_shared<FakeSecureRandom>()},
    });

    CompanionWindow window(receiver, trust);
    if (auto loaded = window.load(); !loaded) {
        std::fprintf(stderr, "%s\n", loaded.error().description().c_str());
        return 1;
    }
    if (parser.isSet(running)) {
        receiver->start();
        if (auto listener = listeners->last()) {
            listener->reportState(ListenerState::ready);
        }
        mainThread->runAll();
    }
    if (parser.isSet(help)) {
        window.window()->setProperty("showingHelp", true);
    }
    if (parser.isSet(forget)) {
        window.window()->setProperty("showingForgetConfirmation", true);
    }
    // Never outlives the test that started it.
    QTimer::singleShot(parser.value(quitAfter).toInt() * 1000, &application,
                       &QCoreApplication::quit);
    return QGuiApplication::exec();
}
