#include "platform/qt/SystemHostName.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusVariant>
#include <QFile>
#include <QSysInfo>
#include <utility>

namespace corvane {

namespace {

std::string_view trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

// One shell word as hostnamectl writes it: bare, 'single-quoted' or "double-quoted" with
// backslash escapes.
std::string unquote(std::string_view value) {
    std::string out;
    char quote = 0;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (quote == '\'') {
            if (c == '\'') {
                quote = 0;
            } else {
                out += c;
            }
        } else if (c == '\\' && i + 1 < value.size()) {
            out += value[++i];
        } else if (c == quote) {
            quote = 0;
        } else if (quote == 0 && (c == '"' || c == '\'')) {
            quote = c;
        } else {
            out += c;
        }
    }
    return out;
}

std::optional<std::string> nonEmpty(std::string text) {
    if (trim(text).empty()) {
        return std::nullopt;
    }
    return text;
}

} // namespace

SystemHostName::SystemHostName(std::string machineInfoPath)
    : machineInfoPath_(std::move(machineInfoPath)) {}

std::optional<std::string> SystemHostName::localizedName() {
    if (auto name = prettyNameFromBus()) {
        return name;
    }
    if (auto name = prettyNameFromFile()) {
        return name;
    }
    return nonEmpty(QSysInfo::machineHostName().toStdString());
}

std::optional<std::string> SystemHostName::prettyNameFromMachineInfo(std::string_view text) {
    constexpr std::string_view key = "PRETTY_HOSTNAME=";
    std::optional<std::string> found;
    while (!text.empty()) {
        const auto end = text.find('\n');
        const auto line = trim(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (line.starts_with(key)) {
            // Later assignments win, as they would in a shell.
            found = nonEmpty(unquote(line.substr(key.size())));
        }
    }
    return found;
}

std::optional<std::string> SystemHostName::prettyNameFromBus() const {
    auto bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        return std::nullopt;
    }
    auto get =
        QDBusMessage::createMethodCall("org.freedesktop.hostname1", "/org/freedesktop/hostname1",
                                       "org.freedesktop.DBus.Properties", "Get");
    get << QString("org.freedesktop.hostname1") << QString("PrettyHostname");
    // Blocks without running our event loop, and not for long: a missing hostnamed is common.
    const QDBusReply<QDBusVariant> reply =
        bus.call(get, QDBus::Block, static_cast<int>(busTimeout.count()));
    if (!reply.isValid()) {
        return std::nullopt;
    }
    return nonEmpty(reply.value().variant().toString().toStdString());
}

std::optional<std::string> SystemHostName::prettyNameFromFile() const {
    QFile file(QString::fromStdString(machineInfoPath_));
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    return prettyNameFromMachineInfo(file.readAll().toStdString());
}

} // namespace corvane
