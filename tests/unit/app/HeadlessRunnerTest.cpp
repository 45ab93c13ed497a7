#include "app/HeadlessRunner.h"

#include "unit/receiver/ReceiverHarness.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace corvane {
namespace {

using namespace test;
using Lines = std::vector<std::string>;

// The runner after begin(): what it printed, and what it printed since the last look.
struct Runner : ReceiverHarness {
    explicit Runner(bool trusted) {
        trust->trusted = trusted;
        runner.begin();
        run();
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
            listener()->reportState(ListenerState::ready);
        } else if (action == "no avahi") {
            listener()->reportAdvertising(Error("avahi-daemon is not running"));
        } else if (action == "network lost") {
            listener()->reportState(ListenerState::failed, Error("socket gone\nfor good"));
        } else if (action == "TERM") {
            runner.handleTermination();
        } else {
            runner.handleCommand(action, errors);
        }
        run();
    }

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
                     "pairing: ", "publishing: ", "storage: ", "code: #", "running: true",
                     "status: Starting receiver\u2026", "bluetooth: Starting Bluetooth\u2026"}));
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
    for (const auto& [line, columns] : readRows(CORVANE_TEST_DATA "/receiver-headless.txt")) {
        SCOPED_TRACE(line);
        ASSERT_EQ(columns.size(), 4u);
        Runner run(columns[0] == "trusted");
        run.newLines();
        for (auto action : split(columns[1], " ; ")) {
            run.act(action.ends_with("\\r") ? action.replace(action.size() - 2, 2, "\r") : action);
        }
        EXPECT_EQ(joined(run.newLines()), columns[2]);
        Lines said = split(run.errors.str(), "\n");
        said.pop_back();
        for (const int status : run.exits) {
            said.push_back("exit " + std::to_string(status));
        }
        EXPECT_EQ(joined(said), columns[3] == "-" ? "" : columns[3]);
    }
}

} // namespace
} // namespace corvane
