// The simulated chip over damaged segments: opening is refused exactly when the
// header's checked words or the size changed; otherwise every damaged record is
// reported, every other entry reads back as it was and is found by its key, all
// operations run without touching memory outside the segment, and once the bad
// records are cleared a reopen finds nothing left to repair.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <exception>
#include <set>

#include "SegmentImage.h"
#include "chip/ChipRecord.h"
#include "chip/ChipRegistry.h"

namespace {

using namespace Chip;

constexpr uint32_t kDevice = 3;
constexpr uint32_t kCapacity = 16;

struct Live {
    uint32_t handle;
    EntryKey key;
    ActionData data;
};

struct Pristine {
    std::vector<std::uint8_t> bytes;
    std::vector<Live> live;

    const EntryRecord& record(const std::vector<std::uint8_t>& image, uint32_t index) const {
        const auto& header = *reinterpret_cast<const SegmentHeader*>(bytes.data());
        return reinterpret_cast<const EntryRecord*>(image.data() + header.recordsOffset)[index];
    }
};

// Live, deleted and default records.
Pristine pristine() {
    Pristine p;
    Chip::wipe(kDevice);
    Device& chip = Chip::open(kDevice, kCapacity);
    for (uint16_t i = 1; i <= 10; ++i) {
        Live e{0, {i, uint16_t(i * 7), 80}, {Action(i % kActionCount), 6, i, i}};
        if (e.data.action == Action::OnMiss)
            e.data = {};  // the miss action carries no parameters
        chip.entryAdd(kAllPipes, e.key, e.data, &e.handle);
        if (i % 4 == 0)
            chip.entryDelete(e.handle, kAllPipes);
        else
            p.live.push_back(e);
    }
    uint32_t handle = 0;
    chip.defaultEntrySet(kAllPipes, {Action::Hit, 6, 1, 2}, &handle);
    Chip::close(kDevice);
    p.bytes = FuzzSupport::segmentBytes(segmentName(kDevice));
    return p;
}

// The seal, and for a used record its key and active action slot, carry meaning.
bool meaningChanged(const EntryRecord& before, const EntryRecord& after) {
    const Seal s = sealOf(before);
    return before.seal != after.seal ||
           (s.state != RecordState::Free &&
            (std::memcmp(&before, &after, 8) != 0 ||
             std::memcmp(&before.slot[s.activeSlot], &after.slot[s.activeSlot], 8) != 0));
}

// Opens the damaged chip and checks what it reports and serves; null when refused.
Device* openChecked(const Pristine& pristine, const std::vector<std::uint8_t>& image) {
    // The words before the hash seed and the checksum over them are checked; the seed
    // and the scope only steer lookups and are repaired.
    const auto differ = [&](std::size_t from, std::size_t to) {
        return std::memcmp(image.data() + from, pristine.bytes.data() + from, to - from) != 0;
    };
    const bool headerChanged = image.size() != pristine.bytes.size() ||
                               differ(0, offsetof(SegmentHeader, hashSeed)) ||
                               differ(offsetof(SegmentHeader, checksum), sizeof(SegmentHeader));
    Device* chip = nullptr;
    try {
        chip = &Chip::open(kDevice, kCapacity);
    } catch (const std::exception&) {
        FUZZ_CHECK(headerChanged);
        return nullptr;
    }
    if (image.empty()) {  // a creation cut before the segment was sized: made anew
        FUZZ_CHECK(chip->entryCount() == 0);
        return chip;
    }
    FUZZ_CHECK(!headerChanged);
    std::set<uint32_t> bad;
    for (const BadRecord& b : chip->badRecords()) {
        bad.insert(b.index);
        (void)badReasonText(b.reason);
    }
    for (uint32_t i = 0; i < kCapacity + kDefaultRecordCount; ++i)
        FUZZ_CHECK(!meaningChanged(pristine.record(pristine.bytes, i), pristine.record(image, i)) ||
                   bad.count(i));
    std::size_t intact = 0;
    for (const Live& e : pristine.live) {
        if (bad.count((e.handle & kHandleIndexMask) - 1))
            continue;
        ++intact;
        EntryView view;
        uint32_t again = 0;
        FUZZ_CHECK(chip->entryGet(e.handle, kAnyPipe, &view) == kSuccess && view.data == e.data);
        FUZZ_CHECK(chip->entryAdd(kAllPipes, e.key, e.data, &again) == kAlreadyExists);
    }
    FUZZ_CHECK(chip->entryCount() == intact);
    return chip;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const Pristine image = pristine();
    Device* opened =
        openChecked(image, FuzzSupport::writeEdited(segmentName(kDevice), image.bytes, data, size));
    if (!opened)
        return 0;
    Device& chip = *opened;
    for (uint32_t handle : chip.entryHandles(kAllPipes)) {
        EntryView view;
        if (chip.entryGet(handle, kAllPipes, &view) == kSuccess)
            chip.entryModify(handle, kAllPipes, {Action::OnMiss, 0, 0, 0});
    }
    for (uint16_t i = 1; i <= 20; ++i) {
        uint32_t handle = 0;
        if (chip.entryAdd(kAllPipes, {i, 1, 2}, {}, &handle) == kSuccess)
            chip.entryDelete(handle, kAllPipes);
    }
    while (!chip.badRecords().empty()) chip.badRecordClear(chip.badRecords().front().index);
    const std::size_t count = chip.entryCount();
    Chip::close(kDevice);
    Device& reopened = Chip::open(kDevice, kCapacity);
    FUZZ_CHECK(reopened.badRecords().empty() && reopened.entryCount() == count);
    FUZZ_CHECK(reopened.recovery().slotsCleared + reopened.recovery().slotsPlaced == 0);
    Chip::close(kDevice);
    return 0;
}
