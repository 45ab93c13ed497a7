#pragma once

#include "pairing/UserDefaults.h"

#include <QSettings>

namespace corvane {

// User defaults in $XDG_CONFIG_HOME/corvane/corvane.ini.
class QSettingsDefaults : public UserDefaults {
public:
    QSettingsDefaults();

    std::optional<std::string> string(std::string_view key) const override;
    void setString(std::string_view key, std::string_view value) override;

private:
    QSettings settings_;
};

} // namespace corvane
