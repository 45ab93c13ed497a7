// BluezPeripheralManager against fake_bluez.py on a private bus, in both of BlueZ's ways of
// handing out notification sockets: one per characteristic, shared by every device that
// subscribes (5.66, Debian 12), or one per device (later releases).
#include "platform/bluez/BluezPeripheralManager.h"

#include "integration/Processes.h"
#include "platform/bluez/BluezPeripheralManagerFactory.h"
#include "protocol/TouchService.h"

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace corvane {
namespace {

using test::spinUntil;

const BluetoothUUID serviceID(TouchService::bluetoothServiceUUID);
const BluetoothUUID commandID(TouchService::bluetoothCommandUUID);
const BluetoothUUID statusID(TouchService::bluetoothStatusUUID);

CentralID centralOf(const QString& device) {
    return BluezPeripheralManager::centralFor("/org/bluez/hci0/dev_" + device);
}

// The system bus of this process keeps the address it first had, so all its tests share one.
struct PrivateBus {
    QProcess daemon;
    PrivateBus() {
        test::start(daemon, CORVANE_DBUS_DAEMON, {"--session", "--nofork", "--print-address=1"});
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", test::readLine(daemon));
    }
    ~PrivateBus() { test::stop(daemon); }
};

// Keeps every report, and answers each write with `answer`.
struct RecordingDelegate : PeripheralManagerDelegate {
    std::vector<PeripheralState> states;
    int published = 0; // services added and advertising started, failed or not
    QString errors;
    std::vector<CentralID> subscribed, unsubscribed;
    std::vector<WriteRequest> writes;
    int readiness = 0;
    AttResult answer = AttResult::success;

    void didUpdateState(PeripheralManager&, PeripheralState s) override { states.push_back(s); }
    void didAddService(PeripheralManager&, std::optional<Error> error) override { report(error); }
    void didStartAdvertising(PeripheralManager&, std::optional<Error> e) override { report(e); }
    void report(const std::optional<Error>& error) {
        ++published;
        errors += error ? QString::fromStdString(error->description()) : QString();
    }
    void didSubscribe(PeripheralManager&, const CentralID& central,
                      const BluetoothUUID& characteristic) override {
        EXPECT_EQ(characteristic, statusID);
        subscribed.push_back(central);
    }
    void didUnsubscribe(PeripheralManager&, const CentralID& c, const BluetoothUUID&) override {
        unsubscribed.push_back(c);
    }
    void didReceiveWriteRequests(PeripheralManager& manager,
                                 const std::vector<WriteRequest>& requests) override {
        for (const WriteRequest& request : requests) {
            writes.push_back(request);
            manager.respond(request, answer);
        }
    }
    void isReadyToUpdateSubscribers(PeripheralManager&) override { ++readiness; }
};

class Bluez : public testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        test::qtApplication();
        static PrivateBus bus;
    }
    void TearDown() override {
        manager.reset();
        test::stop(fake);
    }

    // A fresh delegate and manager on the fake started with `options`.
    void start(const QStringList& options = {}) {
        manager.reset();
        test::stop(fake);
        test::start(fake, CORVANE_PYTHON,
                    QStringList{CORVANE_FAKE_BLUEZ, "--notify", GetParam()} + options);
        ASSERT_TRUE(command()["ready"].toBool());
        delegate = std::make_shared<RecordingDelegate>();
        manager = BluezPeripheralManagerFactory().makePeripheralManager(delegate);
    }

    // The fake's answer to `line`, or with none, its next line.
    QJsonObject command(const QString& line = {}) {
        fake.write(line.isEmpty() ? QByteArray() : (line + '\n').toUtf8());
        return QJsonDocument::fromJson(test::readLine(fake)).object();
    }

    bool reaches(PeripheralState state) {
        return spinUntil(
            [&] { return !delegate->states.empty() && delegate->states.back() == state; });
    }

    // Adds our service, and advertises it; the errors reported, if any.
    QString publish() {
        manager->addService(
            {serviceID,
             true,
             {{commandID, CharacteristicProperty::write, AttributePermission::writeable},
              {statusID, CharacteristicProperty::notify, 0}}});
        manager->startAdvertising({{serviceID}, "Corvane Mac"});
        const bool reported = spinUntil([&] { return delegate->published == 2; });
        return reported ? std::exchange(delegate->errors, {}) : QStringLiteral("not reported");
    }

    void startPublished() {
        start();
        ASSERT_TRUE(reaches(PeripheralState::poweredOn));
        ASSERT_EQ(publish(), "");
    }

    // Connects `device` and enables its notifications; whether BlueZ acquired a socket for it.
    bool subscribe(const QString& device, int mtu) {
        command("connect " + device);
        const QJsonObject answer = command(QStringLiteral("subscribe %1 %2").arg(device).arg(mtu));
        EXPECT_TRUE(answer["ok"].toBool()) << answer["message"].toString().toStdString();
        return answer["acquired"].toBool();
    }

    QJsonObject write(const QString& device, int offset, const QString& hex) {
        return command(QStringLiteral("write %1 185 %2 %3").arg(device).arg(offset).arg(hex));
    }

    QJsonArray notified(const QString& device) {
        return command("read " + device)["records"].toArray();
    }

    QProcess fake;
    std::shared_ptr<RecordingDelegate> delegate;
    std::shared_ptr<PeripheralManager> manager;
};

