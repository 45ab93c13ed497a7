#include "app/window/ReceiverBridge.h"

#include "app/window/RoundedImage.h"
#include "unit/receiver/ReceiverHarness.h"

#include <QSignalSpy>

namespace corvane::test {
namespace {

TEST(ReceiverBridge, Start_EmitsEveryChangedField) {
    ReceiverHarness harness;
    ReceiverBridge bridge(harness.receiver, harness.trust);
    QSignalSpy running(&bridge, &ReceiverBridge::isRunningChanged);
    QSignalSpy code(&bridge, &ReceiverBridge::codeChanged);
    QSignalSpy status(&bridge, &ReceiverBridge::statusChanged);

    bridge.toggleRunning();
    EXPECT_EQ(running.count(), 0) << "told after the operation";
    harness.run();

    EXPECT_EQ(running.count(), 1);
    EXPECT_GE(code.count(), 1);
    EXPECT_GE(status.count(), 1);
    EXPECT_TRUE(bridge.isRunning());
    EXPECT_EQ(bridge.code().toStdString(), harness.receiver->code());
    EXPECT_EQ(bridge.status(), QStringLiteral("Starting receiver…"));
}

TEST(ReceiverBridge, Destroyed_ReceiverChangesReachNoOne) {
    ReceiverHarness harness;
    { ReceiverBridge bridge(harness.receiver, harness.trust); }
    harness.receiver->start();
    harness.receiver->stop();
    EXPECT_FALSE(harness.receiver->isRunning());
}

TEST(RoundedImage, Source_LoadsOnlyRealImages) {
    RoundedImage image;
    EXPECT_FALSE(image.loaded());
    QSignalSpy loaded(&image, &RoundedImage::loadedChanged);

    image.setSource(QUrl(QStringLiteral("qrc:/corvane/Mark.png")));
    EXPECT_TRUE(image.loaded());
    image.setSource(QUrl(QStringLiteral("qrc:/corvane/Main.qml")));
    EXPECT_FALSE(image.loaded());
    image.setSource(QUrl(QStringLiteral("qrc:/corvane/Missing.png")));
    EXPECT_FALSE(image.loaded());
    EXPECT_EQ(loaded.count(), 2);
}

} // namespace
} // namespace corvane::test
