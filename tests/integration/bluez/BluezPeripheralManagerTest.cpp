#include "platform/bluez/BluezPeripheralManager.h"

#include "BluezTestEnvironment.h"
#include "bluetooth/BluetoothTouchReceiver.h"
#include "platform/bluez/BluezPeripheralManagerFactory.h"
#include "protocol/TouchService.h"

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QJsonArray>
#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace corvane {
namespace {

using namespace std::chrono_literals;
using test::FakeBluez;
using test::spinFor;
using test::spinUntil;

const BluetoothUUID serviceID(TouchService::bluetoothServiceUUID);
const BluetoothUUID commandID(TouchService::bluetoothCommandUUID);
const BluetoothUUID statusID(TouchService::bluetoothStatusUUID);

ServiceDescription touchService() {
    return {serviceID,
            true,
            {{commandID, CharacteristicProperty::write, AttributePermission::writeable},
             {statusID, CharacteristicProperty::notify, 0}}};
}

QString lower(const BluetoothUUID& uuid) {
    return QString::fromStdString(uuid.text()).toLower();
}

CentralID centralOf(const QString& device) {
    return BluezPeripheralManager::centralFor(QStringLiteral("/org/bluez/hci0/dev_") + device);
}

// Logs every report; answers each write with `answer` (success unless told otherwise).
struct RecordingDelegate : PeripheralManagerDelegate {
    std::vector<PeripheralState> states;
    std::vector<std::optional<Error>> added;
    std::vector<std::pair<CentralID, std::string>> subscribed;
    std::vector<std::pair<CentralID, std::string>> unsubscribed;
    std::vector<WriteRequest> writes;
    int readiness = 0;
    std::function<AttResult(const WriteRequest&)> answer = [](const WriteRequest&) {
        return AttResult::success;
    };

    void didUpdateState(PeripheralManager&, PeripheralState state) override {
        states.push_back(state);
    }
    void didAddService(PeripheralManager&, std::optional<Error> error) override {
        added.push_back(std::move(error));
    }
    void didSubscribe(PeripheralManager&, const CentralID& central,
                      const BluetoothUUID& characteristic) override {
        subscribed.emplace_back(central, characteristic.text());
    }
    void didUnsubscribe(PeripheralManager&, const CentralID& central,
                        const BluetoothUUID& characteristic) override {
        unsubscribed.emplace_back(central, characteristic.text());
    }
    void didReceiveWriteRequests(PeripheralManager& manager,
                                 const std::vector<WriteRequest>& requests) override {
        for (const WriteRequest& request : requests) {
            writes.push_back(request);
            manager.respond(request, answer(request));
        }
    }
    void isReadyToUpdateSubscribers(PeripheralManager&) override { ++readiness; }
};

class BluezPeripheralTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(test::sharedBus().address().isEmpty()); }

    void TearDown() override {
        manager.reset();
        fake.reset();
    }

    void startFake(const QStringList& options = {}) {
        fake = std::make_unique<FakeBluez>(test::sharedBus().address(), options);
        ASSERT_TRUE(fake->ready());
    }

    void makeManager() {
        manager = BluezPeripheralManagerFactory(QDBusConnection::systemBus())
                      .makePeripheralManager(delegate);
    }

    void start(const QStringList& options = {}) {
        startFake(options);
        makeManager();
    }

    bool reaches(PeripheralState state) {
        return spinUntil(
            [&] { return !delegate->states.empty() && delegate->states.back() == state; });
    }

    QJsonObject status() { return fake->command("status"); }

    // Adds our service and returns what its report said.
    std::optional<Error> addService() {
        const auto before = delegate->added.size();
        manager->addService(touchService());
        if (!spinUntil([&] { return delegate->added.size() > before; })) {
            return Error("no report");
        }
        return delegate->added.back();
    }

    // A powered adapter with our service registered.
    void publish() {
        start();
        ASSERT_TRUE(reaches(PeripheralState::poweredOn));
        const auto error = addService();
        ASSERT_FALSE(error.has_value()) << error->description();
    }

    CentralID subscribe(const QString& device, int mtu) {
        EXPECT_TRUE(fake->command("connect " + device)["ok"].toBool());
        const auto before = delegate->subscribed.size();
        const auto reply = fake->command(QStringLiteral("subscribe %1 %2").arg(device).arg(mtu));
        EXPECT_TRUE(reply["ok"].toBool()) << reply["message"].toString().toStdString();
        EXPECT_TRUE(spinUntil([&] { return delegate->subscribed.size() > before; }));
        return centralOf(device);
    }

    QJsonObject write(const QString& device, int mtu, int offset, const QString& hex) {
        return fake->command(
            QStringLiteral("write %1 %2 %3 %4").arg(device).arg(mtu).arg(offset).arg(hex));
    }

    std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
    std::shared_ptr<PeripheralManager> manager;
    std::unique_ptr<FakeBluez> fake;
};

