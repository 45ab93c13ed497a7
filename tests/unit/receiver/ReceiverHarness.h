#pragma once

#include "fakes/FakeAccessibilityTrust.h"
#include "fakes/FakeClock.h"
#include "fakes/FakeConnection.h"
#include "fakes/FakeHostName.h"
#include "fakes/FakeListener.h"
#include "fakes/FakeMainThread.h"
#include "fakes/FakeSecretStore.h"
#include "fakes/FakeSecureRandom.h"
#include "fakes/FakeUserDefaults.h"
#include "fakes/RecordingActivityLog.h"
#include "fakes/RecordingEventSink.h"
#include "fakes/bluetooth/FakePeripheralManager.h"
#include "protocol/TouchMessageDecoder.h"
#include "protocol/TouchService.h"
#include "receiver/TouchReceiver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::test {

// A receiver wired to fakes, with shortcuts for the steps most tests share.
struct ReceiverHarness {
    std::shared_ptr<FakeListenerFactory> listeners = std::make_shared<FakeListenerFactory>();
    std::shared_ptr<FakeAccessibilityTrust> trust = std::make_shared<FakeAccessibilityTrust>();
    std::shared_ptr<RecordingEventSink> events = std::make_shared<RecordingEventSink>();
    std::shared_ptr<FakeMainThread> mainThread = std::make_shared<FakeMainThread>();
    std::shared_ptr<FakeHostName> hostName = std::make_shared<FakeHostName>();
    std::shared_ptr<FakeSecureRandom> codeRandom = std::make_shared<FakeSecureRandom>();
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    std::shared_ptr<FakeSecretStore> secrets = std::make_shared<FakeSecretStore>();
    std::shared_ptr<FakeUserDefaults> defaults = std::make_shared<FakeUserDefaults>();
    std::shared_ptr<FakeSecureRandom> tokenRandom = std::make_shared<FakeSecureRandom>();
    std::shared_ptr<fakes::FakePeripheralManagerFactory> peripherals =
        std::make_shared<fakes::FakePeripheralManagerFactory>();
    std::shared_ptr<RecordingActivityLog> activity = std::make_shared<RecordingActivityLog>();
    std::string storageStatus;
    std::shared_ptr<TouchReceiver> receiver;
    std::vector<PublishedField> notifications;

    static constexpr const char* clientID = "6A1F0C55-3B3E-4D8A-9C1E-0F5E2B7A9D41";
    static inline const std::string move1 = "{\"kind\":\"move\",\"dx\":1,\"dy\":0}\n";

    ReceiverHarness() { build(); }

    // The current fakes, for a test that builds a receiver of its own from them.
    ReceiverPlatform platform() const {
        return ReceiverPlatform{
            .listeners = listeners,
            .trust = trust,
            .events = events,
            .mainThread = mainThread,
            .hostName = hostName,
            .random = codeRandom,
            .clock = clock,
            .pairingStorage = PairingStorage{secrets, defaults, tokenRandom},
            .bluetooth = peripherals,
            .activity = activity,
            .storageStatus = storageStatus,
        };
    }

    // A new receiver on the current fakes (after a test has changed which ones it gets).
    void build() {
        receiver = TouchReceiver::create(platform());
        receiver->addObserver(
            [this](const PublishedChange& change) { notifications.push_back(change.field); });
    }

    std::shared_ptr<FakeListener> listener() const { return listeners->last(); }

    void run() { mainThread->runAll(); }

    // Started, and the listener reported ready.
    void startReady() {
        receiver->start();
        listener()->reportState(ListenerState::ready);
        run();
    }

    // A new connection handed over by the listener and reported ready.
    std::shared_ptr<FakeConnection> connect() {
        auto connection = std::make_shared<FakeConnection>();
        listener()->deliverConnection(connection);
        run();
        connection->reportState(ConnectionState::ready);
        run();
        return connection;
    }

    void deliver(FakeConnection& connection, Bytes bytes) {
        connection.deliver(std::move(bytes));
        run();
    }

    void complete(FakeConnection& connection, ReceivedChunk chunk) {
        connection.completeReceive(std::move(chunk));
        run();
    }

