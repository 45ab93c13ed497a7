#include "platform/bluez/BluezPeripheralManager.h"

#include "platform/bluez/DBusTypes.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QUuid>
#include <QtGlobal>
#include <algorithm>
#include <utility>
#include <vector>

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
    for (const auto& [central, subscriber] : subscribers_) {
        post([central, uuid = subscriber.characteristic](PeripheralManagerDelegate& delegate,
                                                         PeripheralManager& manager) {
            delegate.didUnsubscribe(manager, central, uuid);
        });
    }
    subscribers_.clear();
    channels_.clear();
}

void BluezPeripheralManager::startAdvertising(const AdvertisingData& data) {
    stopAdvertising();
    if (adapter_.isEmpty()) {
        reportAdvertising(Error("No Bluetooth adapter"));
        return;
    }
    const QString path = basePath_ + QStringLiteral("/advertisement%1").arg(++nextObject_);
    auto advertisement = std::make_unique<LeAdvertisement>(path, data);
    if (!bus_.registerVirtualObject(path, advertisement.get())) {
        reportAdvertising(Error("Could not publish the advertisement: " +
                                bus_.lastError().message().toStdString()));
        return;
    }
    advertisement_ = std::move(advertisement);
    // BlueZ refuses with NotPermitted "Maximum advertisements reached" when the controller has
    // no free instance, and with Failed when it cannot build or enable the advertisement.
    callAdapter(advertisingManagerInterface, "RegisterAdvertisement",
                {QVariant::fromValue(QDBusObjectPath(path)), QVariantMap{}},
                [this, generation = advertisingGeneration_](const QDBusMessage& reply) {
                    if (generation != advertisingGeneration_) {
                        return;
                    }
                    // Already registered is what we asked for.
                    if (reply.type() == QDBusMessage::ErrorMessage &&
                        reply.errorName() != QLatin1String(errorAlreadyExists)) {
                        reportAdvertising(Error(describe(reply).toStdString()));
                    } else {
                        reportAdvertising(std::nullopt);
                    }
                });
}

void BluezPeripheralManager::reportAdvertising(std::optional<Error> error) {
    post([error = std::move(error)](PeripheralManagerDelegate& delegate,
                                    PeripheralManager& manager) {
        delegate.didStartAdvertising(manager, error);
    });
}

void BluezPeripheralManager::stopAdvertising() {
    ++advertisingGeneration_; // an answer still in flight is for an advertisement we dropped
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
    // The ATT notification header takes 3 bytes of each packet, and no attribute value may pass
    // 512 bytes; BlueZ reads the notify socket 512 bytes at a time and drops what is beyond.
    constexpr std::size_t largestRecord = 512;
    const std::size_t value = mtu->toUInt();
    mtus_[central] = std::min(value > 3 ? value - 3 : 0, largestRecord);
}

