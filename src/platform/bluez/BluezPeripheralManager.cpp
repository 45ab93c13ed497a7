#include "platform/bluez/BluezPeripheralManager.h"

#include "platform/bluez/DBusTypes.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QUuid>
#include <QtGlobal>
#include <utility>

namespace corvane {

using namespace bluez;

namespace {

// Names centrals by their device object, so one device keeps its name for its whole connection
// and across our restarts.
const QUuid centralNamespace(QStringLiteral("6f1c2a4e-3b57-4d0e-9a51-8e2f0c7d4b19"));

QString devicePathIn(const QVariantMap& options) {
    return qdbus_cast<QDBusObjectPath>(options.value(QStringLiteral("device"))).path();
}

QString describe(const QDBusMessage& error) {
    return error.errorMessage().isEmpty() ? error.errorName() : error.errorMessage();
}

} // namespace

std::shared_ptr<BluezPeripheralManager>
BluezPeripheralManager::create(QDBusConnection bus, QString basePath,
                               std::weak_ptr<PeripheralManagerDelegate> delegate) {
    auto manager = std::make_shared<BluezPeripheralManager>(
        Key{}, std::move(bus), std::move(basePath), std::move(delegate));
    manager->start();
    return manager;
}

BluezPeripheralManager::BluezPeripheralManager(Key, QDBusConnection bus, QString basePath,
                                               std::weak_ptr<PeripheralManagerDelegate> delegate)
    : bus_(std::move(bus)), basePath_(std::move(basePath)), delegate_(std::move(delegate)) {
    registerDBusTypes();
}

BluezPeripheralManager::~BluezPeripheralManager() {
    for (const auto& [id, call] : pendingWrites_) {
        bus_.send(call.createErrorReply(errorFailed, QStringLiteral("The peripheral stopped")));
    }
    stopAdvertising();
    withdrawApplication();
}

CentralID BluezPeripheralManager::centralFor(const QString& devicePath) {
    return QUuid::createUuidV5(centralNamespace, devicePath)
        .toString(QUuid::WithoutBraces)
        .toUpper()
        .toStdString();
}

void BluezPeripheralManager::start() {
    watcher_ = std::make_unique<AdapterWatcher>(
        bus_,
        [this](PeripheralState state, const QString& adapter) { adapterChanged(state, adapter); },
        [this](const QString& device) { deviceGone(device); });
    watcher_->start();
}

void BluezPeripheralManager::post(Report report) {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [self = weak_from_this(), delegate = delegate_, report = std::move(report)] {
            // Holding the manager keeps it whole while a delegate lets go of it.
            const auto manager = self.lock();
            const auto target = delegate.lock();
            if (manager && target) {
                report(*target, *manager);
            }
        },
        Qt::QueuedConnection);
}

template<class Work>
void BluezPeripheralManager::later(Work work) {
    QMetaObject::invokeMethod(&context_, std::move(work), Qt::QueuedConnection);
}

void BluezPeripheralManager::adapterChanged(PeripheralState state, const QString& adapter) {
    adapter_ = adapter;
    post([state](PeripheralManagerDelegate& delegate, PeripheralManager& manager) {
        delegate.didUpdateState(manager, state);
    });
}

void BluezPeripheralManager::callAdapter(const char* interface, const char* method,
                                         const QVariantList& arguments,
                                         PendingCalls::Completion completion) {
    auto call = QDBusMessage::createMethodCall(service, adapter_, interface, method);
    call.setArguments(arguments);
    const QDBusPendingCall pending = bus_.asyncCall(call);
    if (completion) {
        calls_.watch(pending, std::move(completion));
    }
}

void BluezPeripheralManager::addService(const ServiceDescription& description) {
    withdrawApplication();
    const std::uint64_t generation = generation_;
    const auto fail = [this](const QString& text) {
        post([error = Error(text.toStdString())](PeripheralManagerDelegate& delegate,
                                                 PeripheralManager& manager) {
            delegate.didAddService(manager, error);
        });
    };
    if (adapter_.isEmpty()) {
        fail(QStringLiteral("No Bluetooth adapter"));
        return;
    }
    const QString path = basePath_ + QStringLiteral("/app%1").arg(++nextObject_);
    auto application = std::make_unique<GattApplication>(path, description, *this);
    if (!bus_.registerVirtualObject(path, application.get(), QDBusConnection::SubPath)) {
        fail(QStringLiteral("Could not publish the service: ") + bus_.lastError().message());
        return;
    }
    application_ = std::move(application);
    // BlueZ reads our objects through GetManagedObjects before it answers.
    callAdapter(gattManagerInterface, "RegisterApplication",
                {QVariant::fromValue(QDBusObjectPath(path)), QVariantMap{}},
                [this, generation, fail](const QDBusMessage& reply) {
                    if (generation != generation_) {
                        return;
                    }
                    if (reply.type() == QDBusMessage::ErrorMessage) {
                        fail(describe(reply));
                        return;
                    }
                    post([](PeripheralManagerDelegate& delegate, PeripheralManager& manager) {
                        delegate.didAddService(manager, std::nullopt);
                    });
                });
}

