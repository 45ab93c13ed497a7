#include "platform/qt/QtTcpListener.h"

#include "platform/qt/QtListenerFactory.h"
#include "platform/qt/QtMainThread.h"
#include "support/QtEventLoop.h"

#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <memory>
#include <vector>

namespace corvane {
namespace {

using test::spinFor;
using test::spinUntil;
using namespace std::chrono_literals;

class RecordingPublisher final : public DnsSdPublisher {
public:
    struct Published {
        AdvertisedService service;
        std::uint16_t port;
        Ticket ticket;
    };

    Ticket publish(const AdvertisedService& service, std::uint16_t port,
                   StateHandler handler) override {
        published.push_back({service, port, ++lastTicket});
        onState = std::move(handler);
        return lastTicket;
    }
    void withdraw(Ticket ticket) override { withdrawn.push_back(ticket); }

    std::vector<Published> published;
    std::vector<Ticket> withdrawn;
    Ticket lastTicket = 0;
    StateHandler onState;
};

class QtTcpListenerTest : public ::testing::Test {
protected:
    void SetUp() override { test::qtApplication(); }

    std::shared_ptr<QtTcpListener> listenOnFreePort() {
        auto listener = QtTcpListener::listen(0, mainThread, publisher);
        EXPECT_TRUE(listener.has_value());
        return listener ? *listener : nullptr;
    }

    std::shared_ptr<QtMainThread> mainThread = std::make_shared<QtMainThread>();
    std::shared_ptr<RecordingPublisher> publisher = std::make_shared<RecordingPublisher>();
};

TEST_F(QtTcpListenerTest, Listen_BusyPort_FailsWithAddressInUse) {
    QTcpServer occupant;
    ASSERT_TRUE(occupant.listen(QHostAddress::Any, 0));

    QtListenerFactory factory(mainThread, publisher);
    const auto listener = factory.makeListener(occupant.serverPort());

    ASSERT_FALSE(listener.has_value());
    EXPECT_EQ(listener.error().description(), "Address already in use");
}

TEST_F(QtTcpListenerTest, StartAndCancel_ReportLater_AdvertiseAndWithdrawOnlyTheirOwnService) {
    auto listener = listenOnFreePort();
    const auto port = listener->port();
    std::vector<ListenerState> states;
    listener->setStateHandler(
        [&](ListenerState state, std::optional<Error>) { states.push_back(state); });
    listener->setService({"Desk", "_corvane._tcp", {{"id", "HOST"}}});

    listener->start();
    EXPECT_TRUE(states.empty());
    ASSERT_TRUE(spinUntil([&] { return !states.empty(); }));
    EXPECT_EQ(states, std::vector{ListenerState::ready});
    ASSERT_EQ(publisher->published.size(), 1u);
    EXPECT_EQ(publisher->published[0].port, port);
    EXPECT_EQ(publisher->published[0].service.name, "Desk");
    EXPECT_EQ(publisher->published[0].service.txtRecord.at("id"), "HOST");

    listener->cancel();
    EXPECT_EQ(states.size(), 1u);
    EXPECT_EQ(publisher->withdrawn, std::vector<DnsSdPublisher::Ticket>{1});
    // A restart right after a stop must get the same port back at once.
    auto successor = QtTcpListener::listen(port, mainThread, publisher);
    ASSERT_TRUE(successor.has_value());
    ASSERT_TRUE(spinUntil([&] { return states.size() == 2; }));
    EXPECT_EQ(states.back(), ListenerState::cancelled);

    // Letting go of the old listener must not withdraw the successor's advertisement.
    (*successor)->setService({"Desk", "_corvane._tcp", {}});
    (*successor)->start();
    listener.reset();
    EXPECT_EQ(publisher->withdrawn, std::vector<DnsSdPublisher::Ticket>{1});
}

// Held until started; after that, over both loopbacks.
TEST_F(QtTcpListenerTest, NewConnection_BeforeStartIsHandedOutOnceStarted_Ipv6AlsoArrives) {
    auto listener = listenOnFreePort();
    std::vector<std::shared_ptr<Connection>> accepted;
    listener->setNewConnectionHandler(
        [&](std::shared_ptr<Connection> connection) { accepted.push_back(std::move(connection)); });

    QTcpSocket overIpv4;
    overIpv4.connectToHost(QHostAddress::LocalHost, listener->port());
    ASSERT_TRUE(spinUntil([&] { return overIpv4.state() == QAbstractSocket::ConnectedState; }));
    spinFor(100ms);
    EXPECT_TRUE(accepted.empty());
    listener->start();
    ASSERT_TRUE(spinUntil([&] { return accepted.size() == 1; }));

    QTcpSocket overIpv6;
    overIpv6.connectToHost(QHostAddress::LocalHostIPv6, listener->port());
    ASSERT_TRUE(spinUntil([&] {
        return accepted.size() == 2 || overIpv6.error() != QAbstractSocket::UnknownSocketError;
    })) << "no connection over IPv6";
    if (accepted.size() < 2 && overIpv6.error() == QAbstractSocket::NetworkError) {
        GTEST_SKIP() << "no IPv6 loopback here: " << overIpv6.errorString().toStdString();
    }
    EXPECT_EQ(accepted.size(), 2u);
}

TEST_F(QtTcpListenerTest, Handlers_AreDroppedAfterTheFinalReport) {
    auto listener = listenOnFreePort();
    auto witness = std::make_shared<int>(0);
    std::weak_ptr<int> watched = witness;
    bool cancelled = false;
    listener->setStateHandler([witness, &cancelled](ListenerState state, std::optional<Error>) {
        cancelled = cancelled || state == ListenerState::cancelled;
    });
    listener->setNewConnectionHandler([witness](std::shared_ptr<Connection>) {});
    witness.reset();
    listener->start();
    listener->cancel();

    ASSERT_TRUE(spinUntil([&] { return cancelled; }));
    spinFor(20ms);
    EXPECT_TRUE(watched.expired());
}

// The descriptor of this process's socket listening on `port`.
int listeningSocket(std::uint16_t port) {
    for (int fd = 3; fd < 1024; ++fd) {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        int accepting = 0;
        socklen_t flagLength = sizeof accepting;
        if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
            address.ss_family == AF_INET6 &&
            ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port) == port &&
            getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &accepting, &flagLength) == 0 && accepting) {
            return fd;
        }
    }
    return -1;
}