bool BluezPeripheralManager::updateValue(const Bytes& value, const BluetoothUUID& characteristic,
                                         const CentralID& central) {
    const auto subscriber = subscribers_.find(central);
    const auto channel = subscriber == subscribers_.end()
                             ? channels_.end()
                             : channels_.find(subscriber->second.channel);
    // Nobody to deliver to: refusing would stall the queue with no readiness ever to come.
    if (channel == channels_.end() || channel->second.characteristic != characteristic) {
        return true;
    }
    switch (channel->second.socket->send(value)) {
    case NotifySocket::SendResult::sent:
        return true;
    case NotifySocket::SendResult::full:
        return false;
    case NotifySocket::SendResult::broken:
        break;
    }
    later([this, id = channel->first] { channelHungUp(id); });
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
    adoptWriter(central);

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
    const std::uint64_t id = nextChannel_++;
    auto socket = NotifySocket::open({
        .hungUp = [this, id] { later([this, id] { channelHungUp(id); }); },
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

    // A device's new socket replaces whatever BlueZ had acquired for it before.
    dropChannelsOf(central, characteristic.uuid());
    channels_.emplace(id, NotifyChannel{characteristic.uuid(), central, std::move(*socket)});
    updateNotifyAcquired(characteristic.uuid());
    subscribe(central, characteristic.uuid(), id);
}

void BluezPeripheralManager::subscribe(const CentralID& central,
                                       const BluetoothUUID& characteristic, std::uint64_t channel) {
    subscribers_.insert_or_assign(central, Subscriber{characteristic, channel});
    post(
        [central, characteristic](PeripheralManagerDelegate& delegate, PeripheralManager& manager) {
            delegate.didSubscribe(manager, central, characteristic);
        });
}

// A device we let go may still be subscribed as far as BlueZ knows: bonded devices keep their
// subscription across a reconnection, and on 5.66 every device but the first subscribes
// unannounced. Its write is all we will see of it. So while a socket of ours is open and no
// subscriber stands for it, the writer is taken as subscribed through it; while someone does, the
// writer waits its turn, as the one central served at a time must.
void BluezPeripheralManager::adoptWriter(const CentralID& central) {
    if (central.empty() || subscribers_.contains(central)) {
        return;
    }
    const auto unserved = [this](const auto& entry) {
        return std::ranges::none_of(subscribers_, [&](const auto& subscriber) {
            return subscriber.second.characteristic == entry.second.characteristic;
        });
    };
    // Its own socket, if BlueZ kept one for it, is the one its notifications go through.
    auto chosen = std::ranges::find_if(channels_, [&](const auto& entry) {
        return entry.second.acquirer == central && unserved(entry);
    });
    if (chosen == channels_.end()) {
        chosen = std::ranges::find_if(channels_, unserved);
    }
    if (chosen != channels_.end()) {
        subscribe(central, chosen->second.characteristic, chosen->first);
    }
}

// BlueZ closes a socket once no device is left subscribed through it, so every subscriber we
// took to be reached through it has gone (but `keep`, which has just subscribed anew).
void BluezPeripheralManager::channelHungUp(std::uint64_t channel, const CentralID& keep) {
    const auto found = channels_.find(channel);
    if (found == channels_.end()) {
        return;
    }
    const BluetoothUUID characteristic = found->second.characteristic;
    channels_.erase(found);
    std::vector<CentralID> gone;
    for (const auto& [central, subscriber] : subscribers_) {
        if (subscriber.channel == channel && central != keep) {
            gone.push_back(central);
        }
    }
    for (const CentralID& central : gone) {
        unsubscribe(central);
    }
    updateNotifyAcquired(characteristic);
}

void BluezPeripheralManager::dropChannelsOf(const CentralID& acquirer,
                                            const BluetoothUUID& characteristic) {
    std::vector<std::uint64_t> stale;
    for (const auto& [id, channel] : channels_) {
        if (channel.acquirer == acquirer && channel.characteristic == characteristic) {
            stale.push_back(id);
        }
    }
    for (const std::uint64_t id : stale) {
        channelHungUp(id, acquirer);
    }
}

// The device's subscription ends for us, but not its socket: BlueZ keeps a bonded device's
// subscription and every other subscriber's, and closes the socket itself when none is left.
void BluezPeripheralManager::deviceGone(const QString& device) {
    const CentralID central = centralFor(device);
    mtus_.erase(central);
    unsubscribe(central);
}

void BluezPeripheralManager::unsubscribe(const CentralID& central) {
    auto node = subscribers_.extract(central);
    if (node.empty()) {
        return;
    }
    post([central, uuid = node.mapped().characteristic](PeripheralManagerDelegate& delegate,
                                                        PeripheralManager& manager) {
        delegate.didUnsubscribe(manager, central, uuid);
    });
}

void BluezPeripheralManager::updateNotifyAcquired(const BluetoothUUID& characteristic) {
    GattCharacteristic* exported =
        application_ ? application_->characteristic(characteristic) : nullptr;
    if (exported == nullptr) {
        return;
    }
    const bool acquired = std::ranges::any_of(channels_, [&](const auto& entry) {
        return entry.second.characteristic == characteristic;
    });
    if (exported->notifyAcquired() != acquired) {
        exported->setNotifyAcquired(acquired);
        application_->announce(*exported, bus_);
    }
}

} // namespace corvane
