#include "app/HeadlessRunner.h"

#include "fakes/FakeAccessibilityTrust.h"
#include "fakes/FakeClock.h"
#include "fakes/FakeHostName.h"
#include "fakes/FakeListener.h"
#include "fakes/FakeMainThread.h"
#include "fakes/FakeSecretStore.h"
#include "fakes/FakeSecureRandom.h"
#include "fakes/FakeUserDefaults.h"
#include "fakes/RecordingEventSink.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace corvane {
namespace {

using namespace test;
using Lines = std::vector<std::string>;
const std::string unavailable = "bluetooth: Bluetooth LE peripheral mode unavailable";

// The runner after begin(): what it printed, and what it printed since the last look.
struct Runner {
    explicit Runner(bool trusted) {
        trust->trusted = trusted;
        runner.begin();
        mainThread->runAll();
    }

    Lines newLines() {
        Lines fresh;
        std::istringstream in(out.str().substr(seen));
        for (std::string line; std::getline(in, line);) {
            const bool current = !receiver->code().empty() && line == "code: " + receiver->code();
            fresh.push_back(current ? "code: #" : line);
        }
        seen = out.str().size();
        return fresh;
    }

    // A command line, the terminating signal, or something the receiver's listener reports.
    void act(const std::string& action) {
        if (action == "ready") {
            listeners->last()->reportState(ListenerState::ready);
        } else if (action == "no avahi") {
            listeners->last()->reportAdvertising(Error("avahi-daemon is not running"));
        } else if (action == "network lost") {
            listeners->last()->reportState(ListenerState::failed, Error("socket gone\nfor good"));
        } else if (action == "TERM") {
            runner.handleTermination();
        } else {
            runner.handleCommand(action, errors);
        }
        mainThread->runAll();
    }

    std::shared_ptr<FakeListenerFactory> listeners = std::make_shared<FakeListenerFactory>();
    std::shared_ptr<FakeAccessibilityTrust> trust = std::make_shared<FakeAccessibilityTrust>();
    std::shared_ptr<FakeMainThread> mainThread = std::make_shared<FakeMainThread>();
    std::shared_ptr<FakeSecureRandom> random = std::make_shared<FakeSecureRandom>();
    std::shared_ptr<TouchReceiver> receiver = TouchReceiver::create(ReceiverPlatform{
        .listeners = listeners,
        .trust = trust,
        .events = std::make_shared<RecordingEventSink>(),
        .mainThread = mainThread,
        .hostName = std::make_shared<FakeHostName>(),
        .random = random,
        .clock = std::make_shared<FakeClock>(),
        .pairingStorage = PairingStorage{std::make_shared<FakeSecretStore>(),
                                         std::make_shared<FakeUserDefaults>(), random},
        .storageStatus = "kept in files",
    });
    std::ostringstream out;
    std::ostringstream errors;
    std::vector<int> exits;
    HeadlessRunner runner{receiver, out, [this](int status) { exits.push_back(status); }};
    std::size_t seen = 0;
};

TEST(HeadlessRunnerTest, Begin_PrintsTheWholeStateThenStarts) {
    Runner run(true);
    EXPECT_EQ(run.newLines(),
              (Lines{"status: Stopped", "code: ", "running: false", "accessibility: true",
                     "bluetooth: Bluetooth stopped",
                     "pairing: ", "publishing: ", "storage: kept in files", "code: #",
                     "running: true", "status: Starting receiver\u2026", unavailable}));
}

std::vector<std::string> split(const std::string& text, const std::string& separator) {
    std::vector<std::string> parts;
    for (std::size_t at = 0, next = 0; next != std::string::npos; at = next + separator.size()) {
        next = text.find(separator, at);
        parts.push_back(text.substr(at, next - at));
    }
    return parts;
}

std::string joined(const Lines& lines) {
    std::string text;
    for (const auto& line : lines) {
        text += (text.empty() ? "" : " ; ") + line;
    }
    return text;
}

// One line per changed value, each on one line, nothing for a value that did not change; quit
// and the terminating signal stop the receiver and exit once, with success.
TEST(HeadlessRunnerTest, Actions_PrintWhatChanged) {
    std::ifstream file(CORVANE_TEST_DATA "/receiver-headless.txt");
    for (std::string row; std::getline(file, row);) {
        const auto columns = split(row, " | ");
        if (row.empty() || row.starts_with('#')) {
            continue;
        }
        ASSERT_EQ(columns.size(), 4u) << row;
        Runner run(columns[0] == "trusted");
        run.newLines();
        for (auto action : split(columns[1], " ; ")) {
            run.act(action.ends_with("\\r") ? action.replace(action.size() - 2, 2, "\r") : action);
        }
        EXPECT_EQ(joined(run.newLines()), columns[2]) << row;
        Lines said = split(run.errors.str(), "\n");
        said.pop_back();
        for (const int status : run.exits) {
            said.push_back("exit " + std::to_string(status));
        }
        EXPECT_EQ(joined(said), columns[3] == "-" ? "" : columns[3]) << row;
    }
}

} // namespace
} // namespace corvane
