#include "app/CommandLine.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

namespace corvane {

namespace {

// The options, and the parser that knows them.
struct Parser {
    QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")},
                            QStringLiteral("Show this help and exit.")};
    QCommandLineOption version{{QStringLiteral("v"), QStringLiteral("version")},
                               QStringLiteral("Show the version and exit.")};
    QCommandLineOption headless{
        QStringLiteral("headless"),
        QStringLiteral("Run without a window or tray icon: start the receiver at once, print its "
                       "state on standard output and take the commands start, stop, forget and "
                       "quit on standard input.")};
    QCommandLineOption background{
        QStringLiteral("background"),
        QStringLiteral("Start the receiver with the window closed, as starting at login does; "
                       "the tray icon, or running corvane again, opens the window.")};
    QCommandLineParser parser;

    Parser() {
        parser.setApplicationDescription(QStringLiteral(
            "Turns a phone or tablet into the touchpad and shortcut keys of this computer.\n"
            "Without options it opens the window; the receiver starts when you press Start "
            "Receiver."));
        parser.addOptions({help, version, headless, background});
    }
};

} // namespace

std::expected<CommandLine, Error> parseCommandLine(const QStringList& arguments) {
    Parser options;
    QCommandLineParser& parser = options.parser;
    if (!parser.parse(arguments)) {
        return std::unexpected(Error(parser.errorText().toStdString() + " See corvane --help."));
    }
    if (const QStringList extra = parser.positionalArguments(); !extra.isEmpty()) {
        return std::unexpected(Error("Unexpected argument '" + extra.constFirst().toStdString() +
                                     "'. See corvane --help."));
    }
    CommandLine commandLine;
    if (parser.isSet(options.help)) {
        commandLine.request = CommandLine::Request::help;
    } else if (parser.isSet(options.version)) {
        commandLine.request = CommandLine::Request::version;
    }
    commandLine.headless = parser.isSet(options.headless);
    commandLine.background = parser.isSet(options.background);
    if (commandLine.headless && commandLine.background) {
        return std::unexpected(Error("--headless and --background do not go together: the "
                                     "headless receiver has no window to keep closed."));
    }
    return commandLine;
}

std::string commandLineHelp() {
    Parser options;
    // Qt names the program only when an application object exists, and none does yet.
    QString text = options.parser.helpText();
    text.replace(0, text.indexOf(QLatin1Char('\n')), QStringLiteral("Usage: corvane [options]"));
    return text.toStdString();
}

} // namespace corvane
