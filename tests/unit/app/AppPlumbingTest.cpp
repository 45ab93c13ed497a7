#include "app/ActivityFanOut.h"
#include "app/LineReader.h"
#include "app/TerminationSignals.h"
#include "fakes/RecordingActivityLog.h"
#include "platform/freedesktop/DesktopNotifications.h"
#include "support/QtEventLoop.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

namespace corvane {
namespace {

using test::spinFor;
using test::spinUntil;
using namespace std::chrono_literals;

class LineReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::qtApplication();
        ASSERT_EQ(pipe(fds), 0);
        reader = std::make_unique<LineReader>(
            fds[0], [this](std::string_view line) { received.emplace_back(line); });
    }
    void TearDown() override {
        reader.reset();
        close(fds[0]);
        if (fds[1] >= 0) {
            close(fds[1]);
        }
    }

    void write(const std::string& bytes) {
        ASSERT_EQ(::write(fds[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    int fds[2] = {-1, -1};
    std::unique_ptr<LineReader> reader;
    std::vector<std::string> received;
};

TEST_F(LineReaderTest, Lines_SplitAcrossWrites_ArriveWhole) {
    write("start\nsto");
    ASSERT_TRUE(spinUntil([&] { return received.size() == 1; }));
    write("p\n");
    ASSERT_TRUE(spinUntil([&] { return received.size() == 2; }));

    EXPECT_EQ(received, (std::vector<std::string>{"start", "stop"}));
}

TEST_F(LineReaderTest, OverlongLine_IsDroppedWhole) {
    write(std::string(LineReader::maximumLineLength + 100, 'x'));
    write(std::string(3000, 'y') + "\nquit\n");

    ASSERT_TRUE(spinUntil([&] { return !received.empty(); }));
    spinFor(50ms);
    ASSERT_EQ(received.size(), 1u) << "first line has " << received[0].size() << " bytes";
    EXPECT_EQ(received[0], "quit");
}

TEST_F(LineReaderTest, EndOfInput_DeliversTheLastLineAndStopsWatching) {
    write("forget");
    close(fds[1]);
    fds[1] = -1;

    ASSERT_TRUE(spinUntil([&] { return reader->atEnd(); }));
    spinFor(50ms);
    EXPECT_EQ(received, std::vector<std::string>{"forget"});
}

TEST(TerminationSignalsTest, BlockedSigterm_ArrivesAsCallback) {
    test::qtApplication();
    TerminationSignals::blockTerminationSignals();
    int caught = 0;
    auto watcher = TerminationSignals::watch([&] { ++caught; });
    ASSERT_TRUE(watcher.has_value());

    ASSERT_EQ(raise(SIGTERM), 0);

    EXPECT_TRUE(spinUntil([&] { return caught == 1; }));
}

TEST(ActivityFanOutTest, Record_ReachesEveryListener) {
    ActivityFanOut fanOut;
    auto first = std::make_shared<test::RecordingActivityLog>();
    auto second = std::make_shared<test::RecordingActivityLog>();
    fanOut.add(first);
    fanOut.add(second);
    const ClientActivity left{ClientEvent::left, Transport::tcp, "192.0.2.7:50412"};

    fanOut.record(left);

    EXPECT_EQ(first->recorded, std::vector{left});
    EXPECT_EQ(second->recorded, std::vector{left});
}

// A pairing, a token connection and a departure are news; nothing else is. The user sees where
// a network phone came from, without its port, and never a Bluetooth central's identifier.
TEST(DesktopNotificationsTest, TextFor_TellsOnlyPairingConnectionAndDeparture) {
    struct Case {
        ClientEvent event;
        Transport transport;
        std::string peer;
        std::optional<NotificationText> expected;
    };
    const std::string forget = ". If that was not you, choose Forget Paired Devices in Corvane.";
    const std::vector<Case> cases{
        {ClientEvent::pairedWithCode, Transport::tcp, "192.0.2.7:50412",
         NotificationText{"New device paired",
                          "A phone or tablet paired with this computer from 192.0.2.7" + forget,
                          false}},
        {ClientEvent::pairedWithCode, Transport::bluetooth, "3f1c2a4e-3b57-5d0e-9a51-8e2f0c7d4b19",
         NotificationText{"New device paired",
                          "A phone or tablet paired with this computer over Bluetooth" + forget,
                          false}},
        {ClientEvent::admittedWithToken, Transport::tcp, "[2001:db8::7]:50412",
         NotificationText{"Device connected",
                          "A paired phone or tablet connected from 2001:db8::7.", true}},
        {ClientEvent::left, Transport::bluetooth, "3f1c2a4e-3b57-5d0e-9a51-8e2f0c7d4b19",
         NotificationText{"Device disconnected",
                          "The phone or tablet connected over Bluetooth has left.", true}},
        {ClientEvent::admittedWithCode, Transport::tcp, "192.0.2.7:50412", std::nullopt},
        {ClientEvent::rejected, Transport::tcp, "192.0.2.7:50412", std::nullopt},
        {ClientEvent::refused, Transport::bluetooth, "3f1c2a4e", std::nullopt},
    };
    for (const auto& [event, transport, peer, expected] : cases) {
        const auto text = DesktopNotifications::textFor({event, transport, peer});
        EXPECT_EQ(text.has_value(), expected.has_value()) << static_cast<int>(event) << " " << peer;
        if (text && expected) {
            EXPECT_EQ(text->summary, expected->summary);
            EXPECT_EQ(text->body, expected->body);
            EXPECT_EQ(text->transient, expected->transient) << text->summary;
        }
    }
}

} // namespace
} // namespace corvane
