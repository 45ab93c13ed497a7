#include "platform/bluez/GattService.h"

#include <utility>

namespace corvane {

GattService::GattService(QString path, const ServiceDescription& description)
    : path_(std::move(path)), uuid_(QString::fromStdString(description.uuid.text()).toLower()),
      primary_(description.primary) {}

QVariantMap GattService::properties() const {
    return {{QStringLiteral("UUID"), uuid_}, {QStringLiteral("Primary"), primary_}};
}

} // namespace corvane
