#pragma once

#include "receiver/HostName.h"

#include <optional>
#include <string>
#include <utility>

namespace corvane::test {

class FakeHostName : public HostName {
public:
    explicit FakeHostName(std::optional<std::string> initial = "Test Desk")
        : name(std::move(initial)) {}

    std::optional<std::string> localizedName() override { return name; }

    std::optional<std::string> name;
};

} // namespace corvane::test
