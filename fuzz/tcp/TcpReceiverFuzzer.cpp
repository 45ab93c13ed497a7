// Drives a receiver wired to fakes with arbitrary chunkings of arbitrary bytes, interleaved with
// Bluetooth centrals competing for the slot, the platform's other reports and the user's commands,
// and checks its invariants after every step.

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
#include "receiver/PairingCode.h"
#include "receiver/TouchReceiver.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::test {
namespace {

constexpr std::string_view clientID = "6A1F0C55-3B3E-4D8A-9C1E-0F5E2B7A9D41";
constexpr std::array<std::string_view, 2> centrals = {"0F0E3C7A-1D2B-4C55-8E6F-7A8B9C0D1E2F",
                                                      "5B4A3928-1706-4F5E-9D8C-7B6A59483726"};

[[noreturn]] void violated(const char* what) {
    std::fprintf(stderr, "invariant violated: %s\n", what);
    std::abort();
}

void check(bool holds, const char* what) {
    if (!holds) {
        violated(what);
    }
}

bool isCode(const std::string& code) {
    return code.size() == PairingCode::length &&
           code.find_first_not_of("0123456789") == std::string::npos;
}

class World {
public:
    World() {
        receiver_ = TouchReceiver::create(ReceiverPlatform{
            .listeners = listeners_,
            .trust = trust_,
            .events = events_,
            .mainThread = mainThread_,
            .hostName = std::make_shared<FakeHostName>(),
            .random = std::make_shared<FakeSecureRandom>(),
            .clock = std::make_shared<FakeClock>(),
            .pairingStorage = PairingStorage{secrets_, std::make_shared<FakeUserDefaults>(),
                                             std::make_shared<FakeSecureRandom>()},
            .bluetooth = peripherals_,
            .activity = activity_,
        });
        // Start with a client already admitted, so that raw bytes count from the first step.
        receiver_->start();
        listeners_->last()->reportState(ListenerState::ready);
        newConnection();
        mainThread_->runAll();
    }

    void step(FuzzedDataProvider& input) {
        switch (input.ConsumeIntegralInRange<int>(0, 27)) {
        case 0:
        case 1:
        case 2:
            return deliver(input, input.ConsumeBytesAsString(
                                      input.ConsumeIntegralInRange<std::size_t>(1, 4096)));
        case 3:
            return deliver(input, line(R"({"kind":"hello","code":")" + receiver_->code() + "\"}"));
        case 4:
            return deliver(input, line(R"({"kind":"hello","code":")" + receiver_->code() +
                                       R"(","clientID":")" + std::string(clientID) + "\"}"));
        case 5:
            return deliver(input, line(R"({"kind":"hello","clientID":")" + std::string(clientID) +
                                       R"(","token":")" + lastToken_ + "\"}"));
        case 6:
            return deliver(input, line(R"({"kind":"hello","code":"12345"})"));
        case 7:
        case 8:
        case 9:
            return deliver(input, inputLine(input));
        case 10:
            return deliver(input, std::string(4096, ' '));
        case 11:
            return complete(input, ReceivedChunk{someBytes(input), true, std::nullopt});
        case 12:
            return complete(input, ReceivedChunk{someBytes(input), false, Error("reset")});
        case 13:
        case 14:
            return newConnection();
        case 15:
            return receiver_->stop();
        case 16:
            return receiver_->start();
        case 17:
            trust_->trusted = !trust_->trusted;
            return;
        case 18:
            return reportListenerState(input);
        case 22:
            return bluetoothStep(input);
        case 23:
            return bluetoothHello(input);
        case 24:
            return bluetoothWrite(input, inputLine(input));
        case 25:
            return bluetoothWrite(input, input.ConsumeBytesAsString(
                                             input.ConsumeIntegralInRange<std::size_t>(1, 600)));
        case 26:
            return bluetoothHello(input);
        case 27:
            return reportRadio(input);
        case 19:
            return receiver_->forgetPairedDevices();
        case 20:
            events_->location =
                input.ConsumeBool()
                    ? std::nullopt
                    : std::optional<Point>(Point{input.ConsumeFloatingPoint<double>(),
                                                 input.ConsumeFloatingPoint<double>()});
            return;
        default:
            secrets_->addStatus =
                input.ConsumeBool() ? std::optional<std::int32_t>(-34) : std::nullopt;
            secrets_->updateStatus = secrets_->addStatus;
            return;
        }
    }

    // Runs posted tasks unless the input wants them to pile up behind later reports.
    void maybeRun(FuzzedDataProvider& input) {
        if (input.remaining_bytes() == 0 || input.ConsumeIntegralInRange<int>(0, 3) != 0) {
            mainThread_->runAll();
        }
    }

    void finish() {
        mainThread_->runAll();
        checkInvariants();
        receiver_->stop();
        mainThread_->runAll();
        checkInvariants();
        check(!buttonHeld_, "button held after stop");
    }

    void checkInvariants() {
        int active = 0;
        for (const auto& connection : connections_) {
            if (connection->starts > 0 && connection->cancels == 0) {
                ++active;
            }
            check(connection->starts <= 1, "connection started twice");
        }
        check(active <= 1, "more than one client");
        followActivity();
        const bool central = central_.has_value();
        check(!(central && active > 0), "a live TCP connection beside a central");
        followInput();
        if (active == 0 && !central) {
            check(!buttonHeld_, "button left held without a client");
            check(heldModifiers_ == 0, "modifiers left held without a client");
        }
        if (receiver_->isRunning()) {
            check(isCode(receiver_->code()), "running without a code");
        } else {
            check(active == 0 && !central, "a client while stopped");
        }
        collectTokens();
    }

