// The key segment reader over damaged segments: opening is refused, or the
// walk and later requests report damaged records, never touching memory
// outside the segment.

#include <cstddef>
#include <cstdint>

#include "SegmentImage.h"
#include "zabro/Zabro.h"

namespace {

constexpr Kiv::U8 kDevice = 0;
constexpr Kiv::U16 kPipe = 1;
constexpr Kiv::U64 kCapacity = 16;

// A segment with live, handled, freed and reused keys.
std::vector<std::uint8_t> pristine() {
    Zabro::MbbZabroTableConfig::segmentWipe(kDevice, kPipe);
    {
        auto config = Zabro::mbbZabroTableConfigFactory(kDevice, kPipe, kCapacity);
        for (Kiv::U32 handle = 1; handle <= 6; ++handle) {
            const auto record = config->recordAlloc();
            if (handle % 3 != 0)
                config->sdkEntryHandleIs(record.key(), handle * 17);
        }
        config->recordDel(2);
        config->recordAlloc();
        config->highestAllocatedKeyIs(7);
    }
    return FuzzSupport::segmentBytes(Zabro::MbbZabroTableConfig::segmentName(kDevice, kPipe));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::vector<std::uint8_t> image = pristine();
    FuzzSupport::writeEdited(Zabro::MbbZabroTableConfig::segmentName(kDevice, kPipe), image, data,
                             size);
    try {
        auto config = Zabro::mbbZabroTableConfigFactory(kDevice, kPipe, kCapacity);
        Zabro::IterHint hint;
        Zabro::MbbPostcodef::EntryConfig cursor(0, 0, 0, 0, 0);
        for (bool found = config->first(cursor, hint); found;
             found = config->next(cursor.key(), cursor, hint)) {
            Zabro::MbbPostcodef::EntryConfig again(0, 0, 0, 0, 0);
            (void)config->recordFind(cursor.key(), again);
        }
        for (Kiv::U64 key = 0; key <= kCapacity + 1; ++key) {
            try {
                Zabro::MbbPostcodef::EntryConfig record(0, 0, 0, 0, 0);
                if (config->recordFind(key, record))
                    config->sdkEntryHandleIs(key, 99);
            } catch (const Dorvu::CorruptionDetectedException&) {
            }
        }
        const auto fresh = config->recordAlloc();
        config->recordDel(fresh.key());
    } catch (const Kiv::Exception&) {
    } catch (const Kiv::InternalException&) {
    }
    return 0;
}
