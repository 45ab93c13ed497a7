#include "platform/qt/QtMainThread.h"

#include <QMetaObject>
#include <utility>

namespace corvane {

void QtMainThread::post(std::function<void()> task) {
    QMetaObject::invokeMethod(
        &context_, [task = std::move(task)] { task(); }, Qt::QueuedConnection);
}

} // namespace corvane
