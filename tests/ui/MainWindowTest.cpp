#include "WindowHarness.h"

#include <QColor>
#include <QGuiApplication>
#include <QPalette>
#include <QRegularExpression>
#include <QTest>
#include <cmath>

namespace corvane::test {
namespace {

const QString instruction = QStringLiteral(
    "Enter this code on your iPhone or iPad. One device can control this Mac at a time.");
const QColor lightAccent = QColor::fromRgbF(0.01f, 0.37f, 0.75f);
const QColor darkAccent = QColor::fromRgbF(0.25f, 0.72f, 1.0f);

QColor dotColour(const WindowHarness& harness) {
    return harness.find("statusDot")->property("color").value<QColor>();
}

bool sameColour(const QColor& a, const QColor& b) {
    return std::abs(a.redF() - b.redF()) < 0.01 && std::abs(a.greenF() - b.greenF()) < 0.01 &&
           std::abs(a.blueF() - b.blueF()) < 0.01;
}

bool isGreen(const QColor& colour) {
    return colour.greenF() > 0.6 && colour.redF() < 0.4 && colour.blueF() < 0.5;
}

// Every text in `shown` is on screen and none in `hidden`.
void expectTexts(const WindowHarness& harness, const QStringList& shown,
                 const QStringList& hidden) {
    const QStringList texts = harness.visibleTexts();
    for (const QString& text : shown) {
        EXPECT_TRUE(texts.contains(text))
            << text.toStdString() << " missing from " << texts.join('|').toStdString();
    }
    for (const QString& text : hidden) {
        EXPECT_FALSE(texts.contains(text)) << text.toStdString();
    }
}

// Launched and after a stop alike: the status, the buttons, no running lines, the accent dot.
void expectStopped(const WindowHarness& harness, const QStringList& alsoHidden = {}) {
    expectTexts(harness, {"Corvane", "Stopped", "Start Receiver", "Forget Paired Devices", "Help"},
                QStringList{"Pairing code", instruction, "Bluetooth stopped", "Stop Receiver",
                            "Request Accessibility"} +
                    alsoHidden);
    EXPECT_TRUE(sameColour(dotColour(harness), lightAccent));
}

TEST(MainWindow, LaunchStartAndStop_ShowsRunningLinesOnlyWhileRunning) {
    WindowHarness harness;
    ASSERT_TRUE(harness.open());
    EXPECT_EQ(harness.window()->title(), "Corvane Companion");
    expectStopped(harness);
    QQuickItem* mark = harness.find("mark");
    EXPECT_TRUE(mark->isVisible());
    EXPECT_EQ(mark->size(), QSizeF(58, 58));

    harness.click("startStopButton");
    harness.readyListener();
    ASSERT_TRUE(harness.receiver.receiver->isRunning());
    const QString code = QString::fromStdString(harness.receiver.receiver->code());
    EXPECT_TRUE(QRegularExpression("^[0-9]{6}$").match(code).hasMatch()) << code.toStdString();
    expectTexts(harness,
                {"Ready for pairing", "Pairing code", code, instruction,
                 QString::fromStdString(harness.receiver.receiver->bluetoothStatus()),
                 "Stop Receiver"},
                {"Start Receiver"});
    EXPECT_TRUE(isGreen(dotColour(harness)));
    EXPECT_TRUE(harness.find("pairingCode")->property("selectByMouse").toBool());

    harness.click("startStopButton");
    EXPECT_FALSE(harness.receiver.receiver->isRunning());
    SCOPED_TRACE("after Stop");
    expectStopped(harness, {code});
}

TEST(MainWindow, Notices_PairingAndPublishingWhileRunning_StorageAlways) {
    const QString storage =
        QStringLiteral("No keyring answered at launch: pairings are kept in files");
    const QString paused = QStringLiteral("Too many wrong codes: pairing by code is paused");
    const QString unseen =
        QStringLiteral("Phones cannot find this computer: avahi-daemon is not running");
    WindowHarness harness(QStringLiteral("1.2"), storage.toStdString());
    ASSERT_TRUE(harness.open());
    expectTexts(harness, {storage}, {paused, unseen});

    harness.click("startStopButton");
    harness.readyListener();
    ReceiverHarness& receiver = harness.receiver;
    for (int i = 0; i < PairingBudget::burst; ++i) {
        auto guesser = receiver.connect();
        receiver.deliver(*guesser, receiver.helloWithCode(receiver.wrongCode()));
        receiver.drop(*guesser);
    }
    receiver.listener()->reportAdvertising(Error("avahi-daemon is not running"));
    receiver.run();
    ASSERT_TRUE(WindowHarness::settle(harness.window()));
    expectTexts(harness, {storage, paused, unseen}, {});

    harness.click("startStopButton");
    expectTexts(harness, {storage}, {paused, unseen});
}

TEST(MainWindow, StartStop_StateChangedBeforeRedraw_ActsOnCurrentState) {
    WindowHarness harness;
    ASSERT_TRUE(harness.open());

    // The receiver starts behind a window that has not redrawn: the button still says Start.
    harness.companion->bridge().blockSignals(true);
    harness.receiver.receiver->start();
    ASSERT_TRUE(harness.visibleTexts().contains("Start Receiver"));
    const auto listenersBefore = harness.receiver.listeners->listeners.size();

    harness.click("startStopButton");

    EXPECT_FALSE(harness.receiver.receiver->isRunning());
    EXPECT_EQ(harness.receiver.listeners->listeners.size(), listenersBefore);
    harness.companion->bridge().blockSignals(false);
}

TEST(MainWindow, RequestAccessibility_ShownOnlyUntilTrusted) {
    WindowHarness harness;
    harness.receiver.trust->trusted = false;
    harness.receiver.receiver->setHasAccessibility(false);
    ASSERT_TRUE(harness.open());
    ASSERT_TRUE(harness.visibleTexts().contains("Request Accessibility"));

    // Declined at the prompt: asked once, button stays.
    harness.receiver.trust->trustedAfterRequest = false;
    harness.click("requestAccessibilityButton");
    EXPECT_EQ(harness.receiver.trust->requests, 1);
    EXPECT_TRUE(harness.visibleTexts().contains("Request Accessibility"));

    // Granted: the button goes at once.
    harness.receiver.trust->trustedAfterRequest = true;
    harness.click("requestAccessibilityButton");
    EXPECT_EQ(harness.receiver.trust->requests, 2);
    EXPECT_TRUE(harness.receiver.receiver->hasAccessibility());
    ASSERT_TRUE(WindowHarness::settle(harness.window()));
    EXPECT_FALSE(harness.visibleTexts().contains("Request Accessibility"));

    // Lost again, as the receiver finds at its next check.
    harness.receiver.receiver->setHasAccessibility(false);
    harness.receiver.run();
    ASSERT_TRUE(WindowHarness::settle(harness.window()));
    EXPECT_TRUE(harness.visibleTexts().contains("Request Accessibility"));
}

TEST(MainWindow, Forget_CancelledOrEscapedCallsNothing_ConfirmedForgetsExactlyOnce) {
    const QString question = QStringLiteral("Forget every paired iPhone and iPad?");
    WindowHarness harness;
    ASSERT_TRUE(harness.open());

    harness.click("forgetButton");
    expectTexts(harness, {question, "Devices will need the Mac's pairing code again."}, {});
    harness.click("forgetCancelButton");
    expectTexts(harness, {}, {question});
    EXPECT_FALSE(harness.window()->property("showingForgetConfirmation").toBool());

    harness.click("forgetButton");
    ASSERT_TRUE(harness.visibleTexts().contains(question));
    QTest::keyClick(harness.window(), Qt::Key_Escape);
    ASSERT_TRUE(WindowHarness::settle(harness.window()));
    expectTexts(harness, {}, {question});
    EXPECT_EQ(harness.receiver.secrets->removeCalls, 0);
    EXPECT_EQ(harness.receiver.receiver->status(), "Stopped");

    harness.click("forgetButton");
    harness.click("forgetConfirmButton");
    EXPECT_EQ(harness.receiver.secrets->removeCalls, 1);
    EXPECT_EQ(harness.receiver.receiver->status(), "Paired devices forgotten");
    expectTexts(harness, {"Paired devices forgotten"}, {question});
    EXPECT_FALSE(harness.window()->property("showingForgetConfirmation").toBool());
}

// Puts a dark desktop palette in place for one test.
class DarkDesktop {
public:
    DarkDesktop() : original_(QGuiApplication::palette()) {
        QPalette dark = original_;
        dark.setColor(QPalette::Window, QColor(0x24, 0x24, 0x26));
        dark.setColor(QPalette::WindowText, Qt::white);
        QGuiApplication::setPalette(dark);
    }
    ~DarkDesktop() { QGuiApplication::setPalette(original_); }
    DarkDesktop(const DarkDesktop&) = delete;
    DarkDesktop& operator=(const DarkDesktop&) = delete;

private:
    QPalette original_;
};

TEST(MainWindow, Appearance_Dark_StoppedDotTakesDarkAccent) {
    DarkDesktop dark;
    WindowHarness harness;
    ASSERT_TRUE(harness.open());
    EXPECT_TRUE(sameColour(dotColour(harness), darkAccent));

    harness.click("startStopButton");
    EXPECT_TRUE(isGreen(dotColour(harness)));
}

TEST(MainWindow, Size_MinimumCoversContentInEveryState_UserSizeSurvivesStateChanges) {
    WindowHarness harness;
    ASSERT_TRUE(harness.open());
    QQuickWindow* window = harness.window();
    EXPECT_GE(window->minimumWidth(), 440);
    EXPECT_GE(window->minimumHeight(), 250);
    const int stoppedHeight = window->minimumHeight();

    harness.click("startStopButton");
    harness.readyListener();
    // Header, card, Bluetooth line, pairing line, instruction and buttons, plus padding.
    qreal needed = 48;
    int shownChildren = 0;
    for (QQuickItem* child : harness.find("statusCard")->parentItem()->childItems()) {
        if (child->isVisible()) {
            needed += child->height();
            ++shownChildren;
        }
    }
    needed += 18 * (shownChildren - 1);
    EXPECT_EQ(shownChildren, 6);
    EXPECT_GE(window->minimumHeight(), needed - 1);
    EXPECT_GT(window->minimumHeight(), stoppedHeight);
    EXPECT_GE(window->height(), window->minimumHeight());
    EXPECT_GE(window->width(), window->minimumWidth());

    window->resize(800, 600);
    ASSERT_TRUE(WindowHarness::settle(window));
    harness.click("startStopButton");
    EXPECT_EQ(window->size(), QSize(800, 600));
    harness.click("startStopButton");
    harness.readyListener();
    EXPECT_EQ(window->size(), QSize(800, 600));
}

} // namespace
} // namespace corvane::test
