#pragma once

#include "receiver/MainThread.h"

#include <QObject>

namespace corvane {

// Posts tasks to the Qt event loop of the thread that created this object. Tasks still queued
// when it is destroyed are dropped, never run.
class QtMainThread final : public MainThread {
public:
    void post(std::function<void()> task) override;

private:
    QObject context_;
};

} // namespace corvane
