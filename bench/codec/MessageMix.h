#pragma once

#include "protocol/TouchMessage.h"

#include <cstdint>
#include <string>
#include <vector>

namespace corvane {

// A fixed, seeded stream of protocol lines shaped like a real session: mostly pointer moves,
// some scrolls, clicks, keys and modifier changes, and one hello.
class MessageMix {
public:
    static MessageMix realistic(std::size_t count, std::uint32_t seed);

    const std::vector<TouchMessage>& messages() const { return messages_; }
    // The JSON text of each message, without its line feed, as a decoder receives it.
    const std::vector<std::string>& lines() const { return lines_; }
    std::size_t size() const { return messages_.size(); }

private:
    std::vector<TouchMessage> messages_;
    std::vector<std::string> lines_;
};

} // namespace corvane
