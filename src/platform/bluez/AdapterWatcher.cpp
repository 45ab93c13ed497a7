#include "platform/bluez/AdapterWatcher.h"

#include <QDBusArgument>
#include <QDBusObjectPath>

namespace corvane {

using namespace bluez;

AdapterWatcher::AdapterWatcher(QDBusConnection bus, StateHandler onState,
                               DeviceHandler onDeviceGone)
    : bus_(std::move(bus)), onState_(std::move(onState)), onDeviceGone_(std::move(onDeviceGone)),
      services_(QString::fromLatin1(service), bus_,
                QDBusServiceWatcher::WatchForRegistration |
                    QDBusServiceWatcher::WatchForUnregistration) {
    registerDBusTypes();
}

AdapterWatcher::~AdapterWatcher() {
    if (!watching_) {
        return;
    }
    bus_.disconnect(service, QString(), propertiesInterface, QStringLiteral("PropertiesChanged"),
                    this, SLOT(propertiesChanged(QDBusMessage)));
    bus_.disconnect(service, QStringLiteral("/"), objectManagerInterface,
                    QStringLiteral("InterfacesAdded"), this, SLOT(interfacesAdded(QDBusMessage)));
    bus_.disconnect(service, QStringLiteral("/"), objectManagerInterface,
                    QStringLiteral("InterfacesRemoved"), this,
                    SLOT(interfacesRemoved(QDBusMessage)));
}

void AdapterWatcher::start() {
    if (!bus_.isConnected()) {
        settle(stateFor(bus_.lastError()), {});
        return;
    }
    connect(&services_, &QDBusServiceWatcher::serviceRegistered, this, [this] { refresh(); });
    connect(&services_, &QDBusServiceWatcher::serviceUnregistered, this, [this] {
        ++generation_; // a lookup in flight describes the BlueZ that left
        settle(PeripheralState::unsupported, {});
    });
    // Every path: the adapter's Powered and each device's Connected arrive the same way.
    bus_.connect(service, QString(), propertiesInterface, QStringLiteral("PropertiesChanged"), this,
                 SLOT(propertiesChanged(QDBusMessage)));
    bus_.connect(service, QStringLiteral("/"), objectManagerInterface,
                 QStringLiteral("InterfacesAdded"), this, SLOT(interfacesAdded(QDBusMessage)));
    bus_.connect(service, QStringLiteral("/"), objectManagerInterface,
                 QStringLiteral("InterfacesRemoved"), this, SLOT(interfacesRemoved(QDBusMessage)));
    watching_ = true;
    refresh();
}

PeripheralState AdapterWatcher::stateFor(const QDBusError& error) {
    if (error.type() == QDBusError::AccessDenied) {
        return PeripheralState::unauthorized;
    }
    return PeripheralState::unsupported;
}

std::pair<PeripheralState, QString> AdapterWatcher::choose(const ManagedObjects& objects) {
    for (auto it = objects.constBegin(); it != objects.constEnd(); ++it) {
        const InterfaceProperties& interfaces = it.value();
        if (!interfaces.contains(adapterInterface) || !interfaces.contains(gattManagerInterface) ||
            !interfaces.contains(advertisingManagerInterface)) {
            continue;
        }
        const bool powered =
            interfaces.value(adapterInterface).value(QStringLiteral("Powered")).toBool();
        return {powered ? PeripheralState::poweredOn : PeripheralState::poweredOff,
                it.key().path()};
    }
    return {PeripheralState::unsupported, {}};
}

void AdapterWatcher::refresh() {
    const std::uint64_t generation = ++generation_;
    const auto call = QDBusMessage::createMethodCall(
        service, QStringLiteral("/"), objectManagerInterface, QStringLiteral("GetManagedObjects"));
    calls_.watch(bus_.asyncCall(call), [this, generation](const QDBusMessage& reply) {
        if (generation != generation_) {
            return;
        }
        if (reply.type() == QDBusMessage::ErrorMessage) {
            settle(stateFor(QDBusError(reply)), {});
            return;
        }
        const auto objects = qdbus_cast<ManagedObjects>(reply.arguments().value(0));
        const auto [state, adapter] = choose(objects);
        settle(state, adapter);
    });
}

void AdapterWatcher::settle(PeripheralState state, const QString& adapter) {
    adapter_ = adapter;
    const std::pair<PeripheralState, QString> now{state, adapter};
    if (last_ == now) {
        return;
    }
    last_ = now;
    onState_(state, adapter);
}

void AdapterWatcher::propertiesChanged(const QDBusMessage& message) {
    const QVariantList arguments = message.arguments();
    const QString interface = arguments.value(0).toString();
    const auto changed = qdbus_cast<QVariantMap>(arguments.value(1));
    if (interface == QLatin1String(adapterInterface) && message.path() == adapter_ &&
        changed.contains(QStringLiteral("Powered"))) {
        const bool powered = changed.value(QStringLiteral("Powered")).toBool();
        settle(powered ? PeripheralState::poweredOn : PeripheralState::poweredOff, adapter_);
    } else if (interface == QLatin1String(deviceInterface) &&
               changed.contains(QStringLiteral("Connected")) &&
               !changed.value(QStringLiteral("Connected")).toBool()) {
        onDeviceGone_(message.path());
    }
}

void AdapterWatcher::interfacesAdded(const QDBusMessage& message) {
    const auto interfaces = qdbus_cast<InterfaceProperties>(message.arguments().value(1));
    if (interfaces.contains(adapterInterface) || interfaces.contains(gattManagerInterface) ||
        interfaces.contains(advertisingManagerInterface)) {
        refresh();
    }
}

void AdapterWatcher::interfacesRemoved(const QDBusMessage& message) {
    const QVariantList arguments = message.arguments();
    const QString path = qdbus_cast<QDBusObjectPath>(arguments.value(0)).path();
    const QStringList interfaces = arguments.value(1).toStringList();
    if (interfaces.contains(QLatin1String(deviceInterface))) {
        onDeviceGone_(path);
    }
    if (path == adapter_ || interfaces.contains(QLatin1String(adapterInterface))) {
        refresh();
    }
}

} // namespace corvane
