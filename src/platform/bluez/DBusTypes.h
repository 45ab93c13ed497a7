#pragma once

#include <QDBusObjectPath>
#include <QMap>
#include <QString>
#include <QVariantMap>

namespace corvane::bluez {

inline constexpr const char* service = "org.bluez";
inline constexpr const char* adapterInterface = "org.bluez.Adapter1";
inline constexpr const char* deviceInterface = "org.bluez.Device1";
inline constexpr const char* gattManagerInterface = "org.bluez.GattManager1";
inline constexpr const char* advertisingManagerInterface = "org.bluez.LEAdvertisingManager1";
inline constexpr const char* gattServiceInterface = "org.bluez.GattService1";
inline constexpr const char* gattCharacteristicInterface = "org.bluez.GattCharacteristic1";
inline constexpr const char* advertisementInterface = "org.bluez.LEAdvertisement1";
inline constexpr const char* objectManagerInterface = "org.freedesktop.DBus.ObjectManager";
inline constexpr const char* propertiesInterface = "org.freedesktop.DBus.Properties";

inline constexpr const char* errorFailed = "org.bluez.Error.Failed";
inline constexpr const char* errorNotPermitted = "org.bluez.Error.NotPermitted";
inline constexpr const char* errorNotSupported = "org.bluez.Error.NotSupported";
inline constexpr const char* errorInvalidValueLength = "org.bluez.Error.InvalidValueLength";
inline constexpr const char* errorAlreadyExists = "org.bluez.Error.AlreadyExists";

// Properties of one object, by interface name.
using InterfaceProperties = QMap<QString, QVariantMap>;
// The answer of ObjectManager.GetManagedObjects, a{oa{sa{sv}}}.
using ManagedObjects = QMap<QDBusObjectPath, InterfaceProperties>;

// Teaches QtDBus the nested maps above; harmless to call more than once.
void registerDBusTypes();

} // namespace corvane::bluez
