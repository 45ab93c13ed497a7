// XTestInput against a private Xvfb. xdotool reads where the pointer went and
// `xinput test-xi2 --root` shows what arrived, with buttons, keycodes and modifiers.

#include "platform/x11/XTestInput.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

extern char** environ;

namespace corvane {
namespace {

using namespace std::chrono_literals;

constexpr EventFlags noFlags = 0;
constexpr unsigned shiftMask = 0x1;
constexpr unsigned controlMask = 0x4;
constexpr int xKeycodeControl = 37; // KEY_LEFTCTRL + 8
constexpr int xKeycodeSpace = 65;   // KEY_SPACE + 8

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit = 5s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition()) {
            return true;
        }
        std::this_thread::sleep_for(20ms);
    }
    return condition();
}

// A child process with standard output on `stdoutFd` and standard error discarded, stopped
// (killed if it lingers) when the object goes away.
class ChildProcess {
public:
    ChildProcess(const std::vector<std::string>& argv, int stdoutFd) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, stdoutFd, STDOUT_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        std::vector<char*> args;
        for (const auto& arg : argv) {
            args.push_back(const_cast<char*>(arg.c_str()));
        }
        args.push_back(nullptr);
        if (posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    ~ChildProcess() {
        if (pid_ <= 0) {
            return;
        }
        ::kill(pid_, SIGTERM);
        if (!waitFor([this] { return ::waitpid(pid_, nullptr, WNOHANG) != 0; }, 3s)) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }

private:
    pid_t pid_ = -1;
};

// Xvfb on a display number it picks itself, so parallel runs never collide.
class Xvfb {
public:
    Xvfb() {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) {
            return;
        }
        process_.emplace(std::vector<std::string>{"Xvfb", "-displayfd", "1", "-screen", "0",
                                                  "1280x800x24", "-nolisten", "tcp", "-noreset"},
                         fds[1]);
        ::close(fds[1]);
        std::string number;
        pollfd readable{fds[0], POLLIN, 0};
        for (char c = 0;
             ::poll(&readable, 1, 10000) == 1 && ::read(fds[0], &c, 1) == 1 && c != '\n';) {
            number += c;
        }
        ::close(fds[0]);
        if (!number.empty()) {
            name_ = ":" + number;
        }
    }

    bool started() const { return !name_.empty(); }
    const std::string& name() const { return name_; }
    void stop() { process_.reset(); }

private:
    std::optional<ChildProcess> process_;
    std::string name_;
};

std::string runAndRead(const std::string& command) {
    std::string output;
    if (std::FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
            output += buffer;
        }
        ::pclose(pipe);
    }
    return output;
}

std::pair<int, int> xdotoolLocation(const std::string& display) {
    const std::string output =
        runAndRead("DISPLAY=" + display + " timeout 5 xdotool getmouselocation 2>/dev/null");
    std::pair<int, int> location{-1, -1};
    std::sscanf(output.c_str(), "x:%d y:%d", &location.first, &location.second);
    return location;
}

void xdotoolMoveTo(const std::string& display, int x, int y) {
    runAndRead("DISPLAY=" + display + " timeout 5 xdotool mousemove " + std::to_string(x) + " " +
               std::to_string(y));
}

// One XI2 event as `xinput test-xi2` prints it.
struct XiEvent {
    std::string type;
    int device = 0;
    int detail = 0;
    unsigned effectiveModifiers = 0;
};

// Records every XI2 event on the root window into a file while it lives.
class XiRecorder {
public:
    explicit XiRecorder(const std::string& display)
        : path_(std::filesystem::temp_directory_path() /
                ("corvane-xi2-" + std::to_string(::getpid()) + ".txt")) {
        const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ::setenv("DISPLAY", display.c_str(), 1);
        // Line buffering, so that events reach the file while xinput still runs.
        process_.emplace(std::vector<std::string>{"stdbuf", "-oL", "xinput", "test-xi2", "--root"},
                         fd);
        ::close(fd);
    }
    ~XiRecorder() {
        process_.reset();
        std::filesystem::remove(path_);
    }

    // Master-device events only: every event also arrives once per slave device.
    std::vector<XiEvent> events() const {
        std::vector<XiEvent> events;
        std::ifstream in(path_);
        std::string line;
        while (std::getline(in, line)) {
            char name[64] = {};
            unsigned value = 0;
            int number = 0;
            if (std::sscanf(line.c_str(), "EVENT type %d (%63[^)])", &number, name) == 2) {
                events.push_back({name});
            } else if (events.empty()) {
                continue;
            } else if (std::sscanf(line.c_str(), " device: %d", &number) == 1) {
                events.back().device = number;
            } else if (std::sscanf(line.c_str(), " detail: %d", &number) == 1) {
                events.back().detail = number;
            } else if (const auto at = line.find("effective: 0x");
                       at != std::string::npos && line.find("modifiers:") != std::string::npos) {
                std::sscanf(line.c_str() + at, "effective: 0x%x", &value);
                events.back().effectiveModifiers = value;
            }
        }
        std::erase_if(events, [](const XiEvent& event) {
            return event.device != masterPointer && event.device != masterKeyboard;
        });
        return events;
    }

