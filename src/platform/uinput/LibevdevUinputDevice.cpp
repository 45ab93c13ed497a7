#include "platform/uinput/LibevdevUinputDevice.h"

#include "input/mapping/KeyTable.h"

#include <fcntl.h>
#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>
#include <linux/input-event-codes.h>
#include <linux/input.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

namespace corvane {

namespace {

static_assert(LinuxKey::escape == KEY_ESC && LinuxKey::minus == KEY_MINUS &&
              LinuxKey::equal == KEY_EQUAL && LinuxKey::leftCtrl == KEY_LEFTCTRL &&
              LinuxKey::leftShift == KEY_LEFTSHIFT && LinuxKey::z == KEY_Z &&
              LinuxKey::leftAlt == KEY_LEFTALT && LinuxKey::space == KEY_SPACE &&
              LinuxKey::left == KEY_LEFT && LinuxKey::right == KEY_RIGHT &&
              LinuxKey::leftMeta == KEY_LEFTMETA);

constexpr std::array relativeAxes{
    REL_X, REL_Y, REL_WHEEL, REL_HWHEEL, REL_WHEEL_HI_RES, REL_HWHEEL_HI_RES};
constexpr std::array buttons{BTN_LEFT, BTN_RIGHT, BTN_MIDDLE};
// The whole keyboard range: udev tags the device ID_INPUT_KEYBOARD only when it has the first
// 31 keys, and libinput and wlroots compositors take key events only from a keyboard.
constexpr unsigned int firstKeyboardKey = KEY_ESC;
constexpr unsigned int lastKeyboardKey = BTN_MISC - 1;

struct LibevdevDeleter {
    void operator()(libevdev* device) const { libevdev_free(device); }
};

std::unique_ptr<libevdev, LibevdevDeleter> describeDevice() {
    std::unique_ptr<libevdev, LibevdevDeleter> device(libevdev_new());
    if (!device) {
        return device;
    }
    libevdev_set_name(device.get(), "Corvane remote touchpad");
    libevdev_set_id_bustype(device.get(), BUS_VIRTUAL);
    for (const unsigned int axis : relativeAxes) {
        libevdev_enable_event_code(device.get(), EV_REL, axis, nullptr);
    }
    for (const unsigned int button : buttons) {
        libevdev_enable_event_code(device.get(), EV_KEY, button, nullptr);
    }
    for (unsigned int key = firstKeyboardKey; key <= lastKeyboardKey; ++key) {
        libevdev_enable_event_code(device.get(), EV_KEY, key, nullptr);
    }
    return device;
}

Error failure(const std::string& what, const std::string& path, int error) {
    return Error(what + " " + path + ": " + std::strerror(error));
}

} // namespace

std::expected<std::unique_ptr<LibevdevUinputDevice>, Error>
LibevdevUinputDevice::create(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        return std::unexpected(failure("Cannot open", path, errno));
    }
    const auto description = describeDevice();
    if (!description) {
        ::close(fd);
        return std::unexpected(Error("Cannot describe a virtual input device"));
    }
    libevdev_uinput* device = nullptr;
    const int result = libevdev_uinput_create_from_device(description.get(), fd, &device);
    if (result < 0) {
        ::close(fd);
        return std::unexpected(
            failure("Cannot create a virtual input device through", path, -result));
    }
    return std::make_unique<LibevdevUinputDevice>(Key{}, fd, device);
}

LibevdevUinputDevice::LibevdevUinputDevice(Key /*key*/, int fd, libevdev_uinput* device)
    : fd_(fd), device_(device) {}

LibevdevUinputDevice::~LibevdevUinputDevice() {
    // The device is destroyed before its descriptor: libevdev does not own a descriptor it did
    // not open.
    libevdev_uinput_destroy(device_);
    ::close(fd_);
}

bool LibevdevUinputDevice::write(std::uint16_t type, std::uint16_t code, std::int32_t value) {
    return libevdev_uinput_write_event(device_, type, code, value) == 0;
}

} // namespace corvane
