#include "app/InputChoice.h"

#include "fakes/FakeAccessibilityTrust.h"
#include "fakes/RecordingEventSink.h"
#include "support/QtEventLoop.h"

#include <gtest/gtest.h>

#include <chrono>
#include <sstream>

namespace corvane {
namespace {

using namespace std::chrono_literals;
using Names = std::vector<std::string>;

// The automatic choice for each kind of session is shown end to end (X11 and the portal); here
// what only a user's mistake or a bare environment reaches.
TEST(InputChoice, Order_UnknownNameRefused_SessionFromEitherVariable) {
    EXPECT_EQ(InputChoice::order("none", true), Names{});
    EXPECT_EQ(InputChoice::order("xtest", true), Names{"xtest"});
    EXPECT_FALSE(InputChoice::order("wayland", true));
    EXPECT_TRUE(InputChoice::isWaylandSession("wayland-0", ""));
    EXPECT_TRUE(InputChoice::isWaylandSession("", "wayland"));
    EXPECT_FALSE(InputChoice::isWaylandSession("", "x11"));
}

// A backend the test makes appear, fail or turn trusted.
struct FakeBackend {
    std::shared_ptr<test::FakeAccessibilityTrust> trust =
        std::make_shared<test::FakeAccessibilityTrust>();
    std::shared_ptr<test::RecordingEventSink> events = std::make_shared<test::RecordingEventSink>();
    std::optional<std::string> problem;
    bool opens = true;

    InputCandidate candidate(const std::string& name) {
        return {name, [this, name]() -> std::expected<InputBackend, Error> {
                    if (!opens) {
                        return std::unexpected(Error("cannot open"));
                    }
                    return InputBackend{name, events, trust, [this] { return problem; }};
                }};
    }
};

// The portal turns out missing while uinput is not writable; the user installs the udev rule and
// presses Start or Request Accessibility: uinput is taken then, without a restart.
TEST(InputChoice, MissingPortal_FallsBackAndARequestProbesAgain) {
    test::qtApplication();
    FakeBackend portal;
    FakeBackend uinput;
    portal.trust->trusted = false;
    uinput.opens = false;
    std::ostringstream log;
    InputChoice choice({portal.candidate("portal"), uinput.candidate("uinput")}, log);
    int reports = 0;
    choice.onTrustChanged([&reports] { ++reports; });
    EXPECT_EQ(choice.currentName(), "portal");

    portal.problem = "no portal on the bus";
    portal.trust->report(false);
    EXPECT_EQ(reports, 0); // never from inside the backend's report
    ASSERT_TRUE(test::spinUntil([&] { return reports == 1; }));
    EXPECT_EQ(choice.currentName(), "none");
    EXPECT_FALSE(choice.isTrusted());

    uinput.opens = true;
    choice.requestTrust();
    EXPECT_EQ(choice.currentName(), "uinput");
    EXPECT_TRUE(choice.isTrusted());
    EXPECT_EQ(uinput.trust->requests, 1);
    EXPECT_EQ(reports, 1);
    ASSERT_TRUE(test::spinUntil([&] { return reports == 2; }));

    choice.holdModifiers(EventFlag::shift);
    EXPECT_EQ(uinput.events->entries.size(), 1u);
    EXPECT_EQ(log.str(), "corvane: input through portal\n"
                         "corvane: input: portal: no portal on the bus\n"
                         "corvane: input: uinput: cannot open\n"
                         "corvane: input through none\n"
                         "corvane: input: portal: no portal on the bus\n"
                         "corvane: input through uinput\n");
    test::spinFor(50ms);
    EXPECT_EQ(reports, 2);
}

} // namespace
} // namespace corvane