void BluezPeripheralManager::withdrawApplication() {
    ++generation_;
    if (!application_) {
        return;
    }
    const QString path = application_->path();
    bus_.unregisterObject(path, QDBusConnection::UnregisterTree);
    if (!adapter_.isEmpty()) {
        callAdapter(gattManagerInterface, "UnregisterApplication",
                    {QVariant::fromValue(QDBusObjectPath(path))}, nullptr);
    }
    application_.reset();
}

void BluezPeripheralManager::removeAllServices() {
    withdrawApplication();
    for (auto& [central, subscription] : subscriptions_) {
        post([central, uuid = subscription.characteristic](PeripheralManagerDelegate& delegate,
                                                           PeripheralManager& manager) {
            delegate.didUnsubscribe(manager, central, uuid);
        });
    }
    subscriptions_.clear();
}

void BluezPeripheralManager::startAdvertising(const AdvertisingData& data) {
    stopAdvertising();
    if (adapter_.isEmpty()) {
        return;
    }
    const QString path = basePath_ + QStringLiteral("/advertisement%1").arg(++nextObject_);
    auto advertisement = std::make_unique<LeAdvertisement>(path, data);
    if (!bus_.registerVirtualObject(path, advertisement.get())) {
        qWarning("Could not publish the advertisement: %s",
                 qUtf8Printable(bus_.lastError().message()));
        return;
    }
    advertisement_ = std::move(advertisement);
    callAdapter(
        advertisingManagerInterface, "RegisterAdvertisement",
        {QVariant::fromValue(QDBusObjectPath(path)), QVariantMap{}}, [](const QDBusMessage& reply) {
            // Already registered is what we asked for.
            if (reply.type() == QDBusMessage::ErrorMessage &&
                reply.errorName() != QLatin1String(errorAlreadyExists)) {
                qWarning("Bluetooth advertising failed: %s", qUtf8Printable(describe(reply)));
            }
        });
}

void BluezPeripheralManager::stopAdvertising() {
    if (!advertisement_) {
        return;
    }
    const QString path = advertisement_->path();
    bus_.unregisterObject(path);
    if (!advertisement_->released() && !adapter_.isEmpty()) {
        callAdapter(advertisingManagerInterface, "UnregisterAdvertisement",
                    {QVariant::fromValue(QDBusObjectPath(path))}, nullptr);
    }
    advertisement_.reset();
}

std::size_t BluezPeripheralManager::maximumUpdateValueLength(const CentralID& central) {
    const auto found = mtus_.find(central);
    return found == mtus_.end() ? 0 : found->second;
}

void BluezPeripheralManager::learnMtu(const CentralID& central, const QVariantMap& options) {
    const auto mtu = options.find(QStringLiteral("mtu"));
    if (central.empty() || mtu == options.end()) {
        return;
    }
    // The ATT notification header takes 3 bytes of each packet.
    const std::size_t value = mtu->toUInt();
    mtus_[central] = value > 3 ? value - 3 : 0;
}

bool BluezPeripheralManager::updateValue(const Bytes& value, const BluetoothUUID& characteristic,
                                         const CentralID& central) {
    const auto found = subscriptions_.find(central);
    // Nobody to deliver to: refusing would stall the queue with no readiness ever to come.
    if (found == subscriptions_.end() || found->second.characteristic != characteristic) {
        return true;
    }
    switch (found->second.socket->send(value)) {
    case NotifySocket::SendResult::sent:
        return true;
    case NotifySocket::SendResult::full:
        return false;
    case NotifySocket::SendResult::broken:
        break;
    }
    later([this, central, serial = found->second.serial] { socketHungUp(central, serial); });
    return true;
}

void BluezPeripheralManager::respond(const WriteRequest& request, AttResult result) {
    auto node = pendingWrites_.extract(request.id);
    if (node.empty()) {
        return;
    }
    const QDBusMessage& call = node.mapped();
    switch (result) {
    case AttResult::success:
        bus_.send(call.createReply());
        return;
    case AttResult::writeNotPermitted:
        bus_.send(call.createErrorReply(errorNotPermitted, QStringLiteral("Write not permitted")));
        return;
    case AttResult::invalidAttributeValueLength:
        bus_.send(
            call.createErrorReply(errorInvalidValueLength, QStringLiteral("Invalid value length")));
        return;
    }
    bus_.send(call.createErrorReply(errorFailed, QStringLiteral("Write failed")));
}

