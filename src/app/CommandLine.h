#pragma once

#include "common/Error.h"

#include <QStringList>
#include <expected>
#include <string>

namespace corvane {

// What the user asked for on the command line.
struct CommandLine {
    enum class Request { run, help, version };

    Request request = Request::run;
    // The receiver without a window or tray icon, driven through standard input and output.
    bool headless = false;
    // The window closed and the receiver started, as starting at login wants it.
    bool background = false;
};

// `arguments` starts with the program's name. Unknown options, arguments and choices that
// contradict each other are errors whose description fits on one line.
std::expected<CommandLine, Error> parseCommandLine(const QStringList& arguments);

// What --help prints.
std::string commandLineHelp();

} // namespace corvane
