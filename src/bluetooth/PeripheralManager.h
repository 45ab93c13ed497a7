#pragma once

#include "bluetooth/BluetoothUUID.h"
#include "common/Bytes.h"
#include "common/Error.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace corvane {

// The stack's stable name for one remote device, the same for the whole of its connection.
using CentralID = std::string;

// The radio's power and permission state, with the raw values the transport reports.
enum class PeripheralState : std::int64_t {
    undetermined = 0,
    resetting = 1,
    unsupported = 2,
    unauthorized = 3,
    poweredOff = 4,
    poweredOn = 5,
};

// Characteristic property bits, as GATT numbers them.
namespace CharacteristicProperty {
inline constexpr std::uint32_t write = 0x08;
inline constexpr std::uint32_t notify = 0x10;
} // namespace CharacteristicProperty

// Attribute permission bits of a local characteristic.
namespace AttributePermission {
inline constexpr std::uint32_t writeable = 0x02;
} // namespace AttributePermission

// The ATT result that answers one write request.
enum class AttResult : std::uint8_t {
    success = 0,
    writeNotPermitted = 3,
    invalidAttributeValueLength = 13,
};

struct CharacteristicDescription {
    BluetoothUUID uuid;
    std::uint32_t properties = 0;
    std::uint32_t permissions = 0;

    bool operator==(const CharacteristicDescription&) const = default;
};

// A local GATT service with dynamic characteristics (no fixed values).
struct ServiceDescription {
    BluetoothUUID uuid;
    bool primary = true;
    std::vector<CharacteristicDescription> characteristics;

    bool operator==(const ServiceDescription&) const = default;
};

struct AdvertisingData {
    std::vector<BluetoothUUID> serviceUUIDs;
    std::string localName;

    bool operator==(const AdvertisingData&) const = default;
};

// One write from a central; `id` lets the stack match the answer to its request.
struct WriteRequest {
    std::uint64_t id = 0;
    BluetoothUUID characteristic;
    std::size_t offset = 0;
    std::optional<Bytes> value;
    CentralID central;
};

class PeripheralManager;

// Receives a manager's reports. Each report names the manager that sent it, so a delegate can
// tell a current manager from one it has let go.
class PeripheralManagerDelegate {
public:
    virtual ~PeripheralManagerDelegate() = default;

    // The radio's state changed; the first report follows creation. Any state other than
    // poweredOn means the stack has dropped the services and stopped advertising.
    virtual void didUpdateState(PeripheralManager& manager, PeripheralState state) = 0;
    // The service of the last addService() is published, or could not be.
    virtual void didAddService(PeripheralManager& manager, std::optional<Error> error) = 0;
    // The advertising of the last startAdvertising() is on the air, or could not be started.
    virtual void didStartAdvertising(PeripheralManager& manager, std::optional<Error> error) = 0;
    // A central enabled notifications of a characteristic.
    virtual void didSubscribe(PeripheralManager& manager, const CentralID& central,
                              const BluetoothUUID& characteristic) = 0;
    // A central disabled notifications of a characteristic, or went away while subscribed.
    virtual void didUnsubscribe(PeripheralManager& manager, const CentralID& central,
                                const BluetoothUUID& characteristic) = 0;
    // Writes that each await exactly one respond() on the same manager.
    virtual void didReceiveWriteRequests(PeripheralManager& manager,
                                         const std::vector<WriteRequest>& requests) = 0;
    // After updateValue() refused, the send queue has room again.
    virtual void isReadyToUpdateSubscribers(PeripheralManager& manager) = 0;
};

// The local GATT server and advertiser of a Bluetooth LE peripheral. Reports reach the delegate
// later on the main event loop, never from inside a call on this object.
class PeripheralManager {
public:
    virtual ~PeripheralManager() = default;

    // Publishes the service; didAddService() follows.
    virtual void addService(const ServiceDescription& service) = 0;
    // Advertises the service UUIDs and the local name, discoverable by any scanner, until
    // stopAdvertising(); didStartAdvertising() follows.
    virtual void startAdvertising(const AdvertisingData& data) = 0;
    virtual void stopAdvertising() = 0;
    virtual void removeAllServices() = 0;
    // The largest notification value this central takes; 0 when unknown.
    virtual std::size_t maximumUpdateValueLength(const CentralID& central) = 0;
    // Notifies one subscribed central; false when the send queue is full (a readiness report
    // follows once it has room).
    virtual bool updateValue(const Bytes& value, const BluetoothUUID& characteristic,
                             const CentralID& central) = 0;
    // Answers a write request; requests left unanswered when the manager goes are refused by it.
    virtual void respond(const WriteRequest& request, AttResult result) = 0;
};

// Makes the one peripheral manager of a running transport.
class PeripheralManagerFactory {
public:
    virtual ~PeripheralManagerFactory() = default;

    // The manager locks `delegate` for each report and drops reports once it has expired.
    virtual std::shared_ptr<PeripheralManager>
    makePeripheralManager(std::weak_ptr<PeripheralManagerDelegate> delegate) = 0;
};

} // namespace corvane
