#include "app/LineReader.h"
#include "app/TerminationSignals.h"
#include "support/QtEventLoop.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

namespace corvane {
namespace {

using test::spinFor;
using test::spinUntil;
using namespace std::chrono_literals;

class LineReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::qtApplication();
        ASSERT_EQ(pipe(fds), 0);
        reader = std::make_unique<LineReader>(
            fds[0], [this](std::string_view line) { received.emplace_back(line); });
    }
    void TearDown() override {
        reader.reset();
        close(fds[0]);
        if (fds[1] >= 0) {
            close(fds[1]);
        }
    }

    void write(const std::string& bytes) {
        ASSERT_EQ(::write(fds[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    int fds[2] = {-1, -1};
    std::unique_ptr<LineReader> reader;
    std::vector<std::string> received;
};

TEST_F(LineReaderTest, Lines_SplitAcrossWrites_ArriveWhole) {
    write("start\nsto");
    ASSERT_TRUE(spinUntil([&] { return received.size() == 1; }));
    write("p\n");
    ASSERT_TRUE(spinUntil([&] { return received.size() == 2; }));

    EXPECT_EQ(received, (std::vector<std::string>{"start", "stop"}));
}

TEST_F(LineReaderTest, OverlongLine_IsDroppedWhole) {
    write(std::string(LineReader::maximumLineLength + 100, 'x'));
    write(std::string(3000, 'y') + "\nquit\n");

    ASSERT_TRUE(spinUntil([&] { return !received.empty(); }));
    spinFor(50ms);
    ASSERT_EQ(received.size(), 1u) << "first line has " << received[0].size() << " bytes";
    EXPECT_EQ(received[0], "quit");
}

TEST_F(LineReaderTest, EndOfInput_DeliversTheLastLineAndStopsWatching) {
    write("forget");
    close(fds[1]);
    fds[1] = -1;

    ASSERT_TRUE(spinUntil([&] { return reader->atEnd(); }));
    spinFor(50ms);
    EXPECT_EQ(received, std::vector<std::string>{"forget"});
}

TEST(TerminationSignalsTest, BlockedSigterm_ArrivesAsCallback) {
    test::qtApplication();
    TerminationSignals::blockTerminationSignals();
    int caught = 0;
    auto watcher = TerminationSignals::watch([&] { ++caught; });
    ASSERT_TRUE(watcher.has_value());

    ASSERT_EQ(raise(SIGTERM), 0);

    EXPECT_TRUE(spinUntil([&] { return caught == 1; }));
}

} // namespace
} // namespace corvane
