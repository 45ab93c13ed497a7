#pragma once

#include <optional>
#include <string>

namespace corvane {

// The computer's name as its user knows it.
class HostName {
public:
    virtual ~HostName() = default;

    // The user-visible name, or nothing when the system has none.
    virtual std::optional<std::string> localizedName() = 0;
};

} // namespace corvane
