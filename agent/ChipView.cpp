#include "ChipView.h"

namespace NatAgent {

std::vector<ChipEntry> ChipView::entries(std::uint16_t pipe, std::uint32_t* unreadable) const {
    std::vector<ChipEntry> found;
    std::uint32_t bad = 0;
    for (const std::uint32_t handle : device_.entryHandles(pipe)) {
        ChipEntry entry{handle, {}};
        if (device_.entryGet(handle, Chip::kAnyPipe, &entry.view) != Chip::kSuccess) {
            ++bad;
            continue;
        }
        found.push_back(entry);
    }
    if (unreadable != nullptr) {
        *unreadable = bad;
    }
    return found;
}

}  // namespace NatAgent