TEST_P(Bluez, States_FollowBluezItsAdapterAndItsRefusals) {
    const std::vector<std::tuple<QStringList, PeripheralState, QString>> rows = {
        {{"--no-adapter"}, PeripheralState::unsupported, {}},
        {{"--no-advertising"}, PeripheralState::unsupported, {}},
        {{"--powered", "off"}, PeripheralState::poweredOff, {}},
        {{"--register-error", "Failed:No room"}, PeripheralState::poweredOn, "No room"},
        {{"--advertise-error", "NotPermitted:Too many"}, PeripheralState::poweredOn, "Too many"},
    };
    for (const auto& [options, state, refusal] : rows) {
        SCOPED_TRACE(options.join(' ').toStdString());
        start(options);
        ASSERT_TRUE(reaches(state));
        if (state == PeripheralState::poweredOn) {
            EXPECT_EQ(publish(), refusal);
        }
    }
    // The adapter powered on, and BlueZ gone and back: each is reported, and it serves again.
    start({"--powered", "off"});
    ASSERT_TRUE(reaches(PeripheralState::poweredOff));
    command("power on");
    ASSERT_TRUE(reaches(PeripheralState::poweredOn));
    test::stop(fake);
    ASSERT_TRUE(reaches(PeripheralState::unsupported));
    test::start(fake, CORVANE_PYTHON, {CORVANE_FAKE_BLUEZ, "--notify", GetParam()});
    ASSERT_TRUE(reaches(PeripheralState::poweredOn));
    delegate->published = 0;
    EXPECT_EQ(publish(), "");
}

// What BlueZ reads back: our service and characteristics, and an advertisement that phones
// scanning for new devices find, in the 31 bytes of a legacy advertisement and its scan response.
// That Stop withdraws them is the end-to-end scenario's.
TEST_P(Bluez, Publish_BluezReadsOurServiceAndAdvertisement_WritesReachTheDelegateAndBack) {
    ASSERT_NO_FATAL_FAILURE(startPublished());
    const auto lower = [](const auto& id) { return QString::fromStdString(id.text()).toLower(); };
    const QJsonObject now = command("status");
    QStringList found;
    for (const QJsonValue object : now["application"].toObject()) {
        const QJsonObject chrc = object["org.bluez.GattCharacteristic1"].toObject();
        const QJsonObject service = object["org.bluez.GattService1"].toObject();
        found << chrc["UUID"].toString() + chrc["Flags"].toVariant().toStringList().join(',') +
                     chrc["NotifyAcquired"].toVariant().toString() + service["UUID"].toString() +
                     service["Primary"].toVariant().toString();
    }
    found.sort();
    EXPECT_EQ(found, QStringList({lower(serviceID) + "true", lower(commandID) + "write",
                                  lower(statusID) + "notifyfalse"}));

    EXPECT_EQ(now["advertisement"].toObject()["Type"], "peripheral");
    const QString data = now["advertising_data"].toString();
    EXPECT_TRUE(data.startsWith("020106")) << "LE General Discoverable, BR/EDR not supported";
    EXPECT_LE(data.size() / 2, 31);
    EXPECT_EQ(now["scan_response"].toString(), "0c09" + QString(QByteArray("Corvane Mac").toHex()));

    // Each write reaches the delegate as the device sent it, and its answer goes back to it.
    using enum AttResult;
    const std::vector<std::tuple<QString, int, QString, std::optional<Bytes>, AttResult, QString>>
        rows = {
            {"AA_BB", 0, "68690a", "hi\n", success, ""},
            {"AA_BB", 1, "68", "h", writeNotPermitted, "NotPermitted"},
            {"AA_BB", 0, "-", std::nullopt, success, ""}, // empty: no value at all
            {"AA_BB", 0, "68", "h", invalidAttributeValueLength, "InvalidValueLength"},
            {"CC_DD", 0, "68", "h", success, ""},
        };
    for (const auto& [device, offset, hex, value, answer, error] : rows) {
        SCOPED_TRACE((device + ' ' + hex).toStdString());
        delegate->answer = answer;
        EXPECT_EQ(write(device, offset, hex)["error"].toString().remove("org.bluez.Error."), error);
        ASSERT_EQ(delegate->writes.size(), 1u);
        const WriteRequest request = std::exchange(delegate->writes, {}).front();
        EXPECT_EQ(request.value, value);
        EXPECT_EQ(request.offset, static_cast<std::size_t>(offset));
        EXPECT_EQ(request.characteristic, commandID);
        EXPECT_EQ(request.central, centralOf(device));
    }
}

