#include "platform/qt/QtMainThread.h"
#include "platform/qt/QtTcpListener.h"
#include "support/QtEventLoop.h"

#include <gtest/gtest.h>

#include <QHostAddress>
#include <QTcpSocket>

namespace corvane {
namespace {

using test::spinFor;
using test::spinUntil;
using namespace std::chrono_literals;

// One accepted connection on the desktop side and a plain socket playing the phone.
class QtTcpConnectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::qtApplication();
        listener = *QtTcpListener::listen(0, std::make_shared<QtMainThread>(), nullptr);
        listener->setNewConnectionHandler(
            [this](std::shared_ptr<Connection> accepted) { connection = std::move(accepted); });
        listener->start();
        phone.connectToHost(QHostAddress::LocalHost, listener->port());
        ASSERT_TRUE(spinUntil([this] { return connection != nullptr; }));
    }

    void start() {
        connection->start([this](ReceivedChunk chunk) {
            EXPECT_FALSE(ended) << "nothing after the end";
            EXPECT_LE(chunk.content.size(), Connection::maximumChunk);
            received += chunk.content;
            ended = chunk.isComplete || chunk.error;
            error = chunk.error;
        });
    }

    std::shared_ptr<QtTcpListener> listener;
    std::shared_ptr<Connection> connection;
    QTcpSocket phone;
    Bytes received;
    bool ended = false;
    std::optional<Error> error;
};

// Bytes that came before the handler are handed out after start() returns, without waiting for
// more, and before an end that came early too; the rest follows as it arrives, in order, in
// chunks of at most 4096 bytes, then the end.
class QtTcpStreamTest : public QtTcpConnectionTest, public ::testing::WithParamInterface<bool> {};

TEST_P(QtTcpStreamTest, Stream_ArrivesInOrderThenTheEnd_WhenEverTheHandlerCame) {
    const bool closedEarly = GetParam();
    const Bytes early(10000, 'e');
    phone.write(early.data(), static_cast<qint64>(early.size()));
    if (closedEarly) {
        phone.disconnectFromHost();
    }
    spinFor(100ms);
    start();
    EXPECT_TRUE(received.empty()) << "never from inside start";
    ASSERT_TRUE(spinUntil([&] { return received == early; }));
    Bytes late;
    for (int i = 0; !closedEarly && late.size() < 50000; ++i) {
        late += std::to_string(i) + ',';
    }
    phone.write(late.data(), static_cast<qint64>(late.size()));
    phone.disconnectFromHost();
    ASSERT_TRUE(spinUntil([this] { return ended; }));
    EXPECT_EQ(received, early + late);
    EXPECT_FALSE(error);
}

INSTANTIATE_TEST_SUITE_P(ClosedEarly, QtTcpStreamTest, ::testing::Bool());

// The receiver cancels or lets go of its client from inside a delivery; the socket must survive
// its own notification, and what was queued before the cancel still reaches the phone.
TEST_F(QtTcpConnectionTest, CancelFromInsideADelivery_FlushesQueuedRepliesThenCloses) {
    const Bytes big(300000, 'x');
    connection->start([this, &big](ReceivedChunk) {
        connection->send("{\"kind\":\"rejected\"}\n");
        connection->send(big);
        connection->cancel();
        connection.reset();
    });
    phone.write("{\"kind\":\"hello\"}\n");
    Bytes atPhone;
    ASSERT_TRUE(spinUntil([&] {
        atPhone += phone.readAll().toStdString();
        return phone.state() == QAbstractSocket::UnconnectedState;
    }));
    atPhone += phone.readAll().toStdString();
    EXPECT_EQ(atPhone, "{\"kind\":\"rejected\"}\n" + big);
}

} // namespace
} // namespace corvane
