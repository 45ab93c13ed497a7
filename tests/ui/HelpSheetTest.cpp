#include "WindowHarness.h"

namespace corvane::test {
namespace {

const QStringList sections = {
    QStringLiteral("Setup"),
    QStringLiteral("Open this app on the Mac you want to control. Grant Accessibility in System "
                   "Settings, then choose Start Receiver. Keep the receiver in the foreground "
                   "while pairing."),
    QStringLiteral("Pairing"),
    QStringLiteral("On your iPhone or iPad, choose Wi-Fi, Bluetooth, or USB network, select this "
                   "Mac, and enter the six-digit code shown here. The device saves this Mac after "
                   "the first pairing and can reconnect without a new code. Use Forget Paired "
                   "Devices to revoke all saved devices. One device can control this Mac at a "
                   "time."),
    QStringLiteral("Connections"),
    QStringLiteral("Wi-Fi and USB network require a reachable local network. USB network needs a "
                   "network interface supplied by iOS or iPadOS; a plain USB-C cable without one "
                   "is unsupported. Bluetooth uses the app's custom Low Energy link."),
    QStringLiteral("If input does not work"),
    QStringLiteral("Confirm Accessibility remains granted. Stop and restart the receiver after a "
                   "permission change, sleep, or a failed connection. Disconnect the touch device "
                   "before changing connectors."),
    QStringLiteral("Beta safety"),
    QStringLiteral("Use trusted networks. Wi-Fi and USB network messages are not encrypted in "
                   "this beta. Check gesture and studio shortcut behavior before using the "
                   "companion in a live session."),
};

// Opens the sheet through the Help button and returns it.
QQuickWindow* openHelp(WindowHarness& harness) {
    harness.click("helpButton");
    QQuickWindow* sheet = harness.helpSheet();
    if (sheet == nullptr || !QTest::qWaitForWindowExposed(sheet) || !WindowHarness::settle(sheet)) {
        ADD_FAILURE() << "the help sheet did not open";
        return nullptr;
    }
    return sheet;
}

TEST(HelpSheet, Open_ShowsTitleSectionsInOrderAndFooter_DoneClosesIt) {
    // Without a version the footer says Beta.
    for (const auto& [version, footer] :
         {std::pair{QStringLiteral("1.2"),
                    QStringLiteral("Corvane 1.2 · Made by the Corvane project")},
          std::pair{QString(), QStringLiteral("Corvane Beta · Made by the Corvane project")}}) {
        SCOPED_TRACE(footer.toStdString());
        WindowHarness harness(version);
        ASSERT_TRUE(harness.open());
        QQuickWindow* sheet = openHelp(harness);
        ASSERT_NE(sheet, nullptr);

        EXPECT_EQ(sheet->modality(), Qt::WindowModal);
        EXPECT_EQ(sheet->width(), 560);
        EXPECT_EQ(WindowHarness::visibleTexts(sheet),
                  (QStringList{"Corvane Companion Help"} + sections + QStringList{footer, "Done"}));

        // Version at the leading edge, Done at the trailing edge.
        QQuickItem* versionLine = harness.find("versionLine", sheet);
        QQuickItem* done = harness.find("doneButton", sheet);
        EXPECT_NEAR(versionLine->mapToScene({0, 0}).x(), 24, 0.5);
        EXPECT_NEAR(done->mapToScene({done->width(), 0}).x(), 560 - 24, 0.5);

        harness.click(done);
        EXPECT_FALSE(sheet->isVisible());
        EXPECT_FALSE(harness.window()->property("showingHelp").toBool());
        EXPECT_NE(openHelp(harness), nullptr);
        EXPECT_TRUE(harness.window()->property("showingHelp").toBool());
    }
}

TEST(HelpSheet, BuildVersion_IsTheProjectVersion) {
    EXPECT_EQ(CompanionWindow::buildVersion(), QStringLiteral(CORVANE_EXPECTED_VERSION));
}

} // namespace
} // namespace corvane::test
