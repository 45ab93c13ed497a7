// The real window over a receiver on fakes, looked at and clicked as a user does.
#include "app/window/CompanionWindow.h"
#include "unit/receiver/ReceiverHarness.h"

#include <QtQuickTest/quicktest.h>

#include <gtest/gtest.h>

#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>

namespace corvane::test {
namespace {

const QString instruction = QStringLiteral(
    "Enter this code on your iPhone or iPad. One device can control this Mac at a time.");
const QString storage = QStringLiteral("No keyring answered at launch: pairings are kept in files");
const QString paused = QStringLiteral("Too many wrong codes: pairing by code is paused");
const QString unseen =
    QStringLiteral("Phones cannot find this computer: avahi-daemon is not running");
const QString question = QStringLiteral("Forget every paired iPhone and iPad?");

class MainWindow : public testing::Test {
protected:
    void SetUp() override {
        receiver.storageStatus = storage.toStdString();
        receiver.build();
        companion = std::make_unique<CompanionWindow>(receiver.receiver, receiver.trust, "1.2");
        const auto loaded = companion->load();
        ASSERT_TRUE(loaded) << loaded.error().description();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window()));
        settle();
    }

    QQuickWindow* window() const { return companion->window(); }
    void settle() {
        QCoreApplication::processEvents();
        receiver.run();
        ASSERT_TRUE(QQuickTest::qWaitForPolish(window(), 2000));
    }

    // Every text a user can see, in the order of the item tree.
    static QStringList texts(QQuickItem* item) {
        QStringList found;
        if (item->isVisible() && item->opacity() > 0) {
            found << item->property("text").toString();
            for (QQuickItem* child : item->childItems()) {
                found << texts(child);
            }
        }
        return found;
    }
    // Every text of `shown` is on screen and none of `hidden`.
    void expectTexts(const QStringList& shown, const QStringList& hidden) {
        const QStringList all = texts(window()->contentItem());
        for (const QString& text : shown + hidden) {
            EXPECT_EQ(all.contains(text), shown.contains(text)) << text.toStdString();
        }
    }

    void click(const char* name) {
        auto* item = window()->findChild<QQuickItem*>(name);
        ASSERT_TRUE(item && item->isVisible()) << name;
        QTest::mouseClick(window(), Qt::LeftButton, {},
                          item->mapToScene({item->width() / 2, item->height() / 2}).toPoint());
        settle();
    }

    ReceiverHarness receiver;
    std::unique_ptr<CompanionWindow> companion;
};

// Launch, Start, what happens while running, Stop: each line shows only in the state it belongs
// to, and the window grows to hold them.
TEST_F(MainWindow, StatesShowTheirLines_TheWindowHoldsThemAll) {
    const QStringList running{"Pairing code", instruction, "Stop Receiver"};
    expectTexts({"Stopped", "Start Receiver", storage},
                running + QStringList{"Request Accessibility"});
    const int stoppedHeight = window()->minimumHeight();

    click("startStopButton");
    receiver.listener()->reportState(ListenerState::ready);
    settle();
    const QString code = QString::fromStdString(receiver.receiver->code());
    expectTexts(running + QStringList{"Ready for pairing", code, storage},
                {"Start Receiver", paused});
    EXPECT_GT(window()->minimumHeight(), stoppedHeight);
    for (int i = 0; i < PairingBudget::burst; ++i) {
        auto guesser = receiver.connect();
        receiver.deliver(*guesser, receiver.helloWithCode(receiver.wrongCode()));
        receiver.drop(*guesser);
    }
    receiver.listener()->reportAdvertising(Error("avahi-daemon is not running"));
    settle();
    expectTexts({paused, unseen}, {});

    window()->resize(800, 600);
    click("startStopButton");
    expectTexts({"Stopped", storage}, running + QStringList{code, paused, unseen});
    EXPECT_EQ(window()->size(), QSize(800, 600));
}

// The button acts on the receiver's state, not on what the window last drew.
TEST_F(MainWindow, StartStop_StateChangedBeforeRedraw_ActsOnCurrentState) {
    companion->bridge().blockSignals(true);
    receiver.receiver->start();
    click("startStopButton");
    companion->bridge().blockSignals(false);
    EXPECT_FALSE(receiver.receiver->isRunning());
    EXPECT_EQ(receiver.listeners->listeners.size(), 1u);
}

TEST_F(MainWindow, Dialogs_AskBeforeForgetting_AccessibilityUntilTrusted) {
    for (const bool escape : {false, true}) {
        click("forgetButton");
        expectTexts({question}, {});
        escape ? QTest::keyClick(window(), Qt::Key_Escape) : click("forgetCancelButton");
        settle();
        expectTexts({}, {question});
    }
    EXPECT_EQ(receiver.secrets->removeCalls, 0);
    click("forgetButton");
    click("forgetConfirmButton");
    EXPECT_EQ(receiver.secrets->removeCalls, 1);
    expectTexts({"Paired devices forgotten"}, {question});

    receiver.trust->trusted = false;
    receiver.trust->trustedAfterRequest = false;
    receiver.receiver->setHasAccessibility(false);
    settle();
    click("requestAccessibilityButton");
    expectTexts({"Request Accessibility"}, {});
    receiver.trust->trustedAfterRequest = true;
    click("requestAccessibilityButton");
    EXPECT_EQ(receiver.trust->requests, 2);
    expectTexts({}, {"Request Accessibility"});
}

} // namespace
} // namespace corvane::test
