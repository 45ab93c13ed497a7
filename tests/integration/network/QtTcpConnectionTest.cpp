#include "platform/qt/QtMainThread.h"
#include "platform/qt/QtTcpListener.h"
#include "support/QtEventLoop.h"

#include <gtest/gtest.h>

#include <QHostAddress>
#include <QTcpSocket>
#include <memory>
#include <optional>
#include <vector>

namespace corvane {
namespace {

using test::spinFor;
using test::spinUntil;
using namespace std::chrono_literals;

// The real queue, counting what goes through it.
class CountingMainThread final : public MainThread {
public:
    void post(std::function<void()> task) override {
        ++posted;
        queue_.post(std::move(task));
    }

    int posted = 0;

private:
    QtMainThread queue_;
};

// One accepted connection on the desktop side and a plain socket playing the phone.
class QtTcpConnectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::qtApplication();
        auto made = QtTcpListener::listen(0, mainThread, nullptr);
        ASSERT_TRUE(made.has_value());
        listener = *made;
        listener->setNewConnectionHandler(
            [this](std::shared_ptr<Connection> accepted) { connection = std::move(accepted); });
        listener->start();
        phone.connectToHost(QHostAddress::LocalHost, listener->port());
        ASSERT_TRUE(spinUntil([this] { return connection != nullptr; }));
        connection->setStateHandler(
            [this](ConnectionState state, std::optional<Error>) { states.push_back(state); });
    }

    // Keeps one receive outstanding, as the receiver does, until the stream ends.
    void receiveContinuously() {
        connection->receive(1, 4096, [this](ReceivedChunk chunk) {
            chunks.push_back(chunk);
            if (chunk.content) {
                received += *chunk.content;
            }
            if (!chunk.isComplete && !chunk.error) {
                receiveContinuously();
            }
        });
    }

    bool ended() const {
        return !chunks.empty() && (chunks.back().isComplete || chunks.back().error);
    }

    // Starts the connection and waits for it to be ready, so that nothing else is queued.
    void startAndWait() {
        connection->start();
        ASSERT_TRUE(spinUntil([this] { return !states.empty(); }));
    }

    std::shared_ptr<CountingMainThread> mainThread = std::make_shared<CountingMainThread>();
    std::shared_ptr<QtTcpListener> listener;
    std::shared_ptr<Connection> connection;
    QTcpSocket phone;
    std::vector<ConnectionState> states;
    std::vector<ReceivedChunk> chunks;
    Bytes received;
};

// The whole stream arrives in order, in chunks of at most 4096, and only then the end: whether a
// read waits as the bytes stream in or is first asked for after the peer has written and closed.
class QtTcpConnectionStreamTest : public QtTcpConnectionTest,
                                  public ::testing::WithParamInterface<bool> {};

TEST_P(QtTcpConnectionStreamTest, Receive_StreamThenClose_DataArrivesBeforeTheEnd) {
    const bool receiveFirst = GetParam();
    connection->start();
    Bytes payload;
    for (int i = 0; payload.size() < 50000; ++i) {
        payload += std::to_string(i) + ',';
    }
    if (receiveFirst) {
        receiveContinuously();
    }
    phone.write(payload.data(), static_cast<qint64>(payload.size()));
    phone.disconnectFromHost();
    if (!receiveFirst) {
        spinFor(200ms);
        receiveContinuously();
    }

    ASSERT_TRUE(spinUntil([this] { return ended(); }));
    EXPECT_EQ(received, payload);
    for (const auto& chunk : chunks) {
        EXPECT_LE(chunk.content.value_or("").size(), 4096u);
    }
    EXPECT_TRUE(chunks.back().isComplete);
    EXPECT_FALSE(chunks.back().error.has_value());
}

INSTANTIATE_TEST_SUITE_P(ReceiveFirst, QtTcpConnectionStreamTest, ::testing::Bool());

// A read waiting when bytes arrive completes from the socket's own notification, with nothing
// queued; bytes already buffered complete a read only after the call returns, also one asked for
// inside the completion of another.
TEST_F(QtTcpConnectionTest, Receive_CompletesAsBytesArriveButNeverInsideTheCall) {
    startAndWait();
    std::optional<ReceivedChunk> first;
    connection->receive(1, 4096, [&](ReceivedChunk chunk) { first = std::move(chunk); });
    const int queuedBefore = mainThread->posted;
    phone.write("{\"kind\":\"move\"}\n");
    ASSERT_TRUE(spinUntil([&] { return first.has_value(); }));
    EXPECT_EQ(first->content, "{\"kind\":\"move\"}\n");
    EXPECT_EQ(mainThread->posted, queuedBefore);

    Bytes got;
    bool insideFirst = false;
    bool secondRanInsideFirst = false;
    bool secondDone = false;
    connection->receive(4, 4, [&](ReceivedChunk chunk) {
        got += chunk.content.value_or("");
        insideFirst = true;
        // The rest of the write is already buffered here.
        connection->receive(1, 4, [&](ReceivedChunk more) {
            secondRanInsideFirst = insideFirst;
            got += more.content.value_or("");
            secondDone = true;
        });
        insideFirst = false;
    });
    phone.write("abcdefghij");
    ASSERT_TRUE(spinUntil([&] { return secondDone; }));
    EXPECT_FALSE(secondRanInsideFirst);
    EXPECT_EQ(got, "abcdefgh");

    bool thirdDone = false;
    connection->receive(1, 4096, [&](ReceivedChunk chunk) {
        got += chunk.content.value_or("");
        thirdDone = true;
    });
    EXPECT_FALSE(thirdDone);
    ASSERT_TRUE(spinUntil([&] { return thirdDone; }));
    EXPECT_EQ(got, "abcdefghij");
}

