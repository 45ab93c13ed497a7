#pragma once

#include <QString>

namespace corvane {

// The newest restore token the RemoteDesktop portal handed out, kept between runs so that the user
// consents once. Tokens are single-use: each session start replaces the one it was given.
class RestoreTokenStore {
public:
    // The file under $XDG_STATE_HOME (default ~/.local/state) that holds the token.
    static QString defaultPath();

    explicit RestoreTokenStore(QString path = defaultPath());

    // The saved token, or an empty string.
    QString load() const;
    // Replaces the saved token; an empty one removes it. A token that cannot be written only
    // means the user is asked again next time.
    void save(const QString& token) const;

private:
    QString path_;
};

} // namespace corvane
