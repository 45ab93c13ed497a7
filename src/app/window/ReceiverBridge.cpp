#include "app/window/ReceiverBridge.h"

#include <utility>

namespace corvane {

ReceiverBridge::ReceiverBridge(std::shared_ptr<TouchReceiver> receiver,
                               std::shared_ptr<AccessibilityTrust> trust, QObject* parent)
    : QObject(parent), receiver_(std::move(receiver)), trust_(std::move(trust)) {
    // The bridge unregisters in its destructor and keeps the receiver alive until then, so the
    // observer never runs on a destroyed bridge. QML reads the current values when told.
    observer_ =
        receiver_->addObserver([this](const PublishedChange& change) { published(change.field); });
}

ReceiverBridge::~ReceiverBridge() {
    receiver_->removeObserver(observer_);
}

QString ReceiverBridge::status() const {
    return QString::fromStdString(receiver_->status());
}

QString ReceiverBridge::code() const {
    return QString::fromStdString(receiver_->code());
}

bool ReceiverBridge::isRunning() const {
    return receiver_->isRunning();
}

bool ReceiverBridge::hasAccessibility() const {
    return receiver_->hasAccessibility();
}

QString ReceiverBridge::bluetoothStatus() const {
    return QString::fromStdString(receiver_->bluetoothStatus());
}

QString ReceiverBridge::pairingStatus() const {
    return QString::fromStdString(receiver_->pairingStatus());
}

QString ReceiverBridge::publishingStatus() const {
    return QString::fromStdString(receiver_->publishingStatus());
}

QString ReceiverBridge::storageStatus() const {
    return QString::fromStdString(receiver_->storageStatus());
}

void ReceiverBridge::toggleRunning() {
    if (receiver_->isRunning()) {
        receiver_->stop();
    } else {
        receiver_->start();
    }
}

void ReceiverBridge::requestAccessibility() {
    trust_->requestTrust();
    receiver_->setHasAccessibility(trust_->isTrusted());
}

void ReceiverBridge::forgetPairedDevices() {
    receiver_->forgetPairedDevices();
}

void ReceiverBridge::published(PublishedField field) {
    switch (field) {
    case PublishedField::status:
        emit statusChanged();
        break;
    case PublishedField::code:
        emit codeChanged();
        break;
    case PublishedField::isRunning:
        emit isRunningChanged();
        break;
    case PublishedField::hasAccessibility:
        emit hasAccessibilityChanged();
        break;
    case PublishedField::bluetoothStatus:
        emit bluetoothStatusChanged();
        break;
    case PublishedField::pairingStatus:
        emit pairingStatusChanged();
        break;
    case PublishedField::publishingStatus:
        emit publishingStatusChanged();
        break;
    case PublishedField::storageStatus:
        emit storageStatusChanged();
        break;
    }
}

} // namespace corvane