// The completion of a read that arrives while it waits ends the connection from inside the
// socket's own notification, with or without cancelling first; the socket must survive that.
class QtTcpConnectionEndTest : public QtTcpConnectionTest,
                               public ::testing::WithParamInterface<bool> {};

TEST_P(QtTcpConnectionEndTest, Receive_CompletionLetsGo_ConnectionEndsCleanly) {
    const bool cancelFirst = GetParam();
    startAndWait();
    bool phoneClosed = false;
    const QObject scope;
    QObject::connect(&phone, &QTcpSocket::disconnected, &scope, [&] { phoneClosed = true; });
    std::weak_ptr<Connection> watched = connection;
    bool completed = false;
    connection->receive(1, 4096, [&](ReceivedChunk) {
        if (cancelFirst) {
            connection->cancel();
        }
        connection.reset();
        completed = true;
    });
    phone.write("{\"kind\":\"move\"}\n");

    ASSERT_TRUE(spinUntil([&] { return completed && phoneClosed; }));
    spinFor(20ms);
    EXPECT_TRUE(watched.expired());
}

INSTANTIATE_TEST_SUITE_P(CancelFirst, QtTcpConnectionEndTest, ::testing::Bool());

TEST_F(QtTcpConnectionTest, Cancel_FlushesQueuedRepliesInOrderBeforeClosing) {
    connection->start();
    Bytes big(300000, 'x');
    connection->send("{\"kind\":\"rejected\"}\n");
    connection->send("{\"kind\":\"rejected\"}\n");
    connection->send(big);
    connection->send("{\"kind\":\"rejected\"}\n");
    connection->cancel();
    // The receiver lets go of a cancelled connection at once; the bytes must still arrive.
    connection.reset();

    Bytes atPhone;
    bool closed = false;
    QObject::connect(&phone, &QTcpSocket::disconnected, [&] { closed = true; });
    ASSERT_TRUE(spinUntil([&] {
        atPhone += phone.readAll().toStdString();
        return closed;
    }));
    atPhone += phone.readAll().toStdString();
    EXPECT_EQ(atPhone, "{\"kind\":\"rejected\"}\n{\"kind\":\"rejected\"}\n" + big +
                           "{\"kind\":\"rejected\"}\n");
}

TEST_F(QtTcpConnectionTest, StartAndCancel_ReportLater_CancelFailsTheOutstandingReceive) {
    connection->start();
    EXPECT_TRUE(states.empty());
    ASSERT_TRUE(spinUntil([this] { return !states.empty(); }));
    EXPECT_EQ(states, std::vector{ConnectionState::ready});
    receiveContinuously();

    connection->cancel();
    EXPECT_EQ(states.size(), 1u);
    EXPECT_TRUE(chunks.empty());

    ASSERT_TRUE(spinUntil([this] { return states.size() == 2 && ended(); }));
    EXPECT_EQ(states.back(), ConnectionState::cancelled);
    EXPECT_TRUE(chunks.back().error.has_value());

    bool late = false;
    connection->receive(1, 4096, [&](ReceivedChunk chunk) { late = chunk.error.has_value(); });
    EXPECT_TRUE(spinUntil([&] { return late; }));
}

TEST_F(QtTcpConnectionTest, FinalReport_DropsTheHandlerThatHoldsTheConnection) {
    std::weak_ptr<Connection> watched = connection;
    bool cancelled = false;
    // As in the receiver: the handler keeps its own connection alive.
    connection->setStateHandler(
        [self = connection, &cancelled](ConnectionState state, std::optional<Error>) {
            cancelled = cancelled || state == ConnectionState::cancelled;
        });
    connection->start();
    connection->cancel();
    connection.reset();

    ASSERT_TRUE(spinUntil([&] { return cancelled; }));
    spinFor(20ms);
    EXPECT_TRUE(watched.expired());
}

TEST_F(QtTcpConnectionTest, Send_AfterPeerClosed_IsHarmless) {
    connection->start();
    receiveContinuously();
    phone.abort();
    ASSERT_TRUE(spinUntil([this] { return ended(); }));

    connection->send("{\"kind\":\"accepted\"}\n");
    connection->cancel();
    EXPECT_TRUE(spinUntil(
        [this] { return !states.empty() && states.back() == ConnectionState::cancelled; }));
}

} // namespace
} // namespace corvane
