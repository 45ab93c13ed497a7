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
#include "protocol/TouchService.h"
#include "receiver/PairingCode.h"
#include "receiver/TouchReceiver.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace corvane::test {

// The parts of `text` between the separators; a table row's columns or steps.
inline std::vector<std::string> split(const std::string& text, const std::string& separator) {
    std::vector<std::string> parts;
    for (std::size_t at = 0, next = 0; next != std::string::npos; at = next + separator.size()) {
        next = text.find(separator, at);
        parts.push_back(text.substr(at, next - at));
    }
    return parts;
}

// A row of a table in tests/data: a line that is neither blank nor a comment, split at " | ".
struct Row {
    int line = 0;
    std::vector<std::string> columns;
};

inline void PrintTo(const Row& row, std::ostream* out) {
    *out << "line " << row.line;
}

inline std::vector<Row> readRows(const std::string& path) {
    std::ifstream file(path);
    std::vector<Row> rows;
    int number = 0;
    for (std::string line; std::getline(file, line);) {
        if (++number, !line.empty() && line[0] != '#') {
            rows.push_back({number, split(line, " | ")});
        }
    }
    return rows;
}

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
    // What the observers were told, in order.
    std::vector<PublishedChange> changes;

    ReceiverHarness() { build(); }

    // A new receiver on the current fakes (after a test has changed which ones it gets).
    void build() {
        receiver = TouchReceiver::create(ReceiverPlatform{
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
        });
        receiver->addObserver([this](const PublishedChange& change) { changes.push_back(change); });
    }

    std::shared_ptr<FakeListener> listener() const { return listeners->last(); }

    void run() { mainThread->runAll(); }

    // Started, and the listener reported ready.
    void startReady() {
        receiver->start();
        listener()->reportState(ListenerState::ready);
        run();
    }

    // A new connection handed over by the listener.
    std::shared_ptr<FakeConnection> connect() {
        auto connection = std::make_shared<FakeConnection>();
        listener()->deliverConnection(connection);
        run();
        return connection;
    }

    void deliver(FakeConnection& connection, Bytes bytes) {
        connection.deliver(ReceivedChunk{std::move(bytes)});
        run();
    }

    // The phone closed the connection.
    void drop(FakeConnection& connection) {
        connection.deliver(ReceivedChunk{{}, true});
        run();
    }

    // A code of the right form that is not the current one.
    std::string wrongCode() const {
        std::string zeros(PairingCode::length, '0');
        return receiver->code() == zeros ? zeros.replace(0, 1, "1") : zeros;
    }

    static std::string helloWithCode(const std::string& code) {
        return R"({"kind":"hello","code":")" + code + "\"}\n";
    }

    fakes::FakePeripheralManager& peripheral() const { return peripherals->last(); }
};

} // namespace corvane::test
