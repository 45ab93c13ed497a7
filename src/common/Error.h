#pragma once

#include <string>
#include <utility>

namespace corvane {

// A failure that ends up in front of the user as text; every error of the core converts to one.
class Error {
public:
    explicit Error(std::string description) : description_(std::move(description)) {}

    const std::string& description() const { return description_; }

    bool operator==(const Error&) const = default;

private:
    std::string description_;
};

} // namespace corvane