TEST_F(BluezPeripheralTest, State_BluezAdapterOrAdvertisingMissing_Unsupported) {
    const std::vector<std::pair<const char*, std::optional<QStringList>>> rows = {
        {"no BlueZ on the bus", std::nullopt},
        {"no adapter", QStringList{"--no-adapter"}},
        {"no advertising manager", QStringList{"--no-advertising"}},
    };
    for (const auto& [name, options] : rows) {
        SCOPED_TRACE(name);
        manager.reset();
        fake.reset();
        delegate = std::make_shared<RecordingDelegate>();
        if (options) {
            start(*options);
        } else {
            makeManager();
        }
        EXPECT_TRUE(reaches(PeripheralState::unsupported));
    }
}

TEST_F(BluezPeripheralTest, State_PowerOffAndOn_ReportedOnceEachUntilTheDelegateGoes) {
    start({"--powered", "off"});
    ASSERT_TRUE(reaches(PeripheralState::poweredOff));
    fake->command("power on");
    ASSERT_TRUE(reaches(PeripheralState::poweredOn));
    fake->command("power off");
    ASSERT_TRUE(reaches(PeripheralState::poweredOff));
    spinFor(100ms);
    EXPECT_EQ(delegate->states,
              (std::vector{PeripheralState::poweredOff, PeripheralState::poweredOn,
                           PeripheralState::poweredOff}));

    // The manager holds its delegate weakly, and drops the reports of one that has gone.
    std::weak_ptr<RecordingDelegate> watched = delegate;
    delegate.reset();
    fake->command("power on");
    spinFor(200ms);
    EXPECT_TRUE(watched.expired());
}

TEST_F(BluezPeripheralTest, State_BluezLeavesAndReturns_UnsupportedThenServesAgain) {
    publish();
    fake.reset();
    ASSERT_TRUE(reaches(PeripheralState::unsupported));

    startFake();
    ASSERT_TRUE(reaches(PeripheralState::poweredOn));
    EXPECT_FALSE(addService().has_value());
    EXPECT_EQ(status()["registrations"].toInt(), 1);
}

// BlueZ reads the objects back itself; adding again, as on every power-on, replaces them.
TEST_F(BluezPeripheralTest, AddService_RegisteredAndAddedAgain_BluezReadsOurObjects) {
    publish();
    EXPECT_FALSE(addService().has_value());
    EXPECT_EQ(status()["registrations"].toInt(), 2);

    std::vector<std::string> found;
    for (const auto& object : status()["application"].toObject()) {
        const auto service = object.toObject()["org.bluez.GattService1"].toObject();
        const auto chrc = object.toObject()["org.bluez.GattCharacteristic1"].toObject();
        const QString text =
            service.isEmpty()
                ? chrc["UUID"].toString() + ' ' +
                      chrc["Flags"].toVariant().toStringList().join(',') +
                      (chrc.contains("NotifyAcquired") ? " NotifyAcquired" : "")
                : service["UUID"].toString() + (service["Primary"].toBool() ? " primary" : "");
        found.push_back(text.toStdString());
    }
    std::vector<std::string> expected{(lower(serviceID) + " primary").toStdString(),
                                      (lower(commandID) + " write").toStdString(),
                                      (lower(statusID) + " notify NotifyAcquired").toStdString()};
    std::ranges::sort(found);
    std::ranges::sort(expected);
    EXPECT_EQ(found, expected);
}

TEST_F(BluezPeripheralTest, AddService_BluezRefuses_ReportsItsMessage) {
    start({"--register-error", "No room at the inn"});
    ASSERT_TRUE(reaches(PeripheralState::poweredOn));
    const auto error = addService();
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->description(), "No room at the inn");
}

