#pragma once

#include <cstdint>

namespace corvane {

// Where UinputInput writes kernel input events; split out so the event sequences can be checked
// without a kernel device.
class UinputDevice {
public:
    virtual ~UinputDevice() = default;

    // Writes one event (type, code and value as in linux/input-event-codes.h); false if refused.
    virtual bool write(std::uint16_t type, std::uint16_t code, std::int32_t value) = 0;
};

} // namespace corvane
