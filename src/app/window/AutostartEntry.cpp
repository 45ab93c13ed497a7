#include "app/window/AutostartEntry.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>

namespace corvane {

namespace {

constexpr const char* fileName = "dev.corvane.Corvane.desktop";

// The characters that make an Exec argument need quotes, and those that need a backslash inside
// them.
const QString reservedCharacters = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
const QString escapedInQuotes = QStringLiteral("\"`$\\");

QString quotedArgument(const QString& argument) {
    QString quoted = argument;
    quoted.replace(QLatin1Char('%'), QStringLiteral("%%"));
    if (std::none_of(quoted.cbegin(), quoted.cend(),
                     [](QChar c) { return reservedCharacters.contains(c); })) {
        return quoted;
    }
    QString inQuotes = QStringLiteral("\"");
    for (const QChar c : quoted) {
        if (escapedInQuotes.contains(c)) {
            inQuotes += QLatin1Char('\\');
        }
        inQuotes += c;
    }
    return inQuotes + QLatin1Char('"');
}

// The escapes of a desktop entry's string values, applied on top of the Exec quoting.
QString asStringValue(const QString& text) {
    QString value;
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '\\':
            value += QStringLiteral("\\\\");
            break;
        case '\n':
            value += QStringLiteral("\\n");
            break;
        case '\t':
            value += QStringLiteral("\\t");
            break;
        case '\r':
            value += QStringLiteral("\\r");
            break;
        default:
            value += c;
        }
    }
    return value;
}

Error fileError(const QString& action, const QString& path, const QString& reason) {
    return Error((action + QLatin1Char(' ') + path + QStringLiteral(": ") + reason).toStdString());
}

} // namespace

AutostartEntry::AutostartEntry(QString folder, QString program)
    : folder_(std::move(folder)), program_(std::move(program)) {}

AutostartEntry AutostartEntry::forThisProgram() {
    return AutostartEntry(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                              QStringLiteral("/autostart"),
                          QCoreApplication::applicationFilePath());
}

QString AutostartEntry::path() const {
    return folder_ + QLatin1Char('/') + QString::fromLatin1(fileName);
}

QString AutostartEntry::execLine(const QString& program) {
    return asStringValue(quotedArgument(program)) + QStringLiteral(" --background");
}

bool AutostartEntry::isEnabled() const {
    QFile file(path());
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        return false;
    }
    while (!file.atEnd()) {
        if (file.readLine().trimmed() == "Hidden=true") {
            return false;
        }
    }
    return true;
}

std::expected<void, Error> AutostartEntry::enable() const {
    if (!QDir().mkpath(folder_)) {
        return std::unexpected(fileError(QStringLiteral("cannot create"), folder_,
                                         QStringLiteral("permission denied or not a folder")));
    }
    QSaveFile file(path());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        return std::unexpected(
            fileError(QStringLiteral("cannot write"), path(), file.errorString()));
    }
    const QString entry = QStringLiteral("[Desktop Entry]\n"
                                         "Type=Application\n"
                                         "Name=Corvane Companion\n"
                                         "Comment=Starts the Corvane receiver at login\n"
                                         "Exec=%1\n"
                                         "Icon=dev.corvane.Corvane\n"
                                         "Terminal=false\n"
                                         "X-GNOME-Autostart-enabled=true\n")
                              .arg(execLine(program_));
    file.write(entry.toUtf8());
    if (!file.commit()) {
        return std::unexpected(
            fileError(QStringLiteral("cannot write"), path(), file.errorString()));
    }
    return {};
}

std::expected<void, Error> AutostartEntry::disable() const {
    QFile file(path());
    if (file.exists() && !file.remove()) {
        return std::unexpected(
            fileError(QStringLiteral("cannot remove"), path(), file.errorString()));
    }
    return {};
}

} // namespace corvane
