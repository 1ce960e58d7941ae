// The key segment reader over damaged segments: opening is refused, with the
// segment's name, only when the header or the size changed; otherwise the walk
// skips and reports exactly the damaged records (a damaged journal word may add
// one report), every other record is found as it was, and no request touches
// memory outside the segment.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <set>
#include <string>

#include "SegmentImage.h"
#include "zabro/Zabro.h"
#include "zabro/ZabroSegmentLayout.h"

namespace {

using Zabro::MbbPostcodef::EntryConfig;
namespace Layout = Zabro::Layout;

constexpr Kiv::U8 kDevice = 0;
constexpr Kiv::U16 kPipe = 1;
constexpr Kiv::U64 kCapacity = 16;

std::vector<EntryConfig> walk(const Zabro::MbbZabroTableConfig& config) {
    std::vector<EntryConfig> records;
    Zabro::IterHint hint;
    EntryConfig cursor(0, 0, 0, 0, 0);
    for (bool found = config.first(cursor, hint); found;
         found = config.next(cursor.key(), cursor, hint))
        records.push_back(cursor);
    return records;
}

struct Pristine {
    std::vector<std::uint8_t> bytes;
    std::vector<EntryConfig> records;
};

// A segment with live, handled, freed and reused keys.
Pristine pristine() {
    Pristine p;
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
        p.records = walk(*config);
    }
    p.bytes = FuzzSupport::segmentBytes(Zabro::MbbZabroTableConfig::segmentName(kDevice, kPipe));
    return p;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const Pristine pristine = ::pristine();
    const std::string name = Zabro::MbbZabroTableConfig::segmentName(kDevice, kPipe);
    const std::vector<std::uint8_t> image =
        FuzzSupport::writeEdited(name, pristine.bytes, data, size);
    const bool truncated = image.size() != pristine.bytes.size();
    const std::size_t journalAt =
        Layout::kCountersOffset + offsetof(Layout::CountersImage, journalSlot);
    bool header = false, journal = false;
    // Keys; damage to a slot never written is reported only when it reaches past the checksum.
    std::set<Kiv::U64> damaged, unwritten;
    for (std::size_t at = 0; at < image.size(); ++at) {
        if (image[at] == pristine.bytes[at])
            continue;
        header |= at < sizeof(Layout::HeaderImage);
        journal |= at >= journalAt && at < journalAt + 8;
        if (at < Layout::kRecordsOffset)
            continue;
        const Kiv::U64 slot = (at - Layout::kRecordsOffset) / sizeof(Layout::RecordImage);
        const auto* was = reinterpret_cast<const Layout::RecordImage*>(pristine.bytes.data() +
                                                                       Layout::recordOffset(slot));
        (was->opId != 0 ? damaged : unwritten).insert(slot + 1);
    }
    // A damaged journal word may name a slot whose last write the journal still holds:
    // the open may then write that record again (the word holds slot + 1, its key).
    std::uint64_t restorable = 0;
    if (journal && image.size() >= journalAt + 8)
        std::memcpy(&restorable, image.data() + journalAt, sizeof restorable);
    Zabro::MbbZabroTableConfig::Ptr config;
    try {
        config = Zabro::mbbZabroTableConfigFactory(kDevice, kPipe, kCapacity);
    } catch (const Zabro::SegmentException& e) {
        FUZZ_CHECK((header || truncated) && e.message().find(name) != std::string::npos);
        return 0;
    }
    FUZZ_CHECK(!config->created() || truncated);
    FUZZ_CHECK(config->created() || !header);
    for (const EntryConfig& record : walk(*config))
        FUZZ_CHECK((!damaged.count(record.key()) && !unwritten.count(record.key())) ||
                   record.key() == restorable);
    if (!config->created()) {
        FUZZ_CHECK(config->corruptionsDetected() + damaged.count(restorable) >= damaged.size() &&
                   config->corruptionsDetected() <= damaged.size() + unwritten.size() + journal);
        for (const EntryConfig& record : pristine.records) {
            EntryConfig now(0, 0, 0, 0, 0);
            FUZZ_CHECK(damaged.count(record.key()) ||
                       (config->recordFind(record.key(), now) && now == record));
        }
    }
    for (Kiv::U64 key = 0; key <= kCapacity + 1; ++key) {
        try {
            EntryConfig record(0, 0, 0, 0, 0);
            if (config->recordFind(key, record))
                config->sdkEntryHandleIs(key, 99);
        } catch (const Dorvu::Exception&) {  // outside the key range, or damaged
        }
    }
    try {
        const auto fresh = config->recordAlloc();
        config->recordDel(fresh.key());
    } catch (const Kiv::Exception&) {  // a full table
    }
    return 0;
}