TEST_F(BluezPeripheralTest, Advertising_Started_PeripheralWithServiceAndName) {
    publish();
    manager->startAdvertising({{serviceID}, "Corvane Mac"});
    QJsonObject advertisement;
    ASSERT_TRUE(spinUntil([&] {
        advertisement = status()["advertisement"].toObject();
        return !advertisement.isEmpty();
    }));
    EXPECT_EQ(advertisement["Type"].toString().toStdString(), "peripheral");
    EXPECT_EQ(advertisement["ServiceUUIDs"].toArray(), QJsonArray{lower(serviceID)});
    EXPECT_EQ(advertisement["LocalName"].toString().toStdString(), "Corvane Mac");

    manager->stopAdvertising();
    EXPECT_TRUE(spinUntil([&] { return status()["advertisement"].isNull(); }));
}

// Each write reaches the delegate as sent, and its answer goes back to the central.
TEST_F(BluezPeripheralTest, Write_AnswersFollowTheDelegate) {
    publish();
    subscribe("AA_BB", 185);
    delegate->answer = [](const WriteRequest& request) {
        if (request.offset != 0 || !request.value) {
            return AttResult::writeNotPermitted;
        }
        return *request.value == "big" ? AttResult::invalidAttributeValueLength
                                       : AttResult::success;
    };
    struct Row {
        const char* device;
        int offset;
        const char* hex; // "-": an empty write, which carries no value at all
        std::optional<Bytes> value;
        std::string error; // empty: answered success
    };
    const Row rows[] = {
        {"AA_BB", 0, "68690a", Bytes("hi\n"), {}},
        {"AA_BB", 1, "68", Bytes("h"), "org.bluez.Error.NotPermitted"},
        {"AA_BB", 0, "-", std::nullopt, "org.bluez.Error.NotPermitted"},
        {"AA_BB", 0, "626967", Bytes("big"), "org.bluez.Error.InvalidValueLength"},
        // Another device writes under its own name.
        {"CC_DD", 0, "68", Bytes("h"), {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.device) + " at " + std::to_string(row.offset) + ": " +
                     row.hex);
        const auto before = delegate->writes.size();
        const auto reply = write(row.device, 185, row.offset, row.hex);
        EXPECT_EQ(reply["ok"].toBool(), row.error.empty());
        EXPECT_EQ(reply["error"].toString().toStdString(), row.error);
        ASSERT_EQ(delegate->writes.size(), before + 1);
        const WriteRequest& request = delegate->writes.back();
        EXPECT_EQ(request.value, row.value);
        EXPECT_EQ(request.offset, static_cast<std::size_t>(row.offset));
        EXPECT_EQ(request.characteristic, commandID);
        EXPECT_EQ(request.central, centralOf(row.device));
    }
}

// Drops the manager from inside the write report, before answering.
struct DroppingDelegate : RecordingDelegate {
    std::shared_ptr<PeripheralManager>* owner = nullptr;
    void didReceiveWriteRequests(PeripheralManager&,
                                 const std::vector<WriteRequest>& requests) override {
        writes.insert(writes.end(), requests.begin(), requests.end());
        owner->reset();
    }
};

TEST_F(BluezPeripheralTest, Write_ManagerGoesBeforeAnswering_WriteIsRefused) {
    auto dropping = std::make_shared<DroppingDelegate>();
    dropping->owner = &manager;
    delegate = dropping;
    publish();
    subscribe("AA_BB", 185);

    EXPECT_EQ(write("AA_BB", 185, 0, "68")["error"].toString().toStdString(),
              "org.bluez.Error.Failed");
    EXPECT_EQ(manager, nullptr);
    EXPECT_EQ(delegate->writes.size(), 1u);
}

TEST_F(BluezPeripheralTest, Notify_SocketFull_RefusesThenReportsReadiness) {
    publish();
    const CentralID central = subscribe("AA_BB", 23);
    const Bytes chunk(20, 'x');
    int accepted = 0;
    while (accepted < 1000000 && manager->updateValue(chunk, statusID, central)) {
        ++accepted;
    }
    ASSERT_LT(accepted, 1000000) << "the stack never refused";
    spinFor(100ms);
    EXPECT_EQ(delegate->readiness, 0);

    EXPECT_EQ(fake->command("read AA_BB")["records"].toArray().size(), accepted);
    EXPECT_TRUE(spinUntil([&] { return delegate->readiness == 1; }));
    EXPECT_TRUE(manager->updateValue(chunk, statusID, central));
}

