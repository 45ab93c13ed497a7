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

    // The completion of a read that arrives while it waits ends the connection from inside the
    // socket's own notification; the socket must survive that.
    void endInsideReadCompletion(bool cancelFirst) {
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

    std::shared_ptr<CountingMainThread> mainThread = std::make_shared<CountingMainThread>();
    std::shared_ptr<QtTcpListener> listener;
    std::shared_ptr<Connection> connection;
    QTcpSocket phone;
    std::vector<ConnectionState> states;
    std::vector<ReceivedChunk> chunks;
    Bytes received;
};

TEST_F(QtTcpConnectionTest, Start_ReportsReadyOnlyAfterReturning) {
    connection->start();
    EXPECT_TRUE(states.empty());

    ASSERT_TRUE(spinUntil([this] { return !states.empty(); }));
    EXPECT_EQ(states, std::vector{ConnectionState::ready});
}

TEST_F(QtTcpConnectionTest, Receive_LargeStream_ArrivesInOrderInChunksOfAtMost4096) {
    connection->start();
    Bytes payload;
    for (int i = 0; payload.size() < 50000; ++i) {
        payload += std::to_string(i) + ',';
    }
    receiveContinuously();
    phone.write(payload.data(), static_cast<qint64>(payload.size()));
    phone.disconnectFromHost();

    ASSERT_TRUE(spinUntil([this] { return ended(); }));
    EXPECT_EQ(received, payload);
    for (const auto& chunk : chunks) {
        EXPECT_LE(chunk.content.value_or("").size(), 4096u);
    }
    EXPECT_TRUE(chunks.back().isComplete);
    EXPECT_FALSE(chunks.back().error.has_value());
}

TEST_F(QtTcpConnectionTest, Receive_CompletesOnlyAfterReturning) {
    connection->start();
    phone.write("hello\n");
    spinFor(100ms);
    bool completed = false;
    connection->receive(1, 4096, [&](ReceivedChunk) { completed = true; });
    EXPECT_FALSE(completed);
    EXPECT_TRUE(spinUntil([&] { return completed; }));
}

TEST_F(QtTcpConnectionTest, Receive_OutstandingWhenBytesArrive_CompletesWithoutQueueing) {
    startAndWait();
    std::optional<ReceivedChunk> got;
    connection->receive(1, 4096, [&](ReceivedChunk chunk) { got = std::move(chunk); });
    const int queuedBefore = mainThread->posted;
    phone.write("{\"kind\":\"move\"}\n");

    ASSERT_TRUE(spinUntil([&] { return got.has_value(); }));
    EXPECT_EQ(got->content, "{\"kind\":\"move\"}\n");
    EXPECT_EQ(mainThread->posted, queuedBefore);
}

TEST_F(QtTcpConnectionTest, Receive_AskedAgainInsideACompletion_CompletesOnlyAfterItReturns) {
    startAndWait();
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
}

TEST_F(QtTcpConnectionTest, Receive_CompletionCancelsAndLetsGo_ConnectionEndsCleanly) {
    endInsideReadCompletion(true);
}

TEST_F(QtTcpConnectionTest, Receive_CompletionLetsGoWithoutCancelling_ConnectionEndsCleanly) {
    endInsideReadCompletion(false);
}

TEST_F(QtTcpConnectionTest, Receive_PeerWritesAndClosesAtOnce_DataComesBeforeTheEnd) {
    connection->start();
    phone.write("{\"kind\":\"hello\"}\n");
    phone.disconnectFromHost();
    spinFor(200ms);

    receiveContinuously();
    ASSERT_TRUE(spinUntil([this] { return ended(); }));
    EXPECT_EQ(received, "{\"kind\":\"hello\"}\n");
    EXPECT_TRUE(chunks.back().isComplete);
}

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

TEST_F(QtTcpConnectionTest, Cancel_ReportsCancelledLaterAndFailsTheOutstandingReceive) {
    connection->start();
    ASSERT_TRUE(spinUntil([this] { return !states.empty(); }));
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
