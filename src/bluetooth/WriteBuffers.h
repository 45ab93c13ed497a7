#pragma once

#include "bluetooth/PeripheralManager.h"
#include "common/Bytes.h"
#include "protocol/TouchService.h"

#include <cstddef>
#include <map>
#include <optional>
#include <string_view>
#include <vector>

namespace corvane {

// Per-central reassembly of newline-terminated lines from the values of successive writes.
class WriteBuffers {
public:
    // The most bytes one central may have waiting for their newline.
    static constexpr std::size_t limit = TouchService::lineLimit;

    // Appends a write's value and takes out every complete line, oldest first, without its
    // newline. Nothing when the buffer would grow past the limit: it is emptied instead, and
    // the lines it held are lost with it.
    std::optional<std::vector<Bytes>> append(const CentralID& central, std::string_view value);
    // Forgets the central's partial line but keeps its entry.
    void reset(const CentralID& central);
    void remove(const CentralID& central);
    void clear();

private:
    std::map<CentralID, Bytes, std::less<>> buffers_;
};

} // namespace corvane
