#include "platform/bluez/BluezPeripheralManager.h"

#include "BluezTestEnvironment.h"
#include "RecordingDelegate.h"
#include "bluetooth/BluetoothTouchReceiver.h"
#include "platform/bluez/BluezPeripheralManagerFactory.h"
#include "protocol/TouchService.h"

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QJsonArray>
#include <memory>

namespace corvane {
namespace {

using namespace std::chrono_literals;
using test::FakeBluez;
using test::RecordingDelegate;
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

QString devicePath(const QString& name) {
    return QStringLiteral("/org/bluez/hci0/dev_") + name;
}

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
        factory = std::make_shared<BluezPeripheralManagerFactory>(QDBusConnection::systemBus());
        manager = factory->makePeripheralManager(delegate);
    }

    bool reaches(PeripheralState state) {
        return spinUntil(
            [&] { return !delegate->states.empty() && delegate->states.back() == state; });
    }

    // A powered adapter with our service registered.
    void publish() {
        startFake();
        makeManager();
        ASSERT_TRUE(reaches(PeripheralState::poweredOn));
        manager->addService(touchService());
        ASSERT_TRUE(spinUntil([&] { return !delegate->added.empty(); }));
        ASSERT_FALSE(delegate->added.back().has_value()) << delegate->added.back()->description();
    }

    CentralID subscribe(const QString& name, int mtu) {
        EXPECT_TRUE(fake->command(QStringLiteral("connect ") + name)["ok"].toBool());
        const auto before = delegate->subscribed.size();
        const auto reply = fake->command(QStringLiteral("subscribe %1 %2").arg(name).arg(mtu));
        EXPECT_TRUE(reply["ok"].toBool()) << reply["message"].toString().toStdString();
        EXPECT_TRUE(spinUntil([&] { return delegate->subscribed.size() > before; }));
        return BluezPeripheralManager::centralFor(devicePath(name));
    }

    QJsonObject write(const QString& name, int offset, const QString& hex) {
        return fake->command(QStringLiteral("write %1 185 %2 %3").arg(name).arg(offset).arg(hex));
    }

    std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
    std::shared_ptr<BluezPeripheralManagerFactory> factory;
    std::shared_ptr<PeripheralManager> manager;
    std::unique_ptr<FakeBluez> fake;
};

TEST_F(BluezPeripheralTest, State_NoBluezOnBus_Unsupported) {
    makeManager();
    EXPECT_TRUE(reaches(PeripheralState::unsupported));
}

TEST_F(BluezPeripheralTest, State_NoAdapterOrNoAdvertisingManager_Unsupported) {
    startFake({QStringLiteral("--no-adapter")});
    makeManager();
    EXPECT_TRUE(reaches(PeripheralState::unsupported));
    manager.reset();
    fake.reset();

    delegate = std::make_shared<RecordingDelegate>();
    startFake({QStringLiteral("--no-advertising")});
    makeManager();
    EXPECT_TRUE(reaches(PeripheralState::unsupported));
}

TEST_F(BluezPeripheralTest, State_PowerOffAndOn_ReportsEachOnceAsItChanges) {
    startFake({QStringLiteral("--powered"), QStringLiteral("off")});
    makeManager();
    ASSERT_TRUE(reaches(PeripheralState::poweredOff));
    fake->command(QStringLiteral("power on"));
    ASSERT_TRUE(reaches(PeripheralState::poweredOn));
    fake->command(QStringLiteral("power off"));
    ASSERT_TRUE(reaches(PeripheralState::poweredOff));
    spinFor(100ms);
    EXPECT_EQ(delegate->states,
              (std::vector{PeripheralState::poweredOff, PeripheralState::poweredOn,
                           PeripheralState::poweredOff}));
}

TEST_F(BluezPeripheralTest, State_BluezLeavesAndReturns_UnsupportedThenServesAgain) {
    publish();
    fake.reset();
    ASSERT_TRUE(reaches(PeripheralState::unsupported));

    startFake();
    ASSERT_TRUE(reaches(PeripheralState::poweredOn));
    manager->addService(touchService());
    ASSERT_TRUE(spinUntil([&] { return delegate->added.size() == 2; }));
    EXPECT_FALSE(delegate->added.back().has_value());
    EXPECT_EQ(fake->command(QStringLiteral("status"))["registrations"].toInt(), 1);
}

