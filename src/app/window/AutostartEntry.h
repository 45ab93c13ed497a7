#pragma once

#include "common/Error.h"

#include <QString>
#include <expected>

namespace corvane {

// The XDG autostart entry that starts corvane at login, in the background: the window closed,
// the receiver started.
class AutostartEntry {
public:
    // `folder` is where the desktop looks for autostart entries; `program` is what they start.
    AutostartEntry(QString folder, QString program);
    // $XDG_CONFIG_HOME/autostart, starting this very program.
    static AutostartEntry forThisProgram();

    // There is an entry, and the user has not switched it off in the desktop's settings.
    bool isEnabled() const;
    std::expected<void, Error> enable() const;
    std::expected<void, Error> disable() const;

    QString path() const;
    // The Exec value that starts `program` in the background, quoted for a desktop entry.
    static QString execLine(const QString& program);

private:
    QString folder_;
    QString program_;
};

} // namespace corvane
