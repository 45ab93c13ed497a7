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

TEST(MainWindow, Launch_Stopped_ShowsStatusAndNoRunningLines) {
    WindowHarness harness;
    ASSERT_TRUE(harness.open());

    EXPECT_EQ(harness.window()->title(), "Corvane Companion");
    const QStringList texts = harness.visibleTexts();
    for (const char* shown :
         {"Corvane", "Stopped", "Start Receiver", "Forget Paired Devices", "Help"}) {
        EXPECT_TRUE(texts.contains(shown))
            << shown << " missing from " << texts.join('|').toStdString();
    }
    for (const QString& absent :
         {QStringLiteral("Pairing code"), instruction, QStringLiteral("Bluetooth stopped"),
          QStringLiteral("Stop Receiver"), QStringLiteral("Request Accessibility")}) {
        EXPECT_FALSE(texts.contains(absent)) << absent.toStdString();
    }
    EXPECT_TRUE(sameColour(dotColour(harness), lightAccent));

    QQuickItem* mark = harness.find("mark");
    EXPECT_TRUE(mark->isVisible());
    EXPECT_EQ(mark->size(), QSizeF(58, 58));
}

TEST(MainWindow, StartAndStop_TogglesRunningLines) {
    WindowHarness harness;
    ASSERT_TRUE(harness.open());

    harness.click("startStopButton");
    harness.readyListener();
    ASSERT_TRUE(harness.receiver.receiver->isRunning());

    QStringList texts = harness.visibleTexts();
    const QString code = QString::fromStdString(harness.receiver.receiver->code());
    EXPECT_TRUE(QRegularExpression("^[0-9]{6}$").match(code).hasMatch()) << code.toStdString();
    for (const QString& shown :
         {QStringLiteral("Ready for pairing"), QStringLiteral("Pairing code"), code, instruction,
          QString::fromStdString(harness.receiver.receiver->bluetoothStatus()),
          QStringLiteral("Stop Receiver")}) {
        EXPECT_TRUE(texts.contains(shown))
            << shown.toStdString() << " missing from " << texts.join('|').toStdString();
    }
    EXPECT_FALSE(texts.contains("Start Receiver"));
    EXPECT_TRUE(isGreen(dotColour(harness)));
    EXPECT_TRUE(harness.find("pairingCode")->property("selectByMouse").toBool());

    harness.click("startStopButton");
    EXPECT_FALSE(harness.receiver.receiver->isRunning());
    texts = harness.visibleTexts();
    EXPECT_TRUE(texts.contains("Start Receiver"));
    EXPECT_TRUE(texts.contains("Stopped"));
    EXPECT_FALSE(texts.contains("Pairing code"));
    EXPECT_FALSE(texts.contains(instruction));
    EXPECT_FALSE(texts.contains(code));
    EXPECT_FALSE(texts.contains("Bluetooth stopped"));
    EXPECT_TRUE(sameColour(dotColour(harness), lightAccent));
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
    ASSERT_TRUE(WindowHarness::settle(harness.window()));
    EXPECT_TRUE(harness.visibleTexts().contains("Request Accessibility"));
}

TEST(MainWindow, Forget_Confirmed_ForgetsExactlyOnce) {
    WindowHarness harness;
    ASSERT_TRUE(harness.open());

    harness.click("forgetButton");
    QStringList texts = harness.visibleTexts();
    EXPECT_TRUE(texts.contains("Forget every paired iPhone and iPad?"));
    EXPECT_TRUE(texts.contains("Devices will need the Mac's pairing code again."));
    EXPECT_EQ(harness.receiver.secrets->removeCalls, 0) << "nothing is forgotten before confirming";

    harness.click("forgetConfirmButton");
    EXPECT_EQ(harness.receiver.secrets->removeCalls, 1);
    EXPECT_EQ(harness.receiver.receiver->status(), "Paired devices forgotten");
    texts = harness.visibleTexts();
    EXPECT_FALSE(texts.contains("Forget every paired iPhone and iPad?"));
    EXPECT_TRUE(texts.contains("Paired devices forgotten"));
    EXPECT_FALSE(harness.window()->property("showingForgetConfirmation").toBool());
}

TEST(MainWindow, Forget_CancelledOrEscaped_CallsNothing) {
    WindowHarness harness;
    ASSERT_TRUE(harness.open());

    harness.click("forgetButton");
    harness.click("forgetCancelButton");
    EXPECT_FALSE(harness.visibleTexts().contains("Forget every paired iPhone and iPad?"));
    EXPECT_FALSE(harness.window()->property("showingForgetConfirmation").toBool());

    harness.click("forgetButton");
    ASSERT_TRUE(harness.visibleTexts().contains("Forget every paired iPhone and iPad?"));
    QTest::keyClick(harness.window(), Qt::Key_Escape);
    ASSERT_TRUE(WindowHarness::settle(harness.window()));
    EXPECT_FALSE(harness.visibleTexts().contains("Forget every paired iPhone and iPad?"));

    EXPECT_EQ(harness.receiver.secrets->removeCalls, 0);
    EXPECT_EQ(harness.receiver.receiver->status(), "Stopped");
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

TEST(MainWindow, Resize_UserEnlarged_StateChangesKeepTheSize) {
    WindowHarness harness;
    ASSERT_TRUE(harness.open());
    harness.window()->resize(800, 600);
    ASSERT_TRUE(WindowHarness::settle(harness.window()));

    harness.click("startStopButton");
    harness.readyListener();
    EXPECT_EQ(harness.window()->size(), QSize(800, 600));
    harness.click("startStopButton");
    EXPECT_EQ(harness.window()->size(), QSize(800, 600));
}

TEST(MainWindow, MinimumSize_CoversContentInEveryState) {
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
}

} // namespace
} // namespace corvane::test
