#include "platform/qt/QtTcpListener.h"

#include "platform/qt/QtMainThread.h"
#include "support/QtEventLoop.h"

#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QHostAddress>
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
    Ticket publish(const AdvertisedService& service, std::uint16_t port,
                   StateHandler handler) override {
        published.emplace_back(service.name, port);
        onState = std::move(handler);
        return static_cast<Ticket>(published.size());
    }
    void withdraw(Ticket ticket) override { withdrawn.push_back(ticket); }

    std::vector<std::pair<std::string, std::uint16_t>> published;
    std::vector<Ticket> withdrawn;
    StateHandler onState;
};

// Every report of a listener, in order; reports are never made from inside a call.
struct Reports {
    explicit Reports(Listener& listener) {
        listener.setStateHandler([this](ListenerState state, std::optional<Error> error) {
            states.push_back(state);
            errors.push_back(std::move(error));
        });
        listener.setNewConnectionHandler(
            [this](std::shared_ptr<Connection> connection) { accepted.push_back(connection); });
        listener.setAdvertisingHandler(
            [this](std::optional<Error> problem) { advertising.push_back(std::move(problem)); });
    }
    std::vector<ListenerState> states;
    std::vector<std::optional<Error>> errors;
    std::vector<std::shared_ptr<Connection>> accepted;
    std::vector<std::optional<Error>> advertising;
};

class QtTcpListenerTest : public ::testing::Test {
protected:
    void SetUp() override { test::qtApplication(); }

    std::shared_ptr<QtTcpListener> listen(std::uint16_t port = 0) {
        auto listener = QtTcpListener::listen(port, mainThread, publisher);
        EXPECT_TRUE(listener.has_value());
        return listener ? *listener : nullptr;
    }

    std::shared_ptr<QtMainThread> mainThread = std::make_shared<QtMainThread>();
    std::shared_ptr<RecordingPublisher> publisher = std::make_shared<RecordingPublisher>();
};

TEST_F(QtTcpListenerTest, StartAndCancel_ReportLater_AdvertiseAndWithdrawOnlyTheirOwnService) {
    auto listener = listen();
    const auto port = listener->port();
    Reports reports(*listener);
    listener->setService({"Desk", "_corvane._tcp", {{"id", "HOST"}}});

    listener->start();
    publisher->onState(Error("avahi-daemon is not running"));
    EXPECT_TRUE(reports.states.empty() && reports.advertising.empty());
    ASSERT_TRUE(spinUntil([&] { return !reports.states.empty() && !reports.advertising.empty(); }));
    EXPECT_EQ(reports.states, std::vector{ListenerState::ready});
    EXPECT_EQ(reports.advertising[0], Error("avahi-daemon is not running"));
    EXPECT_EQ(publisher->published,
              (std::vector<std::pair<std::string, std::uint16_t>>{{"Desk", port}}));

    listener->cancel();
    publisher->onState(Error("late"));
    EXPECT_EQ(publisher->withdrawn, std::vector<DnsSdPublisher::Ticket>{1});
    // A restart right after a stop must get the same port back at once.
    auto successor = listen(port);
    EXPECT_EQ(QtTcpListener::listen(port, mainThread, publisher).error(),
              Error("Address already in use"));
    ASSERT_TRUE(spinUntil([&] { return reports.states.size() == 2; }));
    EXPECT_EQ(reports.states.back(), ListenerState::cancelled);
    EXPECT_EQ(reports.advertising.size(), 1u);

    // Letting go of the old listener must not withdraw the successor's advertisement.
    successor->setService({"Desk", "_corvane._tcp", {}});
    successor->start();
    listener.reset();
    EXPECT_EQ(publisher->withdrawn, std::vector<DnsSdPublisher::Ticket>{1});
}

// Held until started; after that, over both loopbacks. Without a publisher nobody can find us,
// which is a problem to show.
TEST_F(QtTcpListenerTest, NewConnection_BeforeStartIsHandedOutOnceStarted_Ipv6AlsoArrives) {
    auto listener = *QtTcpListener::listen(0, mainThread, nullptr);
    Reports reports(*listener);

    QTcpSocket overIpv4;
    overIpv4.connectToHost(QHostAddress::LocalHost, listener->port());
    ASSERT_TRUE(spinUntil([&] { return overIpv4.state() == QAbstractSocket::ConnectedState; }));
    spinFor(100ms);
    EXPECT_TRUE(reports.accepted.empty());
    listener->start();
    ASSERT_TRUE(
        spinUntil([&] { return reports.accepted.size() == 1 && reports.advertising.size() == 1; }));
    EXPECT_TRUE(reports.advertising[0].has_value());

    QTcpSocket overIpv6;
    overIpv6.connectToHost(QHostAddress::LocalHostIPv6, listener->port());
    ASSERT_TRUE(spinUntil([&] {
        return reports.accepted.size() == 2 ||
               overIpv6.error() != QAbstractSocket::UnknownSocketError;
    })) << "no connection over IPv6";
    if (reports.accepted.size() < 2 && overIpv6.error() == QAbstractSocket::NetworkError) {
        GTEST_SKIP() << "no IPv6 loopback here: " << overIpv6.errorString().toStdString();
    }
    EXPECT_EQ(reports.accepted.size(), 2u);
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
    auto listener = listen();
    Reports reports(*listener);
    listener->start();
    ASSERT_TRUE(spinUntil([&] { return reports.states.size() == 1; }));

    // A plain blocking connect: the kernel completes it from the backlog before anyone accepts.
    const int phone = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(listener->port());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(phone, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    // Out of descriptors: the lowest free one becomes the limit, so accept() gets EMFILE.
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    const int lowestFree = dup(0);
    close(lowestFree);
    rlimit starved = saved;
    starved.rlim_cur = static_cast<rlim_t>(lowestFree);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &starved), 0);
    spinFor(400ms);
    setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_EQ(reports.states.size(), 1u) << "a shortage is not a failed listener";
    EXPECT_TRUE(reports.accepted.empty());
    // Accepted on a later try, with descriptors to spare again.
    EXPECT_TRUE(spinUntil([&] { return reports.accepted.size() == 1; }, 5s));
    close(phone);

    ASSERT_EQ(shutdown(listeningSocket(listener->port()), SHUT_RDWR), 0);
    ASSERT_TRUE(spinUntil([&] { return reports.states.size() == 2; }, 5s));
    EXPECT_EQ(reports.states[1], ListenerState::failed);
    EXPECT_TRUE(reports.errors[1].has_value());
    spinFor(20ms);
    // The port is free again for the user's next start.
    EXPECT_TRUE(QtTcpListener::listen(listener->port(), mainThread, publisher).has_value());
}

} // namespace
} // namespace corvane