// Subscriptions as far as BlueZ shows them. On 5.66 a second device shares the first one's
// socket unannounced; so does a bonded device that returns, which keeps its subscription across
// the disconnection in either model. Such a device is taken as subscribed once it writes while
// nobody else is. A socket BlueZ closes ends the subscriptions behind it; so does a device's
// disconnection or its removal.
TEST_P(Bluez, Subscriptions_AsBluezTellsThem_NotificationsReachTheDevice) {
    const bool shared = std::string_view(GetParam()) == "shared";
    ASSERT_NO_FATAL_FAILURE(startPublished());
    const CentralID a = centralOf("AA_BB"), c = centralOf("CC_DD"), e = centralOf("EE_FF");
    const auto reported = [&](std::size_t subscribed, std::size_t unsubscribed) {
        return spinUntil([&] {
            return delegate->subscribed.size() == subscribed &&
                   delegate->unsubscribed.size() == unsubscribed;
        });
    };

    EXPECT_TRUE(subscribe("AA_BB", 517));
    ASSERT_TRUE(reported(1, 0));
    EXPECT_EQ(manager->maximumUpdateValueLength(a), 512u) << "what BlueZ reads at once";
    EXPECT_TRUE(manager->updateValue(Bytes(512, 'x'), statusID, a));
    EXPECT_EQ(notified("AA_BB"), QJsonArray{QString(QByteArray(512, 'x').toHex())});
    int accepted = 0;
    while (accepted < 1000000 && manager->updateValue("x", statusID, a)) {
        ++accepted;
    }
    EXPECT_EQ(delegate->readiness, 0);
    EXPECT_EQ(notified("AA_BB").size(), accepted);
    EXPECT_TRUE(spinUntil([&] { return delegate->readiness == 1; }));

    EXPECT_EQ(subscribe("CC_DD", 23), !shared);
    command("disconnect AA_BB");
    ASSERT_TRUE(reported(shared ? 1 : 2, 1));
    EXPECT_TRUE(manager->updateValue("x", statusID, a)) << "gone: nowhere to go, nothing to stall";
    EXPECT_EQ(write("CC_DD", 0, "68")["ok"], true);
    ASSERT_TRUE(reported(2, 1));
    EXPECT_EQ(manager->maximumUpdateValueLength(c), 182u);
    EXPECT_TRUE(manager->updateValue("hi", statusID, c));
    EXPECT_EQ(notified("CC_DD"), QJsonArray{"6869"});
    command("unsubscribe CC_DD");
    ASSERT_TRUE(reported(2, 2));

    command("connect EE_FF bonded");
    EXPECT_TRUE(subscribe("EE_FF", 23));
    ASSERT_TRUE(reported(3, 2));
    command("disconnect EE_FF");
    ASSERT_TRUE(reported(3, 3));
    EXPECT_FALSE(subscribe("EE_FF", 23)) << "the returning bonded device is not announced";
    EXPECT_EQ(write("EE_FF", 0, "68")["ok"], true);
    ASSERT_TRUE(reported(4, 3));
    EXPECT_TRUE(manager->updateValue("hi", statusID, e));
    EXPECT_EQ(notified("EE_FF"), QJsonArray{"6869"});
    command("remove EE_FF");
    ASSERT_TRUE(reported(4, 4));
    EXPECT_EQ(delegate->subscribed, (std::vector{a, c, e, e}));
    EXPECT_EQ(delegate->unsubscribed, (std::vector{a, c, e, e}));
}

INSTANTIATE_TEST_SUITE_P(Notify, Bluez, testing::Values("shared", "per-device"),
                         [](const auto& model) {
                             return std::string(model.param) == "shared" ? "BlueZ566" : "PerDevice";
                         });

} // namespace
} // namespace corvane