TEST_F(BluezPeripheralTest, AddService_Registered_BluezReadsOurObjects) {
    publish();
    const auto status = fake->command(QStringLiteral("status"));
    const auto objects = status["application"].toObject();
    ASSERT_EQ(objects.size(), 3);
    int characteristics = 0;
    for (const auto& object : objects) {
        const auto interfaces = object.toObject();
        if (interfaces.contains(QStringLiteral("org.bluez.GattService1"))) {
            const auto service = interfaces["org.bluez.GattService1"].toObject();
            EXPECT_EQ(service["UUID"].toString(), lower(serviceID));
            EXPECT_TRUE(service["Primary"].toBool());
            continue;
        }
        const auto chrc = interfaces["org.bluez.GattCharacteristic1"].toObject();
        ++characteristics;
        if (chrc["UUID"].toString() == lower(commandID)) {
            EXPECT_EQ(chrc["Flags"].toArray(), QJsonArray{QStringLiteral("write")});
            EXPECT_FALSE(chrc.contains(QStringLiteral("NotifyAcquired")));
        } else {
            EXPECT_EQ(chrc["UUID"].toString(), lower(statusID));
            EXPECT_EQ(chrc["Flags"].toArray(), QJsonArray{QStringLiteral("notify")});
            EXPECT_TRUE(chrc.contains(QStringLiteral("NotifyAcquired")));
        }
    }
    EXPECT_EQ(characteristics, 2);
}

TEST_F(BluezPeripheralTest, AddService_BluezRefuses_ReportsItsMessage) {
    startFake({QStringLiteral("--register-error"), QStringLiteral("No room at the inn")});
    makeManager();
    ASSERT_TRUE(reaches(PeripheralState::poweredOn));
    manager->addService(touchService());
    ASSERT_TRUE(spinUntil([&] { return !delegate->added.empty(); }));
    ASSERT_TRUE(delegate->added.back().has_value());
    EXPECT_EQ(delegate->added.back()->description(), "No room at the inn");
}

TEST_F(BluezPeripheralTest, AddService_AgainOnPowerOn_ReplacesTheApplication) {
    publish();
    manager->addService(touchService());
    ASSERT_TRUE(spinUntil([&] { return delegate->added.size() == 2; }));
    EXPECT_FALSE(delegate->added.back().has_value());
    EXPECT_EQ(fake->command(QStringLiteral("status"))["registrations"].toInt(), 2);
}

TEST_F(BluezPeripheralTest, Advertising_Started_PeripheralWithServiceAndName) {
    publish();
    manager->startAdvertising({{serviceID}, "Corvane Mac"});
    QJsonObject advertisement;
    ASSERT_TRUE(spinUntil([&] {
        advertisement = fake->command(QStringLiteral("status"))["advertisement"].toObject();
        return !advertisement.isEmpty();
    }));
    EXPECT_EQ(advertisement["Type"].toString(), QStringLiteral("peripheral"));
    EXPECT_EQ(advertisement["ServiceUUIDs"].toArray(), QJsonArray{lower(serviceID)});
    EXPECT_EQ(advertisement["LocalName"].toString(), QStringLiteral("Corvane Mac"));

    manager->stopAdvertising();
    EXPECT_TRUE(spinUntil(
        [&] { return fake->command(QStringLiteral("status"))["advertisement"].isNull(); }));
}

TEST_F(BluezPeripheralTest, Subscribe_AcquireNotify_NamesTheCentralAndItsLength) {
    publish();
    const CentralID central = subscribe(QStringLiteral("AA_BB"), 185);
    EXPECT_EQ(delegate->subscribed.back(), std::make_pair(central, statusID.text()));
    EXPECT_EQ(manager->maximumUpdateValueLength(central), 182u);
    EXPECT_EQ(manager->maximumUpdateValueLength("someone else"), 0u);
    // Stable: the same device gives the same name.
    EXPECT_EQ(central, BluezPeripheralManager::centralFor(devicePath(QStringLiteral("AA_BB"))));
    EXPECT_NE(central, BluezPeripheralManager::centralFor(devicePath(QStringLiteral("CC_DD"))));
}

