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

#include <algorithm>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace corvane {
namespace {

using namespace test;

class HeadlessRunnerTest : public ::testing::Test {
protected:
    std::shared_ptr<TouchReceiver> makeReceiver() {
        auto random = std::make_shared<FakeSecureRandom>();
        return TouchReceiver::create(ReceiverPlatform{
            .listeners = listeners,
            .trust = trust,
            .events = std::make_shared<RecordingEventSink>(),
            .mainThread = mainThread,
            .hostName = std::make_shared<FakeHostName>(),
            .random = random,
            .clock = std::make_shared<FakeClock>(),
            .pairingStorage = PairingStorage{std::make_shared<FakeSecretStore>(),
                                             std::make_shared<FakeUserDefaults>(), random},
            .storageStatus = "No keyring answered at launch: pairings are kept in files",
        });
    }

    std::vector<std::string> lines() const {
        std::vector<std::string> result;
        std::istringstream in(out.str());
        for (std::string line; std::getline(in, line);) {
            result.push_back(line);
        }
        return result;
    }

    // Lines printed since the last call.
    std::vector<std::string> newLines() {
        auto all = lines();
        std::vector<std::string> fresh(all.begin() + static_cast<long>(seen), all.end());
        seen = all.size();
        return fresh;
    }

    void command(std::string_view line) {
        runner.handleCommand(line, errors);
        mainThread->runAll();
    }

    std::shared_ptr<FakeListenerFactory> listeners = std::make_shared<FakeListenerFactory>();
    std::shared_ptr<FakeAccessibilityTrust> trust = std::make_shared<FakeAccessibilityTrust>();
    std::shared_ptr<FakeMainThread> mainThread = std::make_shared<FakeMainThread>();
    std::shared_ptr<TouchReceiver> receiver = makeReceiver();
    std::ostringstream out;
    std::ostringstream errors;
    std::vector<int> exits;
    HeadlessRunner runner{receiver, out, [this](int status) { exits.push_back(status); }};
    std::size_t seen = 0;
};

TEST_F(HeadlessRunnerTest, Begin_PrintsTheWholeStateThenStarts) {
    runner.begin();
    mainThread->runAll();

    const auto printed = newLines();
    ASSERT_GE(printed.size(), 11u);
    EXPECT_EQ(std::vector(printed.begin(), printed.begin() + 8),
              (std::vector<std::string>{
                  "status: Stopped", "code: ", "running: false", "accessibility: true",
                  "bluetooth: Bluetooth stopped", "pairing: ", "publishing: ",
                  "storage: No keyring answered at launch: pairings are kept in files"}));
    EXPECT_TRUE(std::regex_match(printed[8], std::regex("code: [0-9]{6}")));
    EXPECT_EQ(printed[9], "running: true");
    EXPECT_EQ(printed[10], "status: Starting receiver\u2026");
    EXPECT_TRUE(receiver->isRunning());
}

TEST_F(HeadlessRunnerTest, Changes_PrintOneLineEach_RepeatsPrintNothing) {
    runner.begin();
    mainThread->runAll();
    newLines();

    listeners->last()->reportState(ListenerState::ready);
    listeners->last()->reportAdvertising(Error("avahi-daemon is not running"));
    mainThread->runAll();
    EXPECT_EQ(newLines(), (std::vector<std::string>{
                              "status: Ready for pairing",
                              "publishing: Phones cannot find this computer: avahi-daemon is "
                              "not running"}));

    // start while running assigns nothing new.
    command("start");
    EXPECT_TRUE(newLines().empty());
}

TEST_F(HeadlessRunnerTest, Status_WithLineBreaks_StaysOnOneLine) {
    runner.begin();
    mainThread->runAll();
    newLines();

    listeners->last()->reportState(ListenerState::failed, Error("socket gone\nfor good"));
    mainThread->runAll();

    const auto printed = newLines();
    ASSERT_FALSE(printed.empty());
    EXPECT_EQ(printed.back(), "status: Network error: socket gone for good");
}

TEST_F(HeadlessRunnerTest, Commands_StopStartForget_DriveTheReceiver) {
    runner.begin();
    mainThread->runAll();
    command("stop");
    EXPECT_FALSE(receiver->isRunning());
    EXPECT_EQ(lines().back(), "bluetooth: Bluetooth stopped");

    command("  start\r");
    EXPECT_TRUE(receiver->isRunning());

    const auto listenersBefore = listeners->listeners.size();
    command("forget");
    EXPECT_TRUE(receiver->isRunning());
    EXPECT_EQ(listeners->listeners.size(), listenersBefore + 1);
    EXPECT_EQ(receiver->code().size(), 6u);
    EXPECT_TRUE(exits.empty());
    EXPECT_TRUE(errors.str().empty());
}

TEST_F(HeadlessRunnerTest, UnknownCommand_IsReportedAndIgnored) {
    runner.begin();
    mainThread->runAll();
    newLines();

    command("launch");
    command("");

    EXPECT_TRUE(newLines().empty());
    EXPECT_NE(errors.str().find("launch"), std::string::npos);
    EXPECT_TRUE(receiver->isRunning());
}

TEST_F(HeadlessRunnerTest, QuitAndTermination_StopOnceAndExitZeroOnce) {
    runner.begin();
    mainThread->runAll();

    command("quit");
    runner.handleTermination();

    EXPECT_FALSE(receiver->isRunning());
    const auto printed = lines();
    EXPECT_NE(std::find(printed.begin(), printed.end(), "status: Stopped"), printed.end());
    EXPECT_EQ(printed.back(), "bluetooth: Bluetooth stopped");
    EXPECT_EQ(exits, std::vector<int>{0});
}

TEST_F(HeadlessRunnerTest, Termination_WithoutAccessibility_StillExitsZero) {
    trust->trusted = false;
    runner.begin();
    mainThread->runAll();
    EXPECT_EQ(lines().back(), "status: Grant Accessibility access, then start the receiver.");

    runner.handleTermination();

    EXPECT_EQ(exits, std::vector<int>{0});
}

} // namespace
} // namespace corvane
