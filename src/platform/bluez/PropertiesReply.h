#pragma once

#include "platform/bluez/DBusTypes.h"

#include <QDBusConnection>
#include <QDBusMessage>

namespace corvane::bluez {

// Answers an org.freedesktop.DBus.Properties call (Get, GetAll; every property is read-only)
// for an object that offers `interfaces`.
void answerProperties(const QDBusMessage& message, const QDBusConnection& bus,
                      const InterfaceProperties& interfaces);

// The introspection fragment that names the interfaces of an exported object.
QString introspectionOf(const InterfaceProperties& interfaces);

} // namespace corvane::bluez
