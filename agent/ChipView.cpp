#include "ChipView.h"

#include "AgentError.h"

namespace NatAgent {

ChipView::ChipView(Chip::Device& device)
    : device_(device),
      segment_(Chip::SharedSegment::openExisting(device.segmentName())),
      records_(nullptr) {
    const Chip::SegmentGeometry geometry = Chip::SegmentGeometry::forCapacity(device.capacity());
    if (!segment_.mapped() || segment_.size() != geometry.segmentSize) {
        throw AgentError("cannot map chip segment " + device.segmentName() + " for reading");
    }
    records_ = reinterpret_cast<const Chip::EntryRecord*>(segment_.base() + geometry.recordsOffset);
}

std::uint32_t ChipView::handleOf(std::uint32_t index) const {
    return (records_[index].generation & Chip::kGenerationMask) << Chip::kHandleIndexBits |
           (index + 1);
}

std::vector<ChipEntry> ChipView::entries(std::uint16_t pipe, std::uint32_t* unreadable) const {
    std::vector<ChipEntry> found;
    found.reserve(device_.entryCount());
    std::uint32_t bad = 0;
    for (std::uint32_t i = 0; i < device_.capacity(); ++i) {
        if (records_[i].state != static_cast<std::uint8_t>(Chip::RecordState::Entry) ||
            records_[i].pipe != pipe) {
            continue;
        }
        ChipEntry entry{handleOf(i), {}};
        if (device_.entryGet(entry.handle, Chip::kAnyPipe, &entry.view) != Chip::kSuccess) {
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

std::uint32_t ChipView::defaultHandle(std::uint16_t pipe) const {
    const std::uint32_t slot = pipe == Chip::kAllPipes ? Chip::kPipeCount : pipe;
    return handleOf(device_.capacity() + slot);
}

}  // namespace NatAgent
