#include "ReceiverHarness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace corvane::test {
namespace {

class ReceiverConnectionTest : public ::testing::Test, protected ReceiverHarness {
protected:
    void SetUp() override { startReady(); }

    int codeChanges() const {
        return static_cast<int>(
            std::count(notifications.begin(), notifications.end(), PublishedField::code));
    }
};

TEST_F(ReceiverConnectionTest, Accept_StartsConnectionAndKeepsOneReadOfUpTo4096Bytes) {
    auto connection = std::make_shared<FakeConnection>();
    listener()->deliverConnection(connection);
    run();
    EXPECT_EQ(receiver->status(), "Touch device connecting…");
    EXPECT_EQ(connection->startCount(), 1);
    EXPECT_FALSE(connection->pendingReceive());
    connection->reportState(ConnectionState::preparing);
    run();
    EXPECT_FALSE(connection->pendingReceive());
    connection->reportState(ConnectionState::ready);
    run();
    ASSERT_TRUE(connection->pendingReceive());
    EXPECT_EQ(connection->pendingReceive()->minimumLength, 1u);
    EXPECT_EQ(connection->pendingReceive()->maximumLength, 4096u);

    // A repeated ready report keeps one read outstanding.
    connection->reportState(ConnectionState::ready);
    run();
    EXPECT_EQ(connection->receiveCount(), 1);
    deliver(*connection, helloWithCode(receiver->code()));
    EXPECT_EQ(connection->receiveCount(), 2);
    EXPECT_EQ(connection->overlappingReceives(), 0);
}

TEST_F(ReceiverConnectionTest, SecondConnection_IsCancelledAndFirstUndisturbed) {
    auto first = connect();
    auto second = std::make_shared<FakeConnection>();
    listener()->deliverConnection(second);
    run();
    EXPECT_EQ(second->cancelCount(), 1);
    EXPECT_EQ(second->startCount(), 0);
    EXPECT_TRUE(second->sent().empty());
    EXPECT_EQ(first->cancelCount(), 0);
    deliver(*first, helloWithCode(receiver->code()));
    EXPECT_EQ(receiver->status(), "Touch device connected");
}

TEST_F(ReceiverConnectionTest, Chunking_TwoLinesAndAHalf_HalfWaitsForNextChunk) {
    auto connection = connectAuthenticated();
    deliver(*connection, move1 + move1 + "{\"kind\":\"mo");
    EXPECT_EQ(movesPosted(), 2u);
    deliver(*connection, "ve\",\"dx\":1,\"dy\":0}\r\n");
    EXPECT_EQ(movesPosted(), 3u) << "a carriage return before the line feed is accepted";
    EXPECT_EQ(connection->cancelCount(), 0);
}

TEST_F(ReceiverConnectionTest, HelloAndInputInOneChunk_InputAfterAcceptanceIsInjected) {
    auto connection = connect();
    deliver(*connection, helloWithCode(receiver->code()) + move1);
    EXPECT_EQ(replies(*connection).at(0).kind, TouchMessage::Kind::accepted);
    EXPECT_EQ(movesPosted(), 1u);
}

TEST_F(ReceiverConnectionTest, BadLines_EndTheConnectionAndDropLaterLines) {
    for (const std::string bad : {"\n", "not json\n", "{\"kind\":\"Move\"}\n",
                                  "{\"kind\":\"move\",\"dx\":\"3\",\"dy\":1}\n"}) {
        auto connection = connectAuthenticated();
        events->clear();
        const std::string code = receiver->code();
        deliver(*connection, bad + move1);
        EXPECT_EQ(connection->cancelCount(), 1) << bad;
        EXPECT_EQ(events->posted().size(), 0u) << bad;
        EXPECT_NE(receiver->code(), code) << bad;
        EXPECT_EQ(receiver->status(), "Ready for pairing") << bad;
    }
}

TEST_F(ReceiverConnectionTest, BufferLimit_16384Stays_16385Disconnects) {
    auto connection = connectAuthenticated();
    for (int i = 0; i < 4; ++i) {
        deliver(*connection, std::string(4096, ' '));
    }
    EXPECT_EQ(connection->cancelCount(), 0);
    ASSERT_TRUE(connection->pendingReceive());
    deliver(*connection, " ");
    EXPECT_EQ(connection->cancelCount(), 1);
    EXPECT_EQ(receiver->status(), "Ready for pairing");
}

TEST_F(ReceiverConnectionTest, BufferLimit_CheckedBeforeLines_OverflowingChunkIsNotProcessed) {
    auto connection = connectAuthenticated();
    for (int i = 0; i < 3; ++i) {
        deliver(*connection, std::string(4096, ' '));
    }
    deliver(*connection, std::string(4096 - move1.size(), ' '));
    // 16384 - move1.size() buffered: a chunk holding a complete move goes over the limit.
    deliver(*connection, move1 + " ");
    EXPECT_EQ(movesPosted(), 0u);
    EXPECT_EQ(connection->cancelCount(), 1);
}

TEST_F(ReceiverConnectionTest, BufferLimit_LongLineEndingExactlyAtLimit_IsDecoded) {
    auto connection = connectAuthenticated();
    std::string line = "{\"kind\":\"click\"}";
    line.insert(1, std::string(16384 - line.size() - 1, ' '));
    line += '\n';
    ASSERT_EQ(line.size(), 16384u);
    for (std::size_t at = 0; at < line.size(); at += 4096) {
        deliver(*connection, line.substr(at, 4096));
    }
    EXPECT_EQ(events->posted().size(), 2u);
    EXPECT_EQ(connection->cancelCount(), 0);
}

TEST_F(ReceiverConnectionTest, NonHelloBeforeAuthentication_DisconnectsWithoutReply) {
    auto connection = connect();
    deliver(*connection, move1);
    EXPECT_TRUE(connection->sent().empty());
    EXPECT_EQ(connection->cancelCount(), 1);
    EXPECT_EQ(movesPosted(), 0u);
}

TEST_F(ReceiverConnectionTest, EndOfStream_ConsumesRemainingLinesThenDisconnects) {
    auto connection = connectAuthenticated();
    const int before = codeChanges();
    complete(*connection, ReceivedChunk{move1, true, std::nullopt});
    EXPECT_EQ(movesPosted(), 1u);
    EXPECT_EQ(connection->cancelCount(), 1);
    EXPECT_EQ(codeChanges(), before + 1);
    EXPECT_FALSE(connection->pendingReceive());
}

TEST_F(ReceiverConnectionTest, ChunkThatEndsClientWithEndOfStream_EndsItOnlyOnce) {
    auto connection = connectAuthenticated();
    trust->trusted = false;
    const int before = codeChanges();
    complete(*connection, ReceivedChunk{move1, true, std::nullopt});
    EXPECT_EQ(receiver->status(), "Accessibility access lost");
    EXPECT_EQ(codeChanges(), before + 1);
    EXPECT_EQ(connection->cancelCount(), 1);
}

TEST_F(ReceiverConnectionTest, FailedCancelledOrReadError_DisconnectsAndFreesTheSlot) {
    const std::vector<std::function<void(FakeConnection&)>> endings = {
        [](FakeConnection& c) { c.reportState(ConnectionState::failed, Error("gone")); },
        [](FakeConnection& c) { c.reportState(ConnectionState::cancelled, Error("gone")); },
        [](FakeConnection& c) {
            c.completeReceive(ReceivedChunk{std::nullopt, false, Error("Connection reset")});
        },
    };
    for (std::size_t i = 0; i < endings.size(); ++i) {
        SCOPED_TRACE(i);
        auto connection = connectAuthenticated();
        const std::string code = receiver->code();
        endings[i](*connection);
        run();
        EXPECT_EQ(connection->cancelCount(), 1);
        EXPECT_NE(receiver->code(), code);
        EXPECT_EQ(receiver->status(), "Ready for pairing");
        auto next = connect();
        EXPECT_EQ(next->startCount(), 1);
        drop(*next);
    }
}

TEST_F(ReceiverConnectionTest, StaleConnectionReports_AfterStop_AreIgnored) {
    auto connection = connectAuthenticated();
    receiver->stop();
    EXPECT_EQ(connection->cancelCount(), 1);
    run();
    notifications.clear();
    connection->reportState(ConnectionState::cancelled);
    complete(*connection, ReceivedChunk{move1, true, std::nullopt});
    EXPECT_TRUE(notifications.empty());
    EXPECT_EQ(receiver->code(), "");
    EXPECT_EQ(movesPosted(), 0u);
}

TEST_F(ReceiverConnectionTest, AccessibilityLost_DropsMessageDisconnectsAndSaysSo) {
    auto connection = connectAuthenticated();
    deliver(*connection, "{\"kind\":\"buttonDown\"}\n");
    events->clear();
    const std::string code = receiver->code();
    trust->trusted = false;
    deliver(*connection, move1);
    EXPECT_EQ(movesPosted(), 0u);
    // The held button is still released, without asking for trust.
    EXPECT_EQ(events->posted(), std::vector{leftUp(0)});
    EXPECT_EQ(connection->cancelCount(), 1);
    EXPECT_NE(receiver->code(), code);
    EXPECT_EQ(receiver->status(), "Accessibility access lost");
    EXPECT_TRUE(receiver->hasAccessibility()) << "only the display value; not changed here";
}

TEST_F(ReceiverConnectionTest, ClientLeaving_ReleasesButtonAndClearsModifiers) {
    auto connection = connectAuthenticated();
    deliver(*connection, "{\"kind\":\"modifiers\",\"modifiers\":1}\n{\"kind\":\"buttonDown\"}\n");
    events->clear();
    connection->reportState(ConnectionState::failed, Error("reset"));
    run();
    EXPECT_EQ(events->posted(), std::vector{leftUp(EventFlag::shift)});
    auto next = connectAuthenticated();
    events->clear();
    deliver(*next, move1);
    ASSERT_EQ(events->posted().size(), 1u);
    EXPECT_EQ(events->posted()[0].flags, 0u);
}

} // namespace
} // namespace corvane::test
