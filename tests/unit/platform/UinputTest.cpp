#include "input/InputInjector.h"
#include "platform/uinput/UinputInput.h"
#include "protocol/TouchMessageDecoder.h"
#include "unit/ScriptFile.h"

#include <libevdev/libevdev.h>
#include <linux/input-event-codes.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace corvane {
namespace {

// The device's writes as text, one line per frame.
struct Frames {
    std::vector<std::string> closed;
    std::string open;
};

class RecordingDevice final : public UinputDevice {
public:
    explicit RecordingDevice(std::shared_ptr<Frames> frames) : frames_(std::move(frames)) {}
    bool write(std::uint16_t type, std::uint16_t code, std::int32_t value) override {
        if (type == EV_SYN && code == SYN_REPORT) {
            frames_->closed.push_back(std::exchange(frames_->open, ""));
        } else {
            frames_->open += (frames_->open.empty() ? "" : ", ") +
                             std::string(libevdev_event_code_get_name(type, code)) + " " +
                             std::to_string(value);
        }
        return true;
    }

private:
    std::shared_ptr<Frames> frames_;
};

struct Session {
    std::shared_ptr<Frames> frames = std::make_shared<Frames>();
    std::shared_ptr<UinputInput> input;
    std::unique_ptr<InputInjector> injector;
    TouchMessageDecoder decoder;

    void open(WorkspaceKeys keys) {
        injector.reset();
        input = std::make_shared<UinputInput>(std::make_unique<RecordingDevice>(frames),
                                              "/nonexistent/uinput", keys);
        injector = std::make_unique<InputInjector>(input);
    }
};

TEST(Uinput, MessagesBecomeKernelInputFrames) {
    test::runScript("platform/uinput.txt", [] {
        auto session = std::make_shared<Session>();
        session->open(WorkspaceKeys::controlAlt);
        return [session](const std::string& step) {
            if (step.starts_with("desktop ")) {
                session->open(KeyTable::workspaceKeysFor(step.substr(8)));
            } else if (step == "release") {
                session->injector->releaseHeldButton();
            } else if (step == "clear") {
                session->injector->clearModifiers();
            } else if (step == "exit") {
                session->injector.reset();
                session->input.reset();
            } else {
                session->injector->applyInput(session->decoder.decode(step).value());
            }
            auto produced = std::exchange(session->frames->closed, {});
            if (!session->frames->open.empty()) {
                produced.push_back("without SYN_REPORT: " +
                                   std::exchange(session->frames->open, ""));
            }
            return produced;
        };
    });
}

TEST(Uinput, TrustedWhileTheNodeIsWritable_AndOpeningAMissingNodeSaysWhich) {
    const auto node = std::filesystem::temp_directory_path() / "corvane-uinput-trust-test";
    std::fclose(std::fopen(node.c_str(), "w"));
    UinputInput input(std::make_unique<RecordingDevice>(std::make_shared<Frames>()), node);
    EXPECT_TRUE(input.isTrusted());
    std::filesystem::remove(node);
    EXPECT_FALSE(input.isTrusted());
    EXPECT_FALSE(input.createKeyboardEvent(0, true)) << "a key that no shortcut uses";
    const auto opened = UinputInput::open("/nonexistent/uinput");
    ASSERT_FALSE(opened);
    EXPECT_NE(opened.error().description().find("/nonexistent/uinput"), std::string::npos);
}

} // namespace
} // namespace corvane
