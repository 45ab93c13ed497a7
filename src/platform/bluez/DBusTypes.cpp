#include "platform/bluez/DBusTypes.h"

#include <QDBusMetaType>

namespace corvane::bluez {

void registerDBusTypes() {
    qDBusRegisterMetaType<InterfaceProperties>();
    qDBusRegisterMetaType<ManagedObjects>();
}

} // namespace corvane::bluez
