#pragma once

#include "receiver/ClientActivity.h"

#include <memory>
#include <vector>

namespace corvane {

// Lets every interested listener hear the receiver's client activity, in the order they were
// added.
class ActivityFanOut final : public ClientActivityLog {
public:
    void add(std::shared_ptr<ClientActivityLog> listener);

    void record(const ClientActivity& activity) override;

private:
    std::vector<std::shared_ptr<ClientActivityLog>> listeners_;
};

} // namespace corvane