    // From now on, waitForEvent looks only at events that arrive after this call.
    void skipSoFar() { from_ = events().size(); }

    // The first event of this type and detail, once it has arrived.
    std::optional<XiEvent> waitForEvent(const std::string& type, int detail) const {
        std::optional<XiEvent> found;
        waitFor([&] {
            const auto all = events();
            for (std::size_t i = from_; i < all.size(); ++i) {
                if (all[i].type == type && all[i].detail == detail) {
                    found = all[i];
                    return true;
                }
            }
            return false;
        });
        return found;
    }

    static constexpr int masterPointer = 2;
    static constexpr int masterKeyboard = 3;

private:
    std::filesystem::path path_;
    std::optional<ChildProcess> process_;
    std::size_t from_ = 0;
};

class XTestInputIntegration : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server = std::make_unique<Xvfb>(); }
    static void TearDownTestSuite() { server.reset(); }

    void SetUp() override {
        ASSERT_TRUE(server->started()) << "Xvfb did not start";
        auto opened = XTestInput::open(server->name().c_str());
        ASSERT_TRUE(opened) << opened.error().description();
        input = *opened;
    }

    void post(std::optional<SyntheticEvent> event, EventFlags flags = noFlags) {
        ASSERT_TRUE(event);
        event->flags = flags;
        input->post(*event);
    }

    void moveBy(double dx, double dy) {
        const auto at = input->pointerLocation();
        ASSERT_TRUE(at);
        post(input->createMouseEvent(MouseEventType::mouseMoved, {at->x + dx, at->y + dy}, {dx, dy},
                                     MouseButton::left));
    }

    // Starts a recorder and waits until it sees events, so nothing posted later is missed, and
    // nothing posted before is taken for it.
    std::unique_ptr<XiRecorder> startRecorder() {
        auto recorder = std::make_unique<XiRecorder>(server->name());
        const bool listening = waitFor([&] {
            moveBy(1, 0);
            moveBy(-1, 0);
            return !recorder->events().empty();
        });
        EXPECT_TRUE(listening) << "xinput test-xi2 shows no events";
        recorder->skipSoFar();
        return recorder;
    }

    static inline std::unique_ptr<Xvfb> server;
    std::shared_ptr<XTestInput> input;
};

TEST_F(XTestInputIntegration, OpenMissingDisplay_FailsWithItsName) {
    const auto result = XTestInput::open(":64999");
    ASSERT_FALSE(result);
    EXPECT_NE(result.error().description().find(":64999"), std::string::npos);
}

// Sub-pixel moves add up, large ones land exactly, and a pointer moved by someone else is where
// the next move starts.
TEST_F(XTestInputIntegration, Moves_LandOnScreenWhereTheyAddUpTo) {
    xdotoolMoveTo(server->name(), 100, 100);
    moveBy(0.3, -0.3);
    EXPECT_EQ(xdotoolLocation(server->name()), (std::pair{100, 100}));
    for (int i = 1; i < 10; ++i) {
        moveBy(0.3, -0.3);
    }
    EXPECT_EQ(xdotoolLocation(server->name()), (std::pair{103, 97}));
    const Point at = *input->pointerLocation();
    EXPECT_NEAR(at.x, 103.0, 1e-9);
    EXPECT_NEAR(at.y, 97.0, 1e-9);

    xdotoolMoveTo(server->name(), 400, 400);
    moveBy(200, -200);
    EXPECT_EQ(xdotoolLocation(server->name()), (std::pair{600, 200}));

    moveBy(0.4, 0.4);
    xdotoolMoveTo(server->name(), 300, 250);
    EXPECT_EQ(input->pointerLocation(), (Point{300, 250}));
    moveBy(0.4, 0.4);
    EXPECT_EQ(xdotoolLocation(server->name()), (std::pair{300, 250}));
}

