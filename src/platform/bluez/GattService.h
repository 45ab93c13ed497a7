#pragma once

#include "bluetooth/PeripheralManager.h"

#include <QString>
#include <QVariantMap>

namespace corvane {

// The GattService1 object of our application.
class GattService {
public:
    GattService(QString path, const ServiceDescription& description);

    const QString& path() const { return path_; }
    QVariantMap properties() const;

private:
    QString path_;
    QString uuid_;
    bool primary_;
};

} // namespace corvane
