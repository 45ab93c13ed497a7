#pragma once

#include "pairing/UserDefaults.h"

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace corvane::test {

// User defaults kept in memory; a test reads and seeds `values` directly.
class FakeUserDefaults : public UserDefaults {
public:
    std::map<std::string, std::string, std::less<>> values;

    std::optional<std::string> string(std::string_view key) const override {
        const auto found = values.find(key);
        return found == values.end() ? std::nullopt : std::optional(found->second);
    }

    void setString(std::string_view key, std::string_view value) override {
        values.insert_or_assign(std::string(key), std::string(value));
    }
};

} // namespace corvane::test
