#include "BluetoothTestFixture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace corvane {
namespace {

using Writes = BluetoothTest;
using Notifications = BluetoothTest;

TEST_F(Writes, LinesSplitOverOrSharingWrites_DeliveredInOrderOnceComplete) {
    auto& manager = serve("A");

    EXPECT_EQ(writeOnce(manager, "A", "{\"kind\":\"mo"), AttResult::success);
    EXPECT_EQ(writeOnce(manager, "A", "ve\",\"dx\":1.5,"), AttResult::success);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(writeOnce(manager, "A", "\"dy\":-2}\n{\"kind\":\"buttonUp\"}\n{\"kind\""),
              AttResult::success);

    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].first, move(1.5, -2));
    EXPECT_EQ(messages[0].second, "A");
    EXPECT_EQ(messages[1].first.kind, TouchMessage::Kind::buttonUp);
}

TEST_F(Writes, BadAndEmptyLines_DroppedSilentlyAndAnsweredSuccess) {
    auto& manager = serve("A");

    EXPECT_EQ(writeOnce(manager, "A", "\n\nnot json\n{\"kind\":\"Click\"}\n{\"kind\":\"click\"}\n"),
              AttResult::success);

    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages.front().first.kind, TouchMessage::Kind::click);
}

TEST_F(Writes, BufferAtTheLimitWaits_OverflowingWriteIsDiscardedWithItsCompleteLines) {
    auto& manager = serve("A");
    const Bytes half(8192, 'x');

    EXPECT_EQ(writeOnce(manager, "A", half), AttResult::success);
    EXPECT_EQ(writeOnce(manager, "A", half), AttResult::success);

    EXPECT_EQ(writeOnce(manager, "A", "{"), AttResult::invalidAttributeValueLength);

    // One byte over again, with whole lines in the write: they are lost with it.
    const Bytes lines = "\n{\"kind\":\"click\"}\n";
    writeOnce(manager, "A", Bytes(16384 - lines.size() + 1, 'x'));
    EXPECT_EQ(writeOnce(manager, "A", lines), AttResult::invalidAttributeValueLength);
    EXPECT_TRUE(messages.empty());

    // The tail of the lost line forms a line of its own, which does not decode.
    writeOnce(manager, "A", "xx\n{\"kind\":\"click\"}\n");
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages.front().first.kind, TouchMessage::Kind::click);
}

TEST_F(Writes, RefusedRequests_AnsweredThreeAndNothingBuffered) {
    auto& manager = advertise();
    const Bytes click = "{\"kind\":\"click\"}\n";

    EXPECT_EQ(writeOnce(manager, "A", click), AttResult::writeNotPermitted) << "nobody subscribed";
    manager.subscribe("A", status);
    EXPECT_EQ(writeOnce(manager, "B", "{\"kind\":"), AttResult::writeNotPermitted) << "not served";
    EXPECT_EQ(writeOnce(manager, "A", click, 1), AttResult::writeNotPermitted) << "offset";
    const auto wrong = manager.write("A", status, click);
    const auto empty = manager.write("A", command, std::nullopt);

    EXPECT_EQ(manager.resultsFor(wrong), std::vector{AttResult::writeNotPermitted});
    EXPECT_EQ(manager.resultsFor(empty), std::vector{AttResult::writeNotPermitted});
    EXPECT_TRUE(messages.empty());
}

TEST_F(Writes, OneDelivery_EachRequestAnsweredInOrderOnItsOwn) {
    auto& manager = serve("A");
    const auto first = manager.nextRequestId();
    const auto second = manager.nextRequestId();
    const auto third = manager.nextRequestId();

    manager.write({
        WriteRequest{first, command, 0, Bytes("{\"kind\":\"cl"), "A"},
        WriteRequest{second, command, 4, Bytes("junk"), "A"},
        WriteRequest{third, command, 0, Bytes("ick\"}\n"), "A"},
    });

    ASSERT_EQ(manager.responses.size(), 3u);
    EXPECT_EQ(manager.responses[0].id, first);
    EXPECT_EQ(manager.responses[0].result, AttResult::success);
    EXPECT_EQ(manager.responses[1].id, second);
    EXPECT_EQ(manager.responses[1].result, AttResult::writeNotPermitted);
    EXPECT_EQ(manager.responses[2].id, third);
    EXPECT_EQ(manager.responses[2].result, AttResult::success);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages.front().first.kind, TouchMessage::Kind::click);
}

