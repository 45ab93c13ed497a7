#pragma once

#include "common/Error.h"
#include "platform/uinput/UinputDevice.h"

#include <expected>
#include <memory>
#include <string>

struct libevdev_uinput;

namespace corvane {

// One virtual pointer-and-keyboard device created through /dev/uinput.
class LibevdevUinputDevice final : public UinputDevice {
    struct Key {
        explicit Key() = default;
    };

public:
    // Creates the device through the uinput node at `path`.
    static std::expected<std::unique_ptr<LibevdevUinputDevice>, Error>
    create(const std::string& path);

    // Takes ownership of both; reached through create().
    LibevdevUinputDevice(Key, int fd, libevdev_uinput* device);
    ~LibevdevUinputDevice() override;
    LibevdevUinputDevice(const LibevdevUinputDevice&) = delete;
    LibevdevUinputDevice& operator=(const LibevdevUinputDevice&) = delete;

    bool write(std::uint16_t type, std::uint16_t code, std::int32_t value) override;

private:
    int fd_;
    libevdev_uinput* device_;
};

} // namespace corvane
