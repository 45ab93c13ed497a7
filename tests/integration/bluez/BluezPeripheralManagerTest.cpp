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
    std::vector<std::optional<Error>> advertised;
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
    void didStartAdvertising(PeripheralManager&, std::optional<Error> error) override {
        advertised.push_back(std::move(error));
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

// Every test runs against both notification models of the fake: BlueZ 5.66's one shared socket
// per characteristic ("shared"), and the socket per device of later releases ("per-device").
class BluezPeripheralTest : public ::testing::TestWithParam<const char*> {
protected:
    bool sharedSocket() const { return std::string(GetParam()) == "shared"; }

    void SetUp() override { ASSERT_FALSE(test::sharedBus().address().isEmpty()); }

    void TearDown() override {
        manager.reset();
        fake.reset();
    }

    void startFake(const QStringList& options = {}) {
        fake = std::make_unique<FakeBluez>(test::sharedBus().address(),
                                           QStringList{"--notify", GetParam()} + options);
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

    // Connects and subscribes `device`; BlueZ tells us unless it shares a socket already held.
    CentralID subscribe(const QString& device, int mtu, bool announced = true) {
        EXPECT_TRUE(fake->command("connect " + device)["ok"].toBool());
        const auto before = delegate->subscribed.size();
        const auto reply = fake->command(QStringLiteral("subscribe %1 %2").arg(device).arg(mtu));
        EXPECT_TRUE(reply["ok"].toBool()) << reply["message"].toString().toStdString();
        if (announced) {
            EXPECT_TRUE(spinUntil([&] { return delegate->subscribed.size() > before; }));
        } else {
            spinFor(100ms);
            EXPECT_EQ(delegate->subscribed.size(), before);
        }
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

TEST_P(BluezPeripheralTest, State_BluezAdapterOrAdvertisingMissing_Unsupported) {
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

TEST_P(BluezPeripheralTest, State_PowerOffAndOn_ReportedOnceEachUntilTheDelegateGoes) {
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

TEST_P(BluezPeripheralTest, State_BluezLeavesAndReturns_UnsupportedThenServesAgain) {
    publish();
    fake.reset();
    ASSERT_TRUE(reaches(PeripheralState::unsupported));

    startFake();
    ASSERT_TRUE(reaches(PeripheralState::poweredOn));
    EXPECT_FALSE(addService().has_value());
    EXPECT_EQ(status()["registrations"].toInt(), 1);
}

// BlueZ reads the objects back itself; adding again, as on every power-on, replaces them.
TEST_P(BluezPeripheralTest, AddService_RegisteredAndAddedAgain_BluezReadsOurObjects) {
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

// Found by phones scanning for new devices, in what a legacy advertisement and its scan response
// hold: the flags and our 128-bit UUID in one, the name in the other.
TEST_P(BluezPeripheralTest, Advertising_Started_GenerallyDiscoverableWithServiceAndName) {
    publish();
    manager->startAdvertising({{serviceID}, "Corvane Mac"});
    QJsonObject now;
    ASSERT_TRUE(spinUntil([&] {
        now = status();
        return now["advertisement"].isObject();
    }));
    const QJsonObject advertisement = now["advertisement"].toObject();
    EXPECT_EQ(advertisement["Type"].toString().toStdString(), "peripheral");
    EXPECT_EQ(advertisement["ServiceUUIDs"].toArray(), QJsonArray{lower(serviceID)});
    EXPECT_EQ(advertisement["LocalName"].toString().toStdString(), "Corvane Mac");
    EXPECT_TRUE(advertisement["Discoverable"].toBool());
    const std::string data = now["advertising_data"].toString().toStdString();
    EXPECT_EQ(data.substr(0, 6), "020106") << "LE General Discoverable, BR/EDR not supported";
    EXPECT_LE(data.size() / 2, 31u);
    EXPECT_EQ(now["scan_response"].toString().toStdString(),
              "0c09" + QByteArray("Corvane Mac").toHex().toStdString());
    EXPECT_TRUE(spinUntil([&] { return !delegate->advertised.empty(); }));
    EXPECT_EQ(delegate->advertised, std::vector<std::optional<Error>>{std::nullopt});

    manager->stopAdvertising();
    EXPECT_TRUE(spinUntil([&] { return status()["advertisement"].isNull(); }));
}

// Each write reaches the delegate as sent, and its answer goes back to the central.
TEST_P(BluezPeripheralTest, Write_AnswersFollowTheDelegate) {
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

TEST_P(BluezPeripheralTest, Write_ManagerGoesBeforeAnswering_WriteIsRefused) {
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

TEST_P(BluezPeripheralTest, Notify_SocketFull_RefusesThenReportsReadiness) {
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

// Subscriptions as far as BlueZ shows them. On 5.66 the second device shares the first one's
// socket unannounced, and is taken as subscribed when it writes with nobody else subscribed. A
// socket BlueZ closes ends the subscription of everyone behind it; so does a disconnection, or
// the device object going away.
TEST_P(BluezPeripheralTest, Subscription_AsFarAsBluezTellsIt_ReportedAndEnded) {
    publish();
    const CentralID first = subscribe("AA_BB", 185);
    const CentralID second = subscribe("CC_DD", 185, !sharedSocket());
    EXPECT_NE(first, second);
    EXPECT_EQ(manager->maximumUpdateValueLength(first), 182u);
    EXPECT_EQ(manager->maximumUpdateValueLength("someone else"), 0u);

    fake->command("disconnect AA_BB");
    ASSERT_TRUE(spinUntil([&] { return delegate->unsubscribed.size() == 1; }));
    // Its notifications have nowhere to go, and must not stall a queue.
    EXPECT_TRUE(manager->updateValue("x", statusID, first));

    EXPECT_TRUE(write("CC_DD", 185, 0, "68")["ok"].toBool());
    fake->command("unsubscribe CC_DD");
    ASSERT_TRUE(spinUntil([&] { return delegate->unsubscribed.size() == 2; }));

    const CentralID third = subscribe("EE_FF", 517);
    EXPECT_EQ(manager->maximumUpdateValueLength(third), 512u) << "what BlueZ reads at once";
    fake->command("remove EE_FF");
    ASSERT_TRUE(spinUntil([&] { return delegate->unsubscribed.size() == 3; }));

    spinFor(100ms);
    const std::vector expected{std::pair(first, statusID.text()),
                               std::pair(second, statusID.text()),
                               std::pair(third, statusID.text())};
    EXPECT_EQ(delegate->subscribed, expected);
    EXPECT_EQ(delegate->unsubscribed, expected);
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

// The transport over BlueZ, answering every message with `reply`.
class BluezTransportTest : public BluezPeripheralTest {
protected:
    void TearDown() override {
        transport.reset();
        BluezPeripheralTest::TearDown();
    }

    void startTransport() {
        transport = BluetoothTouchReceiver::create(
            std::make_shared<BluezPeripheralManagerFactory>(QDBusConnection::systemBus()));
        transport->onMessage = [this](const TouchMessage& message, const CentralID&) {
            received.push_back(message.kind);
            return std::optional<TouchMessage>(reply);
        };
        transport->onStatus = [this](const std::string& text) { statuses.push_back(text); };
        transport->onDisconnect = [this](const CentralID& central) {
            disconnects.push_back(central);
        };
        transport->start();
    }

    bool advertising() {
        return spinUntil([&] { return !status()["advertisement"].isNull(); });
    }

    // Writes a hello as `device` and returns the notification records it then finds.
    std::vector<QByteArray> hello(const QString& device, int mtu) {
        const QString line = QString::fromLatin1(QByteArray("{\"kind\":\"hello\"}\n").toHex());
        EXPECT_TRUE(write(device, mtu, 0, line)["ok"].toBool());
        std::vector<QByteArray> records;
        for (const auto& record : fake->command("read " + device)["records"].toArray()) {
            records.push_back(QByteArray::fromHex(record.toString().toLatin1()));
        }
        return records;
    }

    TouchMessage reply;
    std::shared_ptr<BluetoothTouchReceiver> transport;
    std::vector<TouchMessage::Kind> received;
    std::vector<std::string> statuses;
    std::vector<CentralID> disconnects;
};

// Each chunk is one notification record of at most what BlueZ reads at once (512 bytes, however
// large the MTU), and the records join up to the reply line; stopping withdraws everything.
TEST_P(BluezTransportTest, Replies_LeaveInRecordsBluezReadsWhole_StopWithdraws) {
    reply.kind = TouchMessage::Kind::accepted;
    reply.hostID = std::string(570, 'h');
    startFake();
    startTransport();
    ASSERT_TRUE(advertising());
    EXPECT_TRUE(fake->command("connect AA_BB")["ok"].toBool());
    EXPECT_TRUE(fake->command("subscribe AA_BB 517")["ok"].toBool());
    ASSERT_TRUE(spinUntil([&] { return transport->subscribedCentral().has_value(); }));

    const auto records = hello("AA_BB", 517);
    EXPECT_EQ(records.size(), 2u);
    QByteArray joined;
    for (const QByteArray& record : records) {
        EXPECT_LE(record.size(), 512);
        joined += record;
    }
    EXPECT_EQ(joined.toStdString(), *reply.line());

    transport->stop();
    EXPECT_TRUE(spinUntil([&] {
        const auto now = status();
        return now["advertisement"].isNull() && now["application"].isNull();
    }));
}

// A bonded phone keeps its subscription across a disconnection, and BlueZ does not announce it
// when the phone returns; it is served again all the same.
TEST_P(BluezTransportTest, BondedPhoneReturns_ServedAgain) {
    reply.kind = TouchMessage::Kind::rejected;
    startFake();
    startTransport();
    ASSERT_TRUE(advertising());
    EXPECT_TRUE(fake->command("connect AA_BB bonded")["ok"].toBool());
    EXPECT_TRUE(fake->command("subscribe AA_BB 23")["acquired"].toBool());
    ASSERT_TRUE(spinUntil([&] { return transport->subscribedCentral().has_value(); }));
    EXPECT_FALSE(hello("AA_BB", 23).empty());

    fake->command("disconnect AA_BB");
    ASSERT_TRUE(spinUntil([&] { return disconnects.size() == 1; }));
    EXPECT_EQ(disconnects.front(), centralOf("AA_BB"));
    EXPECT_TRUE(fake->command("connect AA_BB")["ok"].toBool());
    EXPECT_FALSE(fake->command("subscribe AA_BB 23")["acquired"].toBool());

    EXPECT_FALSE(hello("AA_BB", 23).empty());
    EXPECT_EQ(received, (std::vector{TouchMessage::Kind::hello, TouchMessage::Kind::hello}));
    EXPECT_EQ(transport->subscribedCentral(), centralOf("AA_BB"));
}

// Refusals show in the status with BlueZ's reason, and BlueZ coming back brings a new attempt.
TEST_P(BluezTransportTest, Refusals_ReportedWithTheReasonAndRetriedWhenBluezReturns) {
    const std::vector<std::pair<QStringList, std::string>> rows = {
        {{"--register-error", "Failed:No room at the inn"},
         "Bluetooth service failed: No room at the inn"},
        {{"--advertise-error", "NotPermitted:Maximum advertisements reached"},
         "Bluetooth advertising failed: Maximum advertisements reached"},
    };
    for (const auto& [options, text] : rows) {
        SCOPED_TRACE(text);
        statuses.clear();
        startFake(options);
        startTransport();
        EXPECT_TRUE(spinUntil([&] { return !statuses.empty() && statuses.back() == text; }));

        fake.reset();
        startFake();
        EXPECT_TRUE(advertising());
        EXPECT_EQ(statuses.back(), "Starting Bluetooth advertising\u2026");
        transport.reset();
        fake.reset();
    }
}

std::string modelName(const ::testing::TestParamInfo<const char*>& model) {
    return std::string(model.param) == "shared" ? "BlueZ566" : "PerDevice";
}

INSTANTIATE_TEST_SUITE_P(Notify, BluezPeripheralTest, ::testing::Values("shared", "per-device"),
                         modelName);
INSTANTIATE_TEST_SUITE_P(Notify, BluezTransportTest, ::testing::Values("shared", "per-device"),
                         modelName);

} // namespace
} // namespace corvane