TEST_F(BluezPeripheralTest, Write_AnswersFollowTheDelegate) {
    publish();
    const CentralID central = subscribe(QStringLiteral("AA_BB"), 185);
    delegate->answer = [](const WriteRequest& request) {
        if (request.offset != 0 || !request.value) {
            return AttResult::writeNotPermitted;
        }
        return *request.value == "big" ? AttResult::invalidAttributeValueLength
                                       : AttResult::success;
    };

    auto reply = write(QStringLiteral("AA_BB"), 0, QStringLiteral("68690a")); // "hi\n"
    EXPECT_TRUE(reply["ok"].toBool()) << reply["error"].toString().toStdString();
    ASSERT_EQ(delegate->writes.size(), 1u);
    EXPECT_EQ(delegate->writes[0].value, Bytes("hi\n"));
    EXPECT_EQ(delegate->writes[0].central, central);
    EXPECT_EQ(delegate->writes[0].characteristic, commandID);
    EXPECT_EQ(delegate->writes[0].offset, 0u);

    reply = write(QStringLiteral("AA_BB"), 1, QStringLiteral("68"));
    EXPECT_EQ(reply["error"].toString(), QStringLiteral("org.bluez.Error.NotPermitted"));
    EXPECT_EQ(delegate->writes.back().offset, 1u);

    reply = write(QStringLiteral("AA_BB"), 0, QStringLiteral("-"));
    EXPECT_EQ(reply["error"].toString(), QStringLiteral("org.bluez.Error.NotPermitted"));
    EXPECT_FALSE(delegate->writes.back().value.has_value());

    reply = write(QStringLiteral("AA_BB"), 0, QStringLiteral("626967")); // "big"
    EXPECT_EQ(reply["error"].toString(), QStringLiteral("org.bluez.Error.InvalidValueLength"));

    reply = write(QStringLiteral("CC_DD"), 0, QStringLiteral("68"));
    EXPECT_EQ(delegate->writes.back().central,
              BluezPeripheralManager::centralFor(devicePath(QStringLiteral("CC_DD"))));
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
    subscribe(QStringLiteral("AA_BB"), 185);

    const auto reply = write(QStringLiteral("AA_BB"), 0, QStringLiteral("68"));
    EXPECT_EQ(reply["error"].toString(), QStringLiteral("org.bluez.Error.Failed"));
    EXPECT_EQ(manager, nullptr);
    EXPECT_EQ(delegate->writes.size(), 1u);
}

TEST_F(BluezPeripheralTest, Notify_EachChunkIsOneRecord) {
    publish();
    const CentralID central = subscribe(QStringLiteral("AA_BB"), 23);
    EXPECT_TRUE(manager->updateValue("{\"kind\":", statusID, central));
    EXPECT_TRUE(manager->updateValue("\"accepted\"}", statusID, central));
    EXPECT_TRUE(manager->updateValue("\n", statusID, central));
    const auto records = fake->command(QStringLiteral("read AA_BB"))["records"].toArray();
    EXPECT_EQ(records,
              (QJsonArray{QStringLiteral("7b226b696e64223a"),
                          QStringLiteral("226163636570746564227d"), QStringLiteral("0a")}));
}

TEST_F(BluezPeripheralTest, Notify_SocketFull_RefusesThenReportsReadiness) {
    publish();
    const CentralID central = subscribe(QStringLiteral("AA_BB"), 23);
    const Bytes chunk(20, 'x');
    int accepted = 0;
    while (accepted < 1000000 && manager->updateValue(chunk, statusID, central)) {
        ++accepted;
    }
    ASSERT_LT(accepted, 1000000) << "the stack never refused";
    spinFor(100ms);
    EXPECT_EQ(delegate->readiness, 0);

    const auto records = fake->command(QStringLiteral("read AA_BB"))["records"].toArray();
    EXPECT_EQ(records.size(), accepted);
    EXPECT_TRUE(spinUntil([&] { return delegate->readiness == 1; }));
    EXPECT_TRUE(manager->updateValue(chunk, statusID, central));
}

TEST_F(BluezPeripheralTest, Unsubscribe_SocketClosedOrDeviceDisconnected_Reported) {
    publish();
    const CentralID first = subscribe(QStringLiteral("AA_BB"), 185);
    const CentralID second = subscribe(QStringLiteral("CC_DD"), 185);

    fake->command(QStringLiteral("unsubscribe AA_BB"));
    ASSERT_TRUE(spinUntil([&] { return delegate->unsubscribed.size() == 1; }));
    EXPECT_EQ(delegate->unsubscribed[0], std::make_pair(first, statusID.text()));

    fake->command(QStringLiteral("disconnect CC_DD"));
    ASSERT_TRUE(spinUntil([&] { return delegate->unsubscribed.size() == 2; }));
    EXPECT_EQ(delegate->unsubscribed[1], std::make_pair(second, statusID.text()));
    // Its notifications have nowhere to go, and must not stall a queue.
    EXPECT_TRUE(manager->updateValue("x", statusID, second));
    spinFor(100ms);
    EXPECT_EQ(delegate->unsubscribed.size(), 2u);
}

