#pragma once
// The chip's installed entries, found by walking the records of its segment
// (ChipLayout.h, read only) and read through the chip's own entryGet, which
// checks each record. The audit needs them; the SDK offers no enumeration.

#include <cstdint>
#include <vector>

#include "chip/ChipDevice.h"
#include "chip/ChipLayout.h"
#include "chip/SharedSegment.h"

namespace NatAgent {

struct ChipEntry {
    std::uint32_t handle;
    Chip::EntryView view;
};

class ChipView {
  public:
    // `device` must be open (Chip::open checked its segment).
    explicit ChipView(Chip::Device& device);

    // The entries of `pipe` (0xFFFF: the all-pipes scope), default entries
    // excluded, in record order. A record that fails its check is skipped
    // and counted in `unreadable`.
    std::vector<ChipEntry> entries(std::uint16_t pipe, std::uint32_t* unreadable = nullptr) const;
    // The handle of the default entry of `pipe`'s scope.
    std::uint32_t defaultHandle(std::uint16_t pipe) const;

  private:
    std::uint32_t handleOf(std::uint32_t index) const;

    Chip::Device& device_;
    Chip::SharedSegment segment_;
    const Chip::EntryRecord* records_;
};

}  // namespace NatAgent