// Each AcquireNotify subscribes its device's central; closing its socket, disconnecting or the
// device object going away ends that.
TEST_F(BluezPeripheralTest, Subscription_AcquiredThenSocketClosedOrDeviceGone_Reported) {
    publish();
    const CentralID first = subscribe("AA_BB", 185);
    const CentralID second = subscribe("CC_DD", 185);
    const CentralID third = subscribe("EE_FF", 185);
    EXPECT_NE(first, second);
    EXPECT_EQ(delegate->subscribed,
              (std::vector{std::pair(first, statusID.text()), std::pair(second, statusID.text()),
                           std::pair(third, statusID.text())}));
    EXPECT_EQ(manager->maximumUpdateValueLength(first), 182u);
    EXPECT_EQ(manager->maximumUpdateValueLength("someone else"), 0u);

    fake->command("unsubscribe AA_BB");
    ASSERT_TRUE(spinUntil([&] { return delegate->unsubscribed.size() == 1; }));
    EXPECT_EQ(delegate->unsubscribed[0], std::make_pair(first, statusID.text()));

    fake->command("disconnect CC_DD");
    ASSERT_TRUE(spinUntil([&] { return delegate->unsubscribed.size() == 2; }));
    EXPECT_EQ(delegate->unsubscribed[1], std::make_pair(second, statusID.text()));
    // Its notifications have nowhere to go, and must not stall a queue.
    EXPECT_TRUE(manager->updateValue("x", statusID, second));
    spinFor(100ms);
    EXPECT_EQ(delegate->unsubscribed.size(), 2u);

    fake->command("remove EE_FF");
    ASSERT_TRUE(spinUntil([&] { return delegate->unsubscribed.size() == 3; }));
    EXPECT_EQ(delegate->unsubscribed[2], std::make_pair(third, statusID.text()));
}

TEST(BluezPeripheralRefusedTest, State_BusDeniesUs_Unauthorized) {
    test::qtApplication();
    test::PrivateSystemBus denying("<deny send_destination=\"org.bluez\"/>"
                                   "<deny send_interface=\"org.freedesktop.DBus.ObjectManager\"/>");
    ASSERT_FALSE(denying.address().isEmpty());
    FakeBluez fake(denying.address());
    ASSERT_TRUE(fake.ready());
    auto bus = QDBusConnection::connectToBus(denying.address(), "denying");
    ASSERT_TRUE(bus.isConnected());
    auto delegate = std::make_shared<RecordingDelegate>();
    {
        auto manager = BluezPeripheralManagerFactory(bus).makePeripheralManager(delegate);
        ASSERT_TRUE(spinUntil([&] { return !delegate->states.empty(); }));
        EXPECT_EQ(delegate->states.front(), PeripheralState::unauthorized);
    }
    QDBusConnection::disconnectFromBus("denying");
}

// The transport over BlueZ: its replies go out in chunks the central can take, and stopping
// withdraws everything. (Its statuses and refusals are the unit tests' business.)
TEST_F(BluezPeripheralTest, Transport_OverBluez_ChunksRepliesAndWithdrawsOnStop) {
    startFake();
    auto transport = BluetoothTouchReceiver::create(
        std::make_shared<BluezPeripheralManagerFactory>(QDBusConnection::systemBus()));
    TouchMessage rejected;
    rejected.kind = TouchMessage::Kind::rejected;
    std::vector<TouchMessage::Kind> received;
    transport->onMessage = [&](const TouchMessage& message, const CentralID&) {
        received.push_back(message.kind);
        return std::optional<TouchMessage>(rejected);
    };
    transport->start();
    ASSERT_TRUE(spinUntil([&] { return !status()["advertisement"].isNull(); }));
    EXPECT_TRUE(fake->command("connect AA_BB")["ok"].toBool());
    EXPECT_TRUE(fake->command("subscribe AA_BB 13")["ok"].toBool());
    ASSERT_TRUE(spinUntil([&] { return transport->subscribedCentral().has_value(); }));

    const QString hello = QString::fromLatin1(QByteArray("{\"kind\":\"hello\"}\n").toHex());
    EXPECT_TRUE(write("AA_BB", 13, 0, hello)["ok"].toBool());
    EXPECT_EQ(received, std::vector{TouchMessage::Kind::hello});
    // Each chunk is one notification record, of at most the length the central asked for.
    QByteArray joined;
    for (const auto& record : fake->command("read AA_BB")["records"].toArray()) {
        const QByteArray bytes = QByteArray::fromHex(record.toString().toLatin1());
        EXPECT_LE(bytes.size(), 10); // mtu 13 less the ATT header
        joined += bytes;
    }
    EXPECT_EQ(joined.toStdString(), *rejected.line());

    transport->stop();
    EXPECT_TRUE(spinUntil([&] {
        const auto now = status();
        return now["advertisement"].isNull() && now["application"].isNull();
    }));
}

} // namespace
} // namespace corvane