TEST_F(QtTcpListenerTest, AcceptFailure_ShortageIsRiddenOut_OnlyADeadSocketEndsTheListener) {
    auto listener = listenOnFreePort();
    std::vector<std::pair<ListenerState, std::optional<Error>>> reports;
    listener->setStateHandler([&](ListenerState state, std::optional<Error> error) {
        reports.emplace_back(state, std::move(error));
    });
    std::vector<std::shared_ptr<Connection>> accepted;
    listener->setNewConnectionHandler(
        [&](std::shared_ptr<Connection> connection) { accepted.push_back(std::move(connection)); });
    listener->start();
    ASSERT_TRUE(spinUntil([&] { return reports.size() == 1; }));

    // A plain blocking connect: the kernel completes it from the backlog before anyone accepts.
    const int phone = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(phone, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(listener->port());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(phone, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    // Out of descriptors: the lowest free one becomes the limit, so accept() gets EMFILE.
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    const int lowestFree = dup(0);
    ASSERT_GE(lowestFree, 0);
    close(lowestFree);
    rlimit starved = saved;
    starved.rlim_cur = static_cast<rlim_t>(lowestFree);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &starved), 0);
    spinFor(400ms);
    setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_EQ(reports.size(), 1u) << "a shortage is not a failed listener";
    EXPECT_TRUE(accepted.empty());
    // Accepted on a later try, with descriptors to spare again.
    EXPECT_TRUE(spinUntil([&] { return accepted.size() == 1; }, 5s));
    close(phone);

    const int server = listeningSocket(listener->port());
    ASSERT_GE(server, 0);
    ASSERT_EQ(shutdown(server, SHUT_RDWR), 0);
    ASSERT_TRUE(spinUntil([&] { return reports.size() == 2; }, 5s));
    EXPECT_EQ(reports[1].first, ListenerState::failed);
    ASSERT_TRUE(reports[1].second.has_value());
    EXPECT_FALSE(reports[1].second->description().empty());
    spinFor(20ms);
    // The port is free again for the user's next start.
    EXPECT_TRUE(QtTcpListener::listen(listener->port(), mainThread, publisher).has_value());
}

TEST_F(QtTcpListenerTest, Advertising_PublisherStatesArriveLater_NoPublisherIsAProblem) {
    std::vector<std::optional<Error>> states;
    const auto record = [&](std::optional<Error> problem) { states.push_back(std::move(problem)); };
    auto listener = listenOnFreePort();
    listener->setAdvertisingHandler(record);
    listener->setService({"Desk", "_corvane._tcp", {}});
    listener->start();
    publisher->onState(Error("avahi-daemon is not running"));
    EXPECT_TRUE(states.empty());
    ASSERT_TRUE(spinUntil([&] { return states.size() == 1; }));
    EXPECT_EQ(states[0], Error("avahi-daemon is not running"));
    publisher->onState(std::nullopt);
    ASSERT_TRUE(spinUntil([&] { return states.size() == 2; }));
    EXPECT_EQ(states[1], std::nullopt);
    listener->cancel();
    publisher->onState(Error("late"));
    spinFor(20ms);
    EXPECT_EQ(states.size(), 2u);

    auto unadvertised = QtTcpListener::listen(0, mainThread, nullptr);
    ASSERT_TRUE(unadvertised.has_value());
    (*unadvertised)->setAdvertisingHandler(record);
    (*unadvertised)->start();
    ASSERT_TRUE(spinUntil([&] { return states.size() == 3; }));
    EXPECT_TRUE(states[2].has_value());
}

} // namespace
} // namespace corvane
