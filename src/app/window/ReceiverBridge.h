#pragma once

#include "input/AccessibilityTrust.h"
#include "receiver/TouchReceiver.h"

#include <QObject>
#include <QString>
#include <memory>

namespace corvane {

// What QML binds to: the receiver's published state as properties, its commands as invokables.
// Holds no state of its own; every read goes to the receiver.
class ReceiverBridge : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString status READ status NOTIFY statusChanged)
    Q_PROPERTY(QString code READ code NOTIFY codeChanged)
    Q_PROPERTY(bool isRunning READ isRunning NOTIFY isRunningChanged)
    Q_PROPERTY(bool hasAccessibility READ hasAccessibility NOTIFY hasAccessibilityChanged)
    Q_PROPERTY(QString bluetoothStatus READ bluetoothStatus NOTIFY bluetoothStatusChanged)
    Q_PROPERTY(QString pairingStatus READ pairingStatus NOTIFY pairingStatusChanged)
    Q_PROPERTY(QString publishingStatus READ publishingStatus NOTIFY publishingStatusChanged)
    Q_PROPERTY(QString storageStatus READ storageStatus NOTIFY storageStatusChanged)

public:
    ReceiverBridge(std::shared_ptr<TouchReceiver> receiver,
                   std::shared_ptr<AccessibilityTrust> trust, QObject* parent = nullptr);
    ~ReceiverBridge() override;

    ReceiverBridge(const ReceiverBridge&) = delete;
    ReceiverBridge& operator=(const ReceiverBridge&) = delete;

    QString status() const;
    QString code() const;
    bool isRunning() const;
    bool hasAccessibility() const;
    QString bluetoothStatus() const;
    QString pairingStatus() const;
    QString publishingStatus() const;
    QString storageStatus() const;

    // Decides by the receiver's state now, not by the title the button showed.
    Q_INVOKABLE void toggleRunning();
    Q_INVOKABLE void requestAccessibility();
    Q_INVOKABLE void forgetPairedDevices();

signals:
    void statusChanged();
    void codeChanged();
    void isRunningChanged();
    void hasAccessibilityChanged();
    void bluetoothStatusChanged();
    void pairingStatusChanged();
    void publishingStatusChanged();
    void storageStatusChanged();

private:
    void published(PublishedField field);

    std::shared_ptr<TouchReceiver> receiver_;
    std::shared_ptr<AccessibilityTrust> trust_;
    TouchReceiver::ObserverId observer_;
};

} // namespace corvane
