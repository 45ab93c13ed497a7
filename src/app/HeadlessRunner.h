#pragma once

#include "receiver/TouchReceiver.h"

#include <array>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>

namespace corvane {

// Runs the receiver without a window: its state goes out as "field: value" lines, and commands
// come in as lines. Reading the input and catching signals belong to the caller, so that this
// stays a plain object.
class HeadlessRunner {
public:
    // `exit` ends the program with the given status; it is called at most once.
    HeadlessRunner(std::shared_ptr<TouchReceiver> receiver, std::ostream& out,
                   std::function<void(int)> exit);
    ~HeadlessRunner();

    HeadlessRunner(const HeadlessRunner&) = delete;
    HeadlessRunner& operator=(const HeadlessRunner&) = delete;

    // Prints the whole state, then starts the receiver.
    void begin();
    // One input line: "start", "stop", "forget" or "quit"; anything else is reported on `errors`.
    void handleCommand(std::string_view line, std::ostream& errors);
    // SIGINT or SIGTERM: stop cleanly and exit successfully.
    void handleTermination();

private:
    void print(PublishedField field, const PublishedState& state);
    void quit();

    std::shared_ptr<TouchReceiver> receiver_;
    std::ostream& out_;
    std::function<void(int)> exit_;
    TouchReceiver::ObserverId observer_ = 0;
    // The last line printed per field; a repeated assignment of the same value prints nothing.
    std::array<std::string, 8> printed_;
    bool exiting_ = false;
};

} // namespace corvane
