#pragma once
// The chip's installed entries, for the audit: every handle the chip lists for a
// pipe, read through the chip's own entryGet, which checks each record.

#include <cstdint>
#include <vector>

#include "chip/ChipDevice.h"

namespace NatAgent {

struct ChipEntry {
    std::uint32_t handle;
    Chip::EntryView view;
};

class ChipView {
  public:
    explicit ChipView(const Chip::Device& device) : device_(device) {}

    // The entries of `pipe` (0xFFFF: the all-pipes scope), default entries
    // excluded, in record order. A record that fails its check is skipped
    // and counted in `unreadable`.
    std::vector<ChipEntry> entries(std::uint16_t pipe, std::uint32_t* unreadable = nullptr) const;
    // The handle of the default entry of `pipe`'s scope.
    std::uint32_t defaultHandle(std::uint16_t pipe) const {
        return device_.defaultEntryHandle(pipe);
    }

  private:
    const Chip::Device& device_;
};

}  // namespace NatAgent