TEST_F(Writes, HandlerStopsTheTransport_NothingMoreIsDeliveredAndEveryRequestAnswered) {
    reply = [this](const TouchMessage&, const CentralID&) {
        transport->stop();
        return withKind(TouchMessage::Kind::rejected);
    };
    auto& manager = serve("A");
    const auto first = manager.nextRequestId();
    const auto second = manager.nextRequestId();

    manager.write({
        WriteRequest{first, command, 0, Bytes("{\"kind\":\"click\"}\n{\"kind\":\"click\"}\n"), "A"},
        WriteRequest{second, command, 0, Bytes("{\"kind\":\"click\"}\n"), "A"},
    });

    EXPECT_EQ(messages.size(), 1u);
    EXPECT_EQ(manager.resultsFor(first), std::vector{AttResult::success});
    EXPECT_EQ(manager.resultsFor(second), std::vector{AttResult::writeNotPermitted});
    EXPECT_TRUE(manager.updates.empty());
}

TEST_F(Writes, HandlerReleasesTheTransport_DeliveryFinishesSafely) {
    reply = [this](const TouchMessage&, const CentralID&) {
        transport->stop();
        transport.reset();
        return std::nullopt;
    };
    auto& manager = serve("A");

    const auto id =
        manager.write("A", command, Bytes("{\"kind\":\"click\"}\n{\"kind\":\"click\"}\n"));

    EXPECT_EQ(messages.size(), 1u);
    EXPECT_EQ(manager.resultsFor(id), std::vector{AttResult::success});
}

TEST_F(Notifications, Reply_CutToTheCentralsMaximumLength) {
    TouchMessage accepted = withKind(TouchMessage::Kind::accepted);
    accepted.hostID = Bytes(68, 'h');
    const auto line = accepted.line();
    ASSERT_TRUE(line);
    ASSERT_EQ(line->size(), 100u);
    reply = [&](const TouchMessage&, const CentralID&) { return accepted; };
    auto& manager = serve("A");
    manager.maximumLengths["A"] = 20;

    writeOnce(manager, "A", "{\"kind\":\"hello\"}\n");

    ASSERT_EQ(manager.updates.size(), 5u);
    for (const auto& update : manager.updates) {
        EXPECT_EQ(update.value.size(), 20u);
        EXPECT_EQ(update.characteristic, status);
        EXPECT_EQ(update.central, "A");
    }
    EXPECT_EQ(manager.receivedBy("A"), *line);

    manager.updates.clear();
    manager.maximumLengths["A"] = 0;
    writeOnce(manager, "A", "{\"kind\":\"hello\"}\n");

    EXPECT_EQ(manager.updates.size(), 100u);
    EXPECT_EQ(manager.receivedBy("A"), *line);
}

TEST_F(Notifications, RefusedChunk_ResumesInOrderAfterReadiness) {
    replyRejected();
    auto& manager = serve("A");
    manager.maximumLengths["A"] = 4; // each 20-byte reply leaves as five chunks
    manager.capacity = 1;

    writeOnce(manager, "A", "{\"kind\":\"hello\"}\n");
    EXPECT_EQ(manager.updates.size(), 1u);
    EXPECT_EQ(manager.refusals.size(), 1u);

    writeOnce(manager, "A", "{\"kind\":\"hello\"}\n");

    manager.capacity = 2;
    manager.reportReady();

    manager.capacity.reset();
    manager.reportReady();
    EXPECT_EQ(manager.receivedBy("A"), "{\"kind\":\"rejected\"}\n{\"kind\":\"rejected\"}\n");
    for (const auto& update : manager.updates) {
        EXPECT_EQ(update.value.size(), 4u);
    }
}

TEST_F(Notifications, ReplyThatCannotBeEncoded_SendsNothing) {
    reply = [](const TouchMessage&, const CentralID&) {
        return move(std::numeric_limits<double>::infinity(), 0);
    };
    auto& manager = serve("A");

    EXPECT_EQ(writeOnce(manager, "A", "{\"kind\":\"hello\"}\n"), AttResult::success);

    EXPECT_TRUE(manager.updates.empty());
}

} // namespace
} // namespace corvane
