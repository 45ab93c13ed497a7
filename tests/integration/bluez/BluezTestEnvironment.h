#pragma once

#include "support/QtEventLoop.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>

namespace corvane::test {

// Reads one line of a child's standard output, spinning the loop; empty on time-out or exit.
inline QByteArray readLine(QProcess& process,
                           std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    spinUntil([&] { return process.canReadLine() || process.state() == QProcess::NotRunning; },
              limit);
    return process.canReadLine() ? process.readLine().trimmed() : QByteArray();
}

inline void stop(QProcess& process) {
    if (process.state() == QProcess::NotRunning) {
        return;
    }
    process.terminate();
    if (!spinUntil([&] { return process.state() == QProcess::NotRunning; },
                   std::chrono::seconds(5))) {
        process.kill();
        spinUntil([&] { return process.state() == QProcess::NotRunning; });
    }
}

// A private bus of the system type that allows everything, in a temporary folder.
class PrivateSystemBus {
public:
    explicit PrivateSystemBus(const QString& policy = {}) {
        const QString config = folder_.filePath(QStringLiteral("system.conf"));
        QFile file(config);
        file.open(QIODevice::WriteOnly);
        file.write(QStringLiteral(R"(<!DOCTYPE busconfig PUBLIC
 "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=%1</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*" eavesdrop="true"/>
    <allow receive_sender="*"/>
    %2
  </policy>
</busconfig>
)")
                       .arg(folder_.filePath(QStringLiteral("bus")), policy)
                       .toUtf8());
        file.close();
        daemon_.start(QStringLiteral(CORVANE_DBUS_DAEMON),
                      {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                       QStringLiteral("--print-address=1")});
        address_ = QString::fromUtf8(readLine(daemon_));
    }
    ~PrivateSystemBus() { stop(daemon_); }
    PrivateSystemBus(const PrivateSystemBus&) = delete;
    PrivateSystemBus& operator=(const PrivateSystemBus&) = delete;

    const QString& address() const { return address_; }

private:
    QTemporaryDir folder_;
    QProcess daemon_;
    QString address_;
};

// fake_bluez.py on a bus, driven line by line.
class FakeBluez {
public:
    FakeBluez(const QString& address, const QStringList& options = {}) {
        QStringList arguments{QStringLiteral(CORVANE_FAKE_BLUEZ), QStringLiteral("--bus"), address};
        arguments << options;
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(QStringLiteral(CORVANE_PYTHON), arguments);
        ready_ = parse(readLine(process_)).value(QStringLiteral("ready")).toBool();
    }
    ~FakeBluez() { stop(process_); }
    FakeBluez(const FakeBluez&) = delete;
    FakeBluez& operator=(const FakeBluez&) = delete;

    bool ready() const { return ready_; }

    // Sends one command and waits for its one answer, spinning our loop meanwhile.
    QJsonObject command(const QString& line) {
        process_.write((line + QLatin1Char('\n')).toUtf8());
        return parse(readLine(process_));
    }

private:
    static QJsonObject parse(const QByteArray& line) {
        return QJsonDocument::fromJson(line).object();
    }

    QProcess process_;
    bool ready_ = false;
};

// The whole binary shares one bus: the system bus connection, once made, keeps its address.
inline PrivateSystemBus& sharedBus() {
    qtApplication();
    static PrivateSystemBus bus;
    static const bool exported = [] {
        return ::setenv("DBUS_SYSTEM_BUS_ADDRESS", bus.address().toUtf8().constData(), 1) == 0;
    }();
    (void)exported;
    return bus;
}

} // namespace corvane::test
