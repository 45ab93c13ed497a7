#include "platform/system/QSettingsDefaults.h"

namespace corvane {

namespace {

QString toQString(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

QSettingsDefaults::QSettingsDefaults()
    : settings_(QSettings::IniFormat, QSettings::UserScope, "corvane", "corvane") {}

std::optional<std::string> QSettingsDefaults::string(std::string_view key) const {
    const QVariant value = settings_.value(toQString(key));
    if (!value.isValid() || value.typeId() != QMetaType::QString) {
        return std::nullopt;
    }
    return value.toString().toStdString();
}

void QSettingsDefaults::setString(std::string_view key, std::string_view value) {
    settings_.setValue(toQString(key), toQString(value));
    // Written now rather than at exit, so a crash cannot lose a new host ID.
    settings_.sync();
}

} // namespace corvane
