#include "platform/portal/RestoreTokenStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <utility>

namespace corvane {

QString RestoreTokenStore::defaultPath() {
    QString stateHome = qEnvironmentVariable("XDG_STATE_HOME");
    if (!QDir::isAbsolutePath(stateHome)) {
        stateHome = QDir::homePath() + QStringLiteral("/.local/state");
    }
    return stateHome + QStringLiteral("/corvane/remote-desktop-restore-token");
}

RestoreTokenStore::RestoreTokenStore(QString path) : path_(std::move(path)) {}

QString RestoreTokenStore::load() const {
    QFile file(path_);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return QString::fromUtf8(file.readAll()).trimmed();
}

void RestoreTokenStore::save(const QString& token) const {
    if (token.isEmpty()) {
        QFile::remove(path_);
        return;
    }
    // The token lets whoever holds it control the desktop without asking: the user's alone.
    const QString folder = QFileInfo(path_).absolutePath();
    QDir().mkpath(folder);
    QFile::setPermissions(folder,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QSaveFile file(path_);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(token.toUtf8());
        file.commit();
        QFile::setPermissions(path_, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }
}

} // namespace corvane