private:
    static std::string line(std::string json) { return json + "\n"; }

    std::string inputLine(FuzzedDataProvider& input) {
        static constexpr std::array<std::string_view, 11> kinds = {
            "move",     "scroll", "click",    "rightClick", "middleClick", "buttonDown",
            "buttonUp", "zoom",   "navigate", "key",        "modifiers"};
        static constexpr std::array<std::string_view, 4> keys = {"undo", "redo", "escape", "Undo"};
        const auto kind = kinds[input.ConsumeIntegralInRange<std::size_t>(0, kinds.size() - 1)];
        const auto number = [&] {
            return std::to_string(input.ConsumeIntegralInRange<int>(-900, 900) / 4.0);
        };
        std::string json = R"({"kind":")" + std::string(kind) + "\"";
        json += ",\"dx\":" + number() + ",\"dy\":" + number() + ",\"value\":" + number();
        json += ",\"modifiers\":" + std::to_string(input.ConsumeIntegralInRange<int>(-2, 17));
        json += R"(,"key":")" +
                std::string(keys[input.ConsumeIntegralInRange<std::size_t>(0, keys.size() - 1)]) +
                "\"}";
        return line(json);
    }

    Bytes someBytes(FuzzedDataProvider& input) {
        return input.ConsumeBytesAsString(input.ConsumeIntegralInRange<std::size_t>(0, 64));
    }

    // The admitted central, as the security log tells of admissions and departures.
    void followActivity() {
        for (const auto& record : activity_->recorded) {
            if (record.transport != Transport::bluetooth) {
                continue;
            }
            if (record.event == ClientEvent::left) {
                check(central_ == record.peer, "a central left that was not admitted");
                central_.reset();
            } else if (record.event != ClientEvent::refused &&
                       record.event != ClientEvent::rejected &&
                       record.event != ClientEvent::budgetSpent) {
                check(!central_, "a second central admitted");
                central_ = record.peer;
                ++admittedCentrals_;
            }
        }
        activity_->recorded.clear();
    }

    // The left button as the posted events leave it (a click is never posted while it is held),
    // and the modifiers as last held.
    void followInput() {
        for (const auto& entry : events_->entries) {
            const auto* mouse = std::get_if<MouseEvent>(&entry.event.body);
            if (entry.call == RecordingEventSink::Call::hold) {
                heldModifiers_ = entry.event.flags;
            } else if (entry.call == RecordingEventSink::Call::post && mouse &&
                       (mouse->type == MouseEventType::leftMouseDown ||
                        mouse->type == MouseEventType::leftMouseUp)) {
                buttonHeld_ = mouse->type == MouseEventType::leftMouseDown;
            }
        }
        events_->clear();
    }

    std::shared_ptr<FakeConnection> pick(FuzzedDataProvider& input) {
        if (connections_.empty()) {
            return nullptr;
        }
        // Mostly the newest connection; sometimes an older, possibly stale one.
        if (input.ConsumeBool()) {
            return connections_.back();
        }
        return connections_[input.ConsumeIntegralInRange<std::size_t>(0, connections_.size() - 1)];
    }

    void deliver(FuzzedDataProvider& input, Bytes bytes) {
        if (!bytes.empty()) {
            complete(input, ReceivedChunk{std::move(bytes), false, std::nullopt});
        }
    }

    // A chunk for a connection, perhaps a stale one; a live client must never buffer more than
    // a line's limit without being let go.
    void complete(FuzzedDataProvider& input, ReceivedChunk chunk) {
        const auto connection = pick(input);
        if (!connection) {
            return;
        }
        const bool live = connection->starts > 0 && connection->cancels == 0;
        Bytes& unfinished = unfinished_[connection.get()];
        unfinished += chunk.content;
        const bool overflows = unfinished.size() > TouchService::lineLimit;
        unfinished.erase(0, unfinished.rfind('\n') + 1);
        connection->deliver(std::move(chunk));
        check(!live || !overflows || connection->cancels > 0, "buffer above the limit");
    }

    void newConnection() {
        if (connections_.size() >= 64) {
            return;
        }
        auto connection = std::make_shared<FakeConnection>();
        connections_.push_back(connection);
        if (auto listener = listeners_->last()) {
            listener->deliverConnection(connection);
        }
    }

    void reportListenerState(FuzzedDataProvider& input) {
        if (listeners_->listeners.empty()) {
            return;
        }
        const auto& listener = listeners_->listeners[input.ConsumeIntegralInRange<std::size_t>(
            0, listeners_->listeners.size() - 1)];
        if (input.ConsumeBool()) {
            listener->reportState(ListenerState::ready);
        } else {
            listener->reportState(ListenerState::failed, Error("down"));
        }
    }

    CentralID pickCentral(FuzzedDataProvider& input) const {
        return CentralID(
            centrals[input.ConsumeIntegralInRange<std::size_t>(0, centrals.size() - 1)]);
    }

    // The newest manager belongs to the running transport; older ones to stopped ones.
    fakes::FakePeripheralManager* manager(FuzzedDataProvider& input) const {
        if (peripherals_->managers.empty()) {
            return nullptr;
        }
        if (input.ConsumeIntegralInRange<int>(0, 7) != 0) {
            return peripherals_->managers.back().get();
        }
        return peripherals_
            ->managers[input.ConsumeIntegralInRange<std::size_t>(0,
                                                                 peripherals_->managers.size() - 1)]
            .get();
    }

    // A central subscribes or unsubscribes, through the transport.
    void bluetoothStep(FuzzedDataProvider& input) {
        const CentralID central = pickCentral(input);
        const bool subscribing = input.ConsumeBool();
        if (auto* target = manager(input)) {
            const BluetoothUUID status(TouchService::bluetoothStatusUUID);
            subscribing ? target->subscribe(central, status) : target->unsubscribe(central, status);
        }
    }

    void bluetoothHello(FuzzedDataProvider& input) {
        switch (input.ConsumeIntegralInRange<int>(0, 2)) {
        case 0:
            return bluetoothWrite(input, line(R"({"kind":"hello","code":")" + receiver_->code() +
                                              R"(","clientID":")" + std::string(clientID) + "\"}"));
        case 1:
            return bluetoothWrite(input,
                                  line(R"({"kind":"hello","clientID":")" + std::string(clientID) +
                                       R"(","token":")" + lastToken_ + "\"}"));
        default:
            return bluetoothWrite(input, line(R"({"kind":"hello","code":"12345"})"));
        }
    }

    void bluetoothWrite(FuzzedDataProvider& input, const Bytes& bytes) {
        const CentralID central = pickCentral(input);
        if (auto* target = manager(input)) {
            target->write(central, BluetoothUUID(TouchService::bluetoothCommandUUID), bytes);
        }
    }

    void reportRadio(FuzzedDataProvider& input) {
        auto* target = manager(input);
        if (!target) {
            return;
        }
        switch (input.ConsumeIntegralInRange<int>(0, 3)) {
        case 0:
        case 1:
            target->reportState(PeripheralState::poweredOn);
            return target->reportServiceAdded();
        case 2:
            return target->reportState(PeripheralState::poweredOff);
        default:
            // Half-full send queues: notifications wait for the stack to take them.
            target->capacity = input.ConsumeBool() ? std::optional<std::size_t>(1) : std::nullopt;
            return target->reportReady();
        }
    }

    // Every notified reply is whole lines that decode; tokens are kept for later hellos.
    void collectNotifiedTokens() {
        notified_.resize(peripherals_->managers.size());
        for (std::size_t i = 0; i < peripherals_->managers.size(); ++i) {
            auto& updates = peripherals_->managers[i]->updates;
            for (const auto& update : updates) {
                Bytes& pending = notified_[i][update.central];
                pending += update.value;
                for (auto end = pending.find('\n'); end != Bytes::npos; end = pending.find('\n')) {
                    auto reply = decoder_.decode(std::string_view(pending).substr(0, end));
                    check(reply.has_value(), "notified reply does not decode");
                    acceptedCentrals_ += reply->kind == TouchMessage::Kind::accepted ? 1 : 0;
                    check(acceptedCentrals_ <= admittedCentrals_,
                          "a central told it was accepted without being admitted");
                    if (reply->token) {
                        lastToken_ = *reply->token;
                    }
                    pending.erase(0, end + 1);
                }
            }
            // Seen once; keep memory flat on long inputs.
            updates.clear();
        }
    }

    // Remembers the newest token handed out, so that later hellos can present it.
    void collectTokens() {
        collectNotifiedTokens();
        scanned_.resize(connections_.size(), 0);
        for (std::size_t i = 0; i < connections_.size(); ++i) {
            const auto& sent = connections_[i]->sent;
            for (; scanned_[i] < sent.size(); ++scanned_[i]) {
                const Bytes& bytes = sent[scanned_[i]];
                check(!bytes.empty() && bytes.back() == '\n', "reply is not one line");
                auto reply = decoder_.decode(std::string_view(bytes).substr(0, bytes.size() - 1));
                check(reply.has_value(), "reply does not decode");
                if (reply->token) {
                    lastToken_ = *reply->token;
                }
            }
        }
    }

    std::shared_ptr<FakeListenerFactory> listeners_ = std::make_shared<FakeListenerFactory>();
    std::shared_ptr<FakeAccessibilityTrust> trust_ = std::make_shared<FakeAccessibilityTrust>();
    std::shared_ptr<RecordingEventSink> events_ = std::make_shared<RecordingEventSink>();
    std::shared_ptr<FakeMainThread> mainThread_ = std::make_shared<FakeMainThread>();
    std::shared_ptr<FakeSecretStore> secrets_ = std::make_shared<FakeSecretStore>();
    std::shared_ptr<fakes::FakePeripheralManagerFactory> peripherals_ =
        std::make_shared<fakes::FakePeripheralManagerFactory>();
    std::shared_ptr<TouchReceiver> receiver_;
    std::vector<std::shared_ptr<FakeConnection>> connections_;
    TouchMessageDecoder decoder_;
    std::string lastToken_;
    std::vector<std::size_t> scanned_;
    std::shared_ptr<RecordingActivityLog> activity_ = std::make_shared<RecordingActivityLog>();
    std::optional<std::string> central_;
    int admittedCentrals_ = 0;
    int acceptedCentrals_ = 0;
    std::map<const FakeConnection*, Bytes> unfinished_;
    bool buttonHeld_ = false;
    EventFlags heldModifiers_ = 0;
    // Per manager and central: notified bytes still waiting for their newline.
    std::vector<std::map<CentralID, Bytes>> notified_;
};

} // namespace
} // namespace corvane::test

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    corvane::test::World world;
    while (input.remaining_bytes() > 0) {
        world.step(input);
        world.maybeRun(input);
        world.checkInvariants();
    }
    world.finish();
    return 0;
}