    // The phone closed the connection.
    void drop(FakeConnection& connection) {
        connection.reportState(ConnectionState::cancelled);
        run();
    }

    // A six-digit code that is not the current one.
    std::string wrongCode() const { return receiver->code() == "000000" ? "000001" : "000000"; }

    std::string helloWithCode(const std::string& code) const {
        return R"({"kind":"hello","code":")" + code + "\"}\n";
    }

    std::string pairingHello(const std::string& code, const std::string& id = clientID) const {
        return R"({"kind":"hello","code":")" + code + R"(","clientID":")" + id + "\"}\n";
    }

    std::string tokenHello(const std::string& token, const std::string& code = "") const {
        std::string line = R"({"kind":"hello","clientID":")" + std::string(clientID) +
                           R"(","token":")" + token + "\"";
        if (!code.empty()) {
            line += R"(,"code":")" + code + "\"";
        }
        return line + "}\n";
    }

    // A connection that has passed the hello with the current code.
    std::shared_ptr<FakeConnection> connectAuthenticated() {
        auto connection = connect();
        deliver(*connection, helloWithCode(receiver->code()));
        return connection;
    }

    // The replies sent on a connection, decoded.
    static std::vector<TouchMessage> replies(const FakeConnection& connection) {
        TouchMessageDecoder decoder;
        std::vector<TouchMessage> result;
        for (const Bytes& bytes : connection.sent()) {
            if (bytes.empty() || bytes.back() != '\n') {
                ADD_FAILURE() << "reply is not one line: " << bytes;
                continue;
            }
            auto decoded = decoder.decode(std::string_view(bytes).substr(0, bytes.size() - 1));
            if (!decoded) {
                ADD_FAILURE() << "reply does not decode: " << bytes;
                continue;
            }
            result.push_back(*decoded);
        }
        return result;
    }

    // The peripheral manager of the running transport.
    fakes::FakePeripheralManager& peripheral() const { return peripherals->last(); }

    // The radio came up and the service was published.
    void advertise() const {
        peripheral().reportState(PeripheralState::poweredOn);
        peripheral().reportServiceAdded();
    }

    void subscribe(const CentralID& central) const {
        peripheral().subscribe(central, BluetoothUUID(TouchService::bluetoothStatusUUID));
    }

    void unsubscribe(const CentralID& central) const {
        peripheral().unsubscribe(central, BluetoothUUID(TouchService::bluetoothStatusUUID));
    }

    // One write to the command characteristic.
    void write(const CentralID& central, Bytes bytes) const {
        peripheral().write(central, BluetoothUUID(TouchService::bluetoothCommandUUID),
                           std::move(bytes));
    }

    // The replies notified to a central, decoded from the joined notification values.
    std::vector<TouchMessage> notifiedReplies(const CentralID& central) const {
        TouchMessageDecoder decoder;
        std::vector<TouchMessage> result;
        Bytes joined = peripheral().receivedBy(central);
        for (auto end = joined.find('\n'); end != Bytes::npos; end = joined.find('\n')) {
            auto decoded = decoder.decode(std::string_view(joined).substr(0, end));
            if (!decoded) {
                ADD_FAILURE() << "notified reply does not decode: " << joined.substr(0, end);
            } else {
                result.push_back(*decoded);
            }
            joined.erase(0, end + 1);
        }
        if (!joined.empty()) {
            ADD_FAILURE() << "notified bytes without a newline: " << joined;
        }
        return result;
    }

    std::size_t movesPosted() const {
        const auto posted = events->posted();
        return static_cast<std::size_t>(
            std::count_if(posted.begin(), posted.end(), [](const SyntheticEvent& event) {
                const auto* mouse = std::get_if<MouseEvent>(&event.body);
                return mouse && mouse->type == MouseEventType::mouseMoved;
            }));
    }

    // The release of a button held at the fake pointer's location.
    static SyntheticEvent leftUp(EventFlags flags) {
        return SyntheticEvent{
            MouseEvent{MouseEventType::leftMouseUp, Point{100, 100}, MouseButton::left, {}}, flags};
    }

    std::string hostID() const {
        return defaults->values.at(std::string(PairedClients::hostIDKey));
    }
};

} // namespace corvane::test
