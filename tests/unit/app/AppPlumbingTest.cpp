#include "app/LineReader.h"
#include "platform/freedesktop/DesktopNotifications.h"
#include "support/QtEventLoop.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace corvane {
namespace {

using namespace std::chrono_literals;

// Lines arrive whole across writes, an overlong one is dropped whole, and the end of input
// still delivers the unfinished last line.
TEST(LineReaderTest, Lines_WholeOverlongDropped_LastOneAtTheEnd) {
    test::qtApplication();
    int fds[2] = {-1, -1};
    ASSERT_EQ(pipe(fds), 0);
    std::vector<std::string> received;
    LineReader reader(fds[0], [&](std::string_view line) { received.emplace_back(line); });
    const auto write = [&](const std::string& bytes) {
        ASSERT_EQ(::write(fds[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        test::spinFor(30ms);
    };

    write("start\nsto");
    write("p\n" + std::string(LineReader::maximumLineLength + 100, 'x'));
    write(std::string(3000, 'y') + "\nquit\nforget");
    close(fds[1]);
    ASSERT_TRUE(test::spinUntil([&] { return reader.atEnd(); }));
    test::spinFor(30ms);
    EXPECT_EQ(received, (std::vector<std::string>{"start", "stop", "quit", "forget"}));
    close(fds[0]);
}

// A pairing, a token connection and a departure are news; nothing else is. The user sees where
// a network phone came from, without its port, and never a Bluetooth central's identifier.
TEST(DesktopNotificationsTest, TextFor_TellsOnlyPairingConnectionAndDeparture) {
    const std::string central = "3f1c2a4e-3b57-5d0e-9a51-8e2f0c7d4b19";
    const struct {
        ClientEvent event;
        Transport transport;
        std::string peer, where;
    } cases[] = {
        {ClientEvent::pairedWithCode, Transport::tcp, "192.0.2.7:50412", "from 192.0.2.7. "},
        {ClientEvent::pairedWithCode, Transport::bluetooth, central, "over Bluetooth. "},
        {ClientEvent::admittedWithToken, Transport::tcp, "[2001:db8::7]:50412",
         "from 2001:db8::7."},
        {ClientEvent::left, Transport::bluetooth, central, "over Bluetooth has left."},
    };
    for (const auto& [event, transport, peer, where] : cases) {
        const auto text = DesktopNotifications::textFor({event, transport, peer});
        ASSERT_TRUE(text.has_value()) << where;
        EXPECT_NE(text->body.find(where), std::string::npos) << text->body;
        EXPECT_EQ(text->transient, event != ClientEvent::pairedWithCode) << where;
    }
    for (const auto event : {ClientEvent::admittedWithCode, ClientEvent::rejected,
                             ClientEvent::refused, ClientEvent::budgetSpent}) {
        EXPECT_FALSE(DesktopNotifications::textFor({event, Transport::tcp, "192.0.2.7:50412"}));
    }
}

} // namespace
} // namespace corvane
