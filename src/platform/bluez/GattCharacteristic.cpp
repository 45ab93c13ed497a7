#include "platform/bluez/GattCharacteristic.h"

#include <array>
#include <utility>

namespace corvane {

namespace {

struct FlagName {
    std::uint32_t bit;
    const char* name;
};

constexpr std::array<FlagName, 5> flagNames{{
    {0x02, "read"},
    {0x04, "write-without-response"},
    {CharacteristicProperty::write, "write"},
    {CharacteristicProperty::notify, "notify"},
    {0x20, "indicate"},
}};

} // namespace

GattCharacteristic::GattCharacteristic(QString path, QDBusObjectPath service,
                                       const CharacteristicDescription& description)
    : path_(std::move(path)), service_(std::move(service)), uuid_(description.uuid),
      flags_(flagsOf(description.properties)),
      notifies_((description.properties & CharacteristicProperty::notify) != 0) {}

QStringList GattCharacteristic::flagsOf(std::uint32_t properties) {
    QStringList flags;
    for (const FlagName& flag : flagNames) {
        if ((properties & flag.bit) != 0) {
            flags << QString::fromLatin1(flag.name);
        }
    }
    return flags;
}

QVariantMap GattCharacteristic::properties() const {
    QVariantMap properties{
        {QStringLiteral("UUID"), QString::fromStdString(uuid_.text()).toLower()},
        {QStringLiteral("Service"), QVariant::fromValue(service_)},
        {QStringLiteral("Flags"), flags_},
    };
    // Its mere presence tells BlueZ to use AcquireNotify instead of StartNotify.
    if (notifies_) {
        properties.insert(QStringLiteral("NotifyAcquired"), notifyAcquired_);
    }
    return properties;
}

} // namespace corvane
