// The simulated chip over damaged segments: opening is refused, or the chip
// reports bad records, repairs what is derived and serves every operation
// without touching memory outside the segment.

#include <cstddef>
#include <cstdint>
#include <exception>

#include "SegmentImage.h"
#include "chip/ChipRegistry.h"

namespace {

constexpr uint32_t kDevice = 3;
constexpr uint32_t kCapacity = 16;

std::vector<std::uint8_t> pristine() {
    Chip::wipe(kDevice);
    Chip::Device& chip = Chip::open(kDevice, kCapacity);
    for (uint16_t i = 1; i <= 10; ++i) {
        uint32_t handle = 0;
        chip.entryAdd(Chip::kAllPipes, {i, uint16_t(i * 7), 80},
                      {Chip::Action(i % Chip::kActionCount), 6, i, i}, &handle);
        if (i % 4 == 0)
            chip.entryDelete(handle, Chip::kAllPipes);
    }
    uint32_t handle = 0;
    chip.defaultEntrySet(Chip::kAllPipes, {Chip::Action::Hit, 6, 1, 2}, &handle);
    Chip::close(kDevice);
    return FuzzSupport::segmentBytes(Chip::segmentName(kDevice));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::vector<std::uint8_t> image = pristine();
    FuzzSupport::writeEdited(Chip::segmentName(kDevice), image, data, size);
    try {
        Chip::Device& chip = Chip::open(kDevice, kCapacity);
        for (const Chip::BadRecord& bad : chip.badRecords()) (void)Chip::badReasonText(bad.reason);
        for (uint32_t handle : chip.entryHandles(Chip::kAllPipes)) {
            Chip::EntryView view;
            if (chip.entryGet(handle, Chip::kAllPipes, &view) == Chip::kSuccess)
                chip.entryModify(handle, Chip::kAllPipes, {Chip::Action::OnMiss, 0, 0, 0});
        }
        for (uint16_t i = 1; i <= 20; ++i) {
            uint32_t handle = 0;
            if (chip.entryAdd(Chip::kAllPipes, {i, 1, 2}, {}, &handle) == Chip::kSuccess)
                chip.entryDelete(handle, Chip::kAllPipes);
        }
        while (!chip.badRecords().empty()) chip.badRecordClear(chip.badRecords().front().index);
    } catch (const std::exception&) {
    }
    Chip::close(kDevice);
    return 0;
}