// Command held on the phone: Control goes down once for ten moves and a click, and up only when
// the mask goes to 0.
TEST_F(XTestInputIntegration, HeldCommand_OneControlPressUntilMaskZero) {
    xdotoolMoveTo(server->name(), 200, 200);
    auto recorder = startRecorder();
    input->holdModifiers(EventFlag::command);
    for (int i = 0; i < 10; ++i) {
        post(input->createMouseEvent(MouseEventType::mouseMoved, {201.0 + i, 200}, {1, 0},
                                     MouseButton::left),
             EventFlag::command);
    }
    for (const auto type : {MouseEventType::leftMouseDown, MouseEventType::leftMouseUp}) {
        post(input->createMouseEvent(type, *input->pointerLocation(), {}, MouseButton::left),
             EventFlag::command);
    }
    const auto release = recorder->waitForEvent("ButtonRelease", 1);
    ASSERT_TRUE(release);
    EXPECT_EQ(release->effectiveModifiers & controlMask, controlMask);
    const auto controlEvents = [&] {
        std::vector<std::string> seen;
        for (const XiEvent& event : recorder->events()) {
            if (event.detail == xKeycodeControl && event.type.starts_with("Key")) {
                seen.push_back(event.type);
            }
        }
        return seen;
    };
    EXPECT_EQ(controlEvents(), (std::vector<std::string>{"KeyPress"}));
    input->holdModifiers(0);
    EXPECT_TRUE(recorder->waitForEvent("KeyRelease", xKeycodeControl));
    EXPECT_EQ(controlEvents(), (std::vector<std::string>{"KeyPress", "KeyRelease"}));
    EXPECT_EQ(xdotoolLocation(server->name()), (std::pair{210, 200}));
}

TEST_F(XTestInputIntegration, Scroll_ArrivesAsWheelButtons) {
    auto recorder = startRecorder();
    // Vertical and horizontal amounts, and the X button for each direction.
    for (const auto& [vertical, horizontal, button] :
         {std::tuple{40, 0, 4}, std::tuple{-40, 0, 5}, std::tuple{0, 40, 6},
          std::tuple{0, -40, 7}}) {
        SCOPED_TRACE(button);
        post(input->createScrollWheelEvent(vertical, horizontal));
        const auto press = recorder->waitForEvent("ButtonPress", button);
        ASSERT_TRUE(press);
        EXPECT_EQ(press->effectiveModifiers, 0u);
    }
}

// Shortcuts type what they mean in the current layout, read again after each change: the key
// that types z on AZERTY and QWERTZ, and + where = needs Shift.
TEST_F(XTestInputIntegration, Shortcuts_FollowTheCurrentLayout) {
    struct Case {
        const char* layout;
        std::uint16_t key;
        EventFlags flags;
        int keycode;
        unsigned modifiers;
    };
    const Case cases[] = {
        {"us", VirtualKey::z, EventFlag::command, 52, controlMask},      // z
        {"fr", VirtualKey::z, EventFlag::command, 25, controlMask},      // US w
        {"de", VirtualKey::z, EventFlag::shift | EventFlag::command, 29, // US y
         controlMask | shiftMask},
        {"de", VirtualKey::equal, EventFlag::command, 35, controlMask}, // +
        {"us", VirtualKey::space, noFlags, xKeycodeSpace, 0},
    };
    auto recorder = startRecorder();
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.layout) + " key " + std::to_string(c.key));
        runAndRead("timeout 5 setxkbmap -display " + server->name() + " " + c.layout);
        recorder->skipSoFar();
        post(input->createKeyboardEvent(c.key, true), c.flags);
        post(input->createKeyboardEvent(c.key, false), c.flags);
        const auto press = recorder->waitForEvent("KeyPress", c.keycode);
        ASSERT_TRUE(press);
        EXPECT_EQ(press->effectiveModifiers & (controlMask | shiftMask), c.modifiers);
        EXPECT_TRUE(recorder->waitForEvent("KeyRelease", c.keycode));
    }
    // Nothing stays down: a plain click afterwards carries no modifier.
    post(input->createMouseEvent(MouseEventType::leftMouseDown, *input->pointerLocation(), {},
                                 MouseButton::left));
    post(input->createMouseEvent(MouseEventType::leftMouseUp, *input->pointerLocation(), {},
                                 MouseButton::left));
    const auto click = recorder->waitForEvent("ButtonPress", 1);
    ASSERT_TRUE(click);
    EXPECT_EQ(click->effectiveModifiers, 0u);
}

TEST(XTestInputConnectionLost, ServerGone_EveryCallFailsQuietly) {
    Xvfb ownServer;
    ASSERT_TRUE(ownServer.started());
    auto opened = XTestInput::open(ownServer.name().c_str());
    ASSERT_TRUE(opened);
    const auto input = *opened;
    ASSERT_TRUE(input->isTrusted());
    input->requestTrust(); // nothing to ask on X11; returns at once
    EXPECT_TRUE(input->isTrusted());
    ownServer.stop();

    // Xlib would end the process here without the backend's exit handler.
    EXPECT_FALSE(input->isTrusted());
    EXPECT_EQ(input->pointerLocation(), std::nullopt);
    EXPECT_EQ(input->createMouseEvent(MouseEventType::mouseMoved, {1, 1}, {}, MouseButton::left),
              std::nullopt);
    EXPECT_EQ(input->createKeyboardEvent(VirtualKey::z, true), std::nullopt);
    EXPECT_EQ(input->createScrollWheelEvent(1, 1), std::nullopt);
    input->post(
        SyntheticEvent{MouseEvent{MouseEventType::mouseMoved, {5, 5}, MouseButton::left, {}}});
    input->holdModifiers(EventFlag::command);
}

} // namespace
} // namespace corvane
