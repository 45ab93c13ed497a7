// XTestInput on a private Xvfb, as an outside witness sees it: `xinput test-xi2 --root` prints
// each button and key event with the modifiers in effect.
#include "integration/Processes.h"
#include "platform/x11/XTestInput.h"

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <functional>

namespace corvane {
namespace {

class XTestInputTest : public testing::Test {
protected:
    void SetUp() override {
        test::start(xvfb, "Xvfb",
                    {"-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp"});
        qputenv("DISPLAY", ":" + test::readLine(xvfb));
        auto opened = XTestInput::open(nullptr);
        ASSERT_TRUE(opened) << opened.error().description();
        input = *opened;
        test::start(xinput, "stdbuf", {"-oL", "xinput", "test-xi2", "--root"});
        ASSERT_TRUE(test::spinUntil([&] {
            const Point to{input->pointerLocation().value().x + 1, 1};
            post(input->createMouseEvent(MouseEventType::mouseMoved, to, {}, MouseButton::left));
            return (output += xinput.readAllStandardOutput()).contains("EVENT");
        }));
    }
    void TearDown() override {
        test::stop(xinput);
        test::stop(xvfb);
    }

    // The master devices' button and key events so far, as "ButtonPress 1 0x4": the type, the
    // button or keycode, and the modifiers in effect.
    QStringList events() {
        static const QRegularExpression event(
            R"(EVENT type \d+ \(((?:Button|Key)(?:Press|Release))\)\n\s+device: [23] .*\n)"
            R"(\s+detail: (\d+)\n(?:.*\n){4}\s+modifiers:.* effective: (\w+)\n)");
        output += xinput.readAllStandardOutput();
        QStringList found;
        for (const QRegularExpressionMatch& match : event.globalMatch(output)) {
            found << match.capturedTexts().mid(1).join(' ');
        }
        return found;
    }

    // Waits for `act` to cause exactly these events.
    void expectEvents(const std::function<void()>& act, const QStringList& expected) {
        act();
        QStringList now;
        test::spinUntil([&] { return (now = events().mid(seen)).size() >= expected.size(); },
                        std::chrono::seconds(5));
        EXPECT_EQ(now.join(", ").toStdString(), expected.join(", ").toStdString());
        seen += now.size();
    }

    void post(std::optional<SyntheticEvent> event, EventFlags flags = 0) {
        ASSERT_TRUE(event);
        event->flags = flags;
        input->post(*event);
    }
    void key(const char* layout, std::uint16_t code, EventFlags flags) {
        test::run(QStringLiteral("setxkbmap ") + layout);
        // The server may still be sending its notice of the new layout to our connection when
        // setxkbmap has already ended; a round trip there has it read before the next key.
        input->isTrusted();
        post(input->createKeyboardEvent(code, true), flags);
        post(input->createKeyboardEvent(code, false), flags);
    }

    QProcess xvfb, xinput;
    QByteArray output;
    qsizetype seen = 0;
    std::shared_ptr<XTestInput> input;
};

// Command held over moves and a click is one Control press until the phone lets go; each
// button and wheel direction lands on its X button.
TEST_F(XTestInputTest, HeldCommandAndButtons_ArriveAsXButtonsWithOneControlPress) {
    const auto click = [&](MouseEventType down, MouseEventType up, MouseButton button) {
        const Point at = input->pointerLocation().value();
        post(input->createMouseEvent(down, at, {}, button), EventFlag::command);
        post(input->createMouseEvent(up, at, {}, button), EventFlag::command);
    };
    expectEvents(
        [&] {
            input->holdModifiers(EventFlag::command);
            for (int move = 0; move < 3; ++move) {
                const Point at = input->pointerLocation().value();
                post(input->createMouseEvent(MouseEventType::mouseMoved, {at.x + 1, at.y}, {1, 0},
                                             MouseButton::left),
                     EventFlag::command);
            }
            click(MouseEventType::leftMouseDown, MouseEventType::leftMouseUp, MouseButton::left);
            click(MouseEventType::rightMouseDown, MouseEventType::rightMouseUp, MouseButton::right);
            click(MouseEventType::otherMouseDown, MouseEventType::otherMouseUp,
                  MouseButton::center);
            input->holdModifiers(0);
        },
        {"KeyPress 37 0", "ButtonPress 1 0x4", "ButtonRelease 1 0x4", "ButtonPress 3 0x4",
         "ButtonRelease 3 0x4", "ButtonPress 2 0x4", "ButtonRelease 2 0x4", "KeyRelease 37 0x4"});
}

// What only a real server shows: the wheels, and shortcuts by what their keys type in the current
// layout: the key that types z on AZERTY and QWERTZ, and + where = needs Shift.
TEST_F(XTestInputTest, WheelsAndShortcuts_ArriveAsTheCurrentLayoutTypesThem) {
    expectEvents(
        [&] {
            for (const auto& [vertical, horizontal] :
                 {std::pair{40, 0}, {-40, 0}, {0, 40}, {0, -40}}) {
                post(input->createScrollWheelEvent(vertical, horizontal));
            }
        },
        {"ButtonPress 4 0", "ButtonRelease 4 0", "ButtonPress 5 0", "ButtonRelease 5 0",
         "ButtonPress 6 0", "ButtonRelease 6 0", "ButtonPress 7 0", "ButtonRelease 7 0"});
    for (const auto& [layout, code, keycode] : {std::tuple{"fr", VirtualKey::z, 25},
                                                {"de", VirtualKey::z, 29},
                                                {"de", VirtualKey::equal, 35}}) {
        SCOPED_TRACE(layout);
        expectEvents([&] { key(layout, code, EventFlag::command); },
                     {"KeyPress 37 0", QStringLiteral("KeyPress %1 0x4").arg(keycode),
                      QStringLiteral("KeyRelease %1 0x4").arg(keycode), "KeyRelease 37 0x4"});
    }
    expectEvents([&] { key("us", VirtualKey::space, 0); }, {"KeyPress 65 0", "KeyRelease 65 0"});
}

} // namespace
} // namespace corvane
