#pragma once

#include "common/Bytes.h"

#include <cstdint>
#include <optional>
#include <string>

namespace corvane {

// Status values shared by every secret store; any other value is a store-specific failure.
namespace SecretStatus {
inline constexpr std::int32_t success = 0;
inline constexpr std::int32_t itemNotFound = -25300;
} // namespace SecretStatus

// A generic-password item is named by its service and account, nothing else.
struct SecretItem {
    std::string service;
    std::string account;
};

struct SecretLookup {
    std::int32_t status = SecretStatus::success;
    std::optional<Bytes> data;
};

// The user's secret store, reduced to the five calls that pairing storage makes.
class SecretStore {
public:
    virtual ~SecretStore() = default;

    // The item's bytes with status success, or itemNotFound when there is no such item.
    virtual SecretLookup copyMatching(const SecretItem& item) = 0;
    // Replaces an existing item's bytes as a whole: success, or itemNotFound when none matches.
    virtual std::int32_t update(const SecretItem& item, const Bytes& data) = 0;
    // Creates the item with these bytes: success, or a failure status.
    virtual std::int32_t add(const SecretItem& item, const Bytes& data) = 0;
    // Removes the item: success, or itemNotFound when none existed.
    virtual std::int32_t remove(const SecretItem& item) = 0;
    // A readable text for one of this store's statuses, or nothing when it has none.
    virtual std::optional<std::string> errorMessage(std::int32_t status) const = 0;
};

} // namespace corvane
