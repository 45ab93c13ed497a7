#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace corvane {

// A small per-user store of strings by key that outlives the process.
class UserDefaults {
public:
    virtual ~UserDefaults() = default;

    // The string stored under `key`, or nothing.
    virtual std::optional<std::string> string(std::string_view key) const = 0;
    // Stores `value` under `key`, replacing what was there.
    virtual void setString(std::string_view key, std::string_view value) = 0;
};

} // namespace corvane
