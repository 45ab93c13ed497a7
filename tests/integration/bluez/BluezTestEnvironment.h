#pragma once

#include "support/QtEventLoop.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <cstdlib>

namespace corvane::test {

// Reads one line of a child's standard output, spinning the loop; empty on time-out or exit.
inline QByteArray readLine(QProcess& process) {
    spinUntil([&] { return process.canReadLine() || process.state() == QProcess::NotRunning; });
    return process.canReadLine() ? process.readLine().trimmed() : QByteArray();
}

// Neither child needs our loop to exit.
inline void stop(QProcess& process) {
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

// A private bus of the system type that allows everything but `policy`, in a temporary folder.
class PrivateSystemBus {
public:
    explicit PrivateSystemBus(const QString& policy = {}) {
        const QString config = folder_.filePath("system.conf");
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
                       .arg(folder_.filePath("bus"), policy)
                       .toUtf8());
        file.close();
        daemon_.start(CORVANE_DBUS_DAEMON,
                      {"--config-file=" + config, "--nofork", "--print-address=1"});
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
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(CORVANE_PYTHON, QStringList{CORVANE_FAKE_BLUEZ, "--bus", address} + options);
        ready_ = QJsonDocument::fromJson(readLine(process_))["ready"].toBool();
    }
    ~FakeBluez() { stop(process_); }
    FakeBluez(const FakeBluez&) = delete;
    FakeBluez& operator=(const FakeBluez&) = delete;

    bool ready() const { return ready_; }

    // Sends one command and waits for its one answer, spinning our loop meanwhile.
    QJsonObject command(const QString& line) {
        process_.write((line + '\n').toUtf8());
        return QJsonDocument::fromJson(readLine(process_)).object();
    }

private:
    QProcess process_;
    bool ready_ = false;
};

// The whole binary shares one bus: the system bus connection, once made, keeps its address.
inline PrivateSystemBus& sharedBus() {
    qtApplication();
    static PrivateSystemBus bus;
    static const bool exported =
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", bus.address().toUtf8().constData(), 1) == 0;
    (void)exported;
    return bus;
}

} // namespace corvane::test
