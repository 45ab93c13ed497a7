#pragma once

#include "support/QtEventLoop.h"

#include <QProcess>
#include <QStringList>

namespace corvane::test {

// Starts a child whose standard error goes to the test's log.
inline void start(QProcess& process, const QString& program, const QStringList& arguments) {
    qtApplication();
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
}

// One line of a child's output, spinning the loop; empty once it has ended or after 10 s.
inline QByteArray readLine(QProcess& process) {
    spinUntil([&] { return process.canReadLine() || process.state() == QProcess::NotRunning; });
    return process.canReadLine() ? process.readLine().trimmed() : QByteArray();
}

inline void stop(QProcess& process) {
    process.terminate();
    process.waitForFinished(5000);
}

// Runs a shell command line to its end and returns what it printed.
inline QByteArray run(const QString& command) {
    QProcess shell;
    start(shell, "sh", {"-c", command});
    shell.waitForFinished(20000);
    return shell.readAllStandardOutput();
}

} // namespace corvane::test