void BluezPeripheralManager::writeValue(const GattCharacteristic& characteristic,
                                        const QDBusMessage& call) {
    const QVariantList arguments = call.arguments();
    const QByteArray value = arguments.value(0).toByteArray();
    const auto options = qdbus_cast<QVariantMap>(arguments.value(1));
    const QString device = devicePathIn(options);
    // Without a device the writer can be nobody's subscription, so the write is refused.
    const CentralID central = device.isEmpty() ? CentralID{} : centralFor(device);
    learnMtu(central, options);

    const std::uint64_t id = nextWrite_++;
    pendingWrites_.emplace(id, call);
    WriteRequest request{
        .id = id,
        .characteristic = characteristic.uuid(),
        .offset = options.value(QStringLiteral("offset")).toUInt(),
        .value = value.isEmpty() ? std::nullopt
                                 : std::optional<Bytes>(Bytes(value.constData(), value.size())),
        .central = central,
    };
    post([request = std::move(request)](PeripheralManagerDelegate& delegate,
                                        PeripheralManager& manager) {
        delegate.didReceiveWriteRequests(manager, {request});
    });
}

void BluezPeripheralManager::acquireNotify(GattCharacteristic& characteristic,
                                           const QDBusMessage& call) {
    const auto options = qdbus_cast<QVariantMap>(call.arguments().value(0));
    const QString device = devicePathIn(options);
    if (device.isEmpty()) {
        bus_.send(call.createErrorReply(errorNotPermitted, QStringLiteral("No device")));
        return;
    }
    if (!(bus_.connectionCapabilities() & QDBusConnection::UnixFileDescriptorPassing)) {
        bus_.send(call.createErrorReply(errorNotSupported, QStringLiteral("No fd passing")));
        return;
    }
    const CentralID central = centralFor(device);
    const std::uint64_t serial = nextSerial_++;
    auto socket = NotifySocket::open({
        .hungUp = [this, central,
                   serial] { later([this, central, serial] { socketHungUp(central, serial); }); },
        .writable =
            [this] {
                post([](PeripheralManagerDelegate& delegate, PeripheralManager& manager) {
                    delegate.isReadyToUpdateSubscribers(manager);
                });
            },
    });
    if (!socket) {
        bus_.send(call.createErrorReply(errorFailed,
                                        QString::fromStdString(socket.error().description())));
        return;
    }
    learnMtu(central, options);
    const auto mtu = static_cast<quint16>(options.value(QStringLiteral("mtu"), 23).toUInt());
    bus_.send(call.createReply(
        QVariantList{QVariant::fromValue((*socket)->peer()), QVariant::fromValue<quint16>(mtu)}));
    (*socket)->releasePeer();

    // A central that subscribes again gets the new socket; the old one simply closes.
    subscriptions_.insert_or_assign(
        central, Subscription{characteristic.uuid(), device, std::move(*socket), serial});
    updateNotifyAcquired(characteristic.uuid());
    post([central, uuid = characteristic.uuid()](PeripheralManagerDelegate& delegate,
                                                 PeripheralManager& manager) {
        delegate.didSubscribe(manager, central, uuid);
    });
}

void BluezPeripheralManager::socketHungUp(const CentralID& central, std::uint64_t serial) {
    const auto found = subscriptions_.find(central);
    if (found != subscriptions_.end() && found->second.serial == serial) {
        unsubscribe(central);
    }
}

void BluezPeripheralManager::deviceGone(const QString& device) {
    const CentralID central = centralFor(device);
    mtus_.erase(central);
    const auto found = subscriptions_.find(central);
    if (found != subscriptions_.end()) {
        unsubscribe(central);
    }
}

void BluezPeripheralManager::unsubscribe(const CentralID& central) {
    auto node = subscriptions_.extract(central);
    if (node.empty()) {
        return;
    }
    const BluetoothUUID uuid = node.mapped().characteristic;
    updateNotifyAcquired(uuid);
    post([central, uuid](PeripheralManagerDelegate& delegate, PeripheralManager& manager) {
        delegate.didUnsubscribe(manager, central, uuid);
    });
}

void BluezPeripheralManager::updateNotifyAcquired(const BluetoothUUID& characteristic) {
    GattCharacteristic* exported =
        application_ ? application_->characteristic(characteristic) : nullptr;
    if (exported == nullptr) {
        return;
    }
    bool acquired = false;
    for (const auto& [central, subscription] : subscriptions_) {
        acquired = acquired || subscription.characteristic == characteristic;
    }
    if (exported->notifyAcquired() != acquired) {
        exported->setNotifyAcquired(acquired);
        application_->announce(*exported, bus_);
    }
}

} // namespace corvane
