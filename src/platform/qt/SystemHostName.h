#pragma once

#include "receiver/HostName.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace corvane {

// The name the user gave this computer: systemd's pretty host name, else the plain host name.
class SystemHostName final : public HostName {
public:
    // How long to wait for hostnamed before falling back to the file it reads itself.
    static constexpr std::chrono::milliseconds busTimeout{500};

    explicit SystemHostName(std::string machineInfoPath = "/etc/machine-info");

    std::optional<std::string> localizedName() override;

    // PRETTY_HOSTNAME from machine-info(5) text (shell-style assignments), or nothing.
    static std::optional<std::string> prettyNameFromMachineInfo(std::string_view text);

private:
    std::optional<std::string> prettyNameFromBus() const;
    std::optional<std::string> prettyNameFromFile() const;

    std::string machineInfoPath_;
};

} // namespace corvane
