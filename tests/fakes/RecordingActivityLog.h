#pragma once

#include "receiver/ClientActivity.h"

#include <vector>

namespace corvane::test {

class RecordingActivityLog : public ClientActivityLog {
public:
    void record(const ClientActivity& activity) override { recorded.push_back(activity); }

    std::vector<ClientActivity> recorded;
};

} // namespace corvane::test