TEST_F(BluezPeripheralTest, Reports_AfterDelegateExpired_Dropped) {
    startFake({QStringLiteral("--powered"), QStringLiteral("off")});
    makeManager();
    ASSERT_TRUE(reaches(PeripheralState::poweredOff));
    std::weak_ptr<RecordingDelegate> watched = delegate;
    delegate.reset();
    fake->command(QStringLiteral("power on"));
    spinFor(200ms);
    EXPECT_TRUE(watched.expired());
}

TEST(BluezPeripheralRefusedTest, State_BusDeniesUs_Unauthorized) {
    test::qtApplication();
    test::PrivateSystemBus denying(
        QStringLiteral("<deny send_destination=\"org.bluez\"/>"
                       "<deny send_interface=\"org.freedesktop.DBus.ObjectManager\"/>"));
    ASSERT_FALSE(denying.address().isEmpty());
    FakeBluez fake(denying.address());
    ASSERT_TRUE(fake.ready());
    auto bus = QDBusConnection::connectToBus(denying.address(), QStringLiteral("denying"));
    ASSERT_TRUE(bus.isConnected());
    auto delegate = std::make_shared<RecordingDelegate>();
    {
        BluezPeripheralManagerFactory factory(bus);
        auto manager = factory.makePeripheralManager(delegate);
        EXPECT_TRUE(spinUntil([&] { return !delegate->states.empty(); }));
        ASSERT_FALSE(delegate->states.empty());
        EXPECT_EQ(delegate->states.front(), PeripheralState::unauthorized);
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("denying"));
}

} // namespace
} // namespace corvane

namespace corvane {
namespace {

TouchMessage rejected() {
    TouchMessage message;
    message.kind = TouchMessage::Kind::rejected;
    return message;
}

// The transport itself over BlueZ: statuses, the served central, refusals and reply chunks.
TEST_F(BluezPeripheralTest, Transport_OverBluez_ServesOneCentral) {
    startFake();
    auto transport = BluetoothTouchReceiver::create(
        std::make_shared<BluezPeripheralManagerFactory>(QDBusConnection::systemBus()));
    std::vector<std::string> statuses;
    std::vector<TouchMessage::Kind> received;
    transport->onStatus = [&](const std::string& text) { statuses.push_back(text); };
    transport->onMessage = [&](const TouchMessage& message, const CentralID&) {
        received.push_back(message.kind);
        return std::optional<TouchMessage>(rejected());
    };
    transport->start();
    ASSERT_TRUE(spinUntil(
        [&] { return !fake->command(QStringLiteral("status"))["advertisement"].isNull(); }));
    EXPECT_EQ(statuses,
              (std::vector<std::string>{"Starting Bluetooth…", "Starting Bluetooth advertising…"}));

    EXPECT_TRUE(fake->command(QStringLiteral("connect AA_BB"))["ok"].toBool());
    EXPECT_TRUE(fake->command(QStringLiteral("subscribe AA_BB 13"))["ok"].toBool());
    ASSERT_TRUE(spinUntil([&] { return transport->subscribedCentral().has_value(); }));

    EXPECT_TRUE(fake->command(QStringLiteral("connect CC_DD"))["ok"].toBool());
    const QString hello = QString::fromLatin1(QByteArray("{\"kind\":\"hello\"}\n").toHex());
    EXPECT_EQ(write(QStringLiteral("CC_DD"), 0, hello)["error"].toString(),
              QStringLiteral("org.bluez.Error.NotPermitted"));
    EXPECT_TRUE(received.empty());

    EXPECT_TRUE(fake->command(QStringLiteral("write AA_BB 13 0 ") + hello)["ok"].toBool());
    EXPECT_EQ(received, std::vector{TouchMessage::Kind::hello});
    const auto records = fake->command(QStringLiteral("read AA_BB"))["records"].toArray();
    QByteArray joined;
    for (const auto& record : records) {
        const QByteArray bytes = QByteArray::fromHex(record.toString().toLatin1());
        EXPECT_LE(bytes.size(), 10); // mtu 13 less the ATT header
        joined += bytes;
    }
    EXPECT_EQ(joined.toStdString(), *rejected().line());

    transport->stop();
    EXPECT_TRUE(spinUntil([&] {
        const auto status = fake->command(QStringLiteral("status"));
        return status["advertisement"].isNull() && status["application"].isNull();
    }));
}

} // namespace
} // namespace corvane
