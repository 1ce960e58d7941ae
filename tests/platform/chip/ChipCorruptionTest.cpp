// Damaged chip segments: bad records are reported, quarantined and cleared; any byte
// content, truncation or crafted structural word is refused or survived without a
// crash, hang or silent change.
#include <gmock/gmock.h>
#include <sys/mman.h>

#include <cstring>
#include <optional>
#include <set>

#include "ChipCrashSupport.h"
#include "ChipTestSupport.h"

namespace {

using namespace ChipCrash;

constexpr uint32_t kCapacity = 64;

// A chip of kCapacity with `count` entries and a default set; returns what it holds.
Model installed(uint32_t count) {
    Device& dev = Chip::open(kDev, kCapacity);
    Model model;
    for (uint32_t n = 0; n < count; ++n) {
        const auto k = static_cast<uint16_t>(n);
        EXPECT_EQ(addTo(dev, model, kAllPipes, {k, 1, 443}, {Action::HitEcmp, 6, k, 9}), kSuccess);
    }
    uint32_t handle = 0;
    EXPECT_EQ(dev.defaultEntrySet(kAllPipes, {Action::Hit, 17, 3, 4}, &handle), kSuccess);
    model.defaults[kAllPipes] = {Action::Hit, 17, 3, 4};
    Chip::close(kDev);
    return model;
}

using ChipCorruptionTest = ChipTest::ChipFixture;

TEST_F(ChipCorruptionTest, BadSegmentIsRefusedAndLeftInPlace) {
    const struct {
        void (*corrupt)(const Raw&);
        const char* reason;
    } cases[] = {
        {[](const Raw& raw) { raw.header().magic ^= 1; }, "bad magic"},
        {[](const Raw& raw) { raw.header().layoutVersion = 99; }, "layout version 99"},
        {[](const Raw& raw) { raw.header().recordSize = 24; }, "sizes differ"},
        {[](const Raw& raw) { raw.header().recordsOffset += 64; }, "offsets do not match"},
        {[](const Raw& raw) { raw.header().deviceId = 3; }, "belongs to device 3"},
        {[](const Raw& raw) { raw.segment.truncate(64); }, "smaller than a header"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        ChipTest::ChipEnvironment::wipeAll();
        installed(0);
        const Raw raw;
        c.corrupt(raw);
        try {
            Chip::open(kDev);
            ADD_FAILURE() << "a bad segment was accepted";
        } catch (const SegmentError& e) {
            EXPECT_THAT(e.what(), ::testing::HasSubstr(segmentName(kDev) + " refused: "));
            EXPECT_THAT(e.what(), ::testing::HasSubstr(c.reason));
        }
        EXPECT_EQ(raw.header().capacity, kCapacity) << "the segment was not wiped";
        Device* device = nullptr;
        EXPECT_EQ(Chip::device(kDev, &device), kInitError) << "C entry points report it";
    }
}

// A record damaged while the chip has it mapped reads as a hardware fault.
TEST_F(ChipCorruptionTest, RecordDamagedUnderAnOpenChipReadsAsHardwareFault) {
    Device& dev = Chip::open(kDev, kCapacity);
    uint32_t handle = 0;
    ASSERT_EQ(dev.entryAdd(kAllPipes, {4, 0, 80}, {Action::Hit, 6, 1, 2}, &handle), kSuccess);
    Raw().record(indexOf(handle)).slot[0].rwId ^= 0x40;
    EntryView view;
    EXPECT_EQ(dev.entryGet(handle, kAnyPipe, &view), kHwAccessFails);
}

TEST_F(ChipCorruptionTest, BadRecordIsReportedQuarantinedAndClearedToAUsableKey) {
    using Record = EntryRecord;
    constexpr std::optional<RecordState> kKept, kEntry = RecordState::Entry;
    const struct {
        const char* damage;
        BadReason reason;
        std::optional<RecordState> resealAs;  // a seal made to match the damage
        void (*corrupt)(Record&, const Record& previous);
        bool defaultRecord = false;
    } cases[] = {
        {"flipped byte", BadReason::Checksum, kKept,
         [](Record& r, const Record&) { r.slot[0].rwId ^= 0x40; }},
        {"flipped seal", BadReason::Checksum, kKept,
         [](Record& r, const Record&) { r.seal ^= uint64_t{1} << 40; }},
        {"state 7", BadReason::State, RecordState{7}, [](Record&, const Record&) {}},
        {"default state in an entry record", BadReason::State, RecordState::Default,
         [](Record&, const Record&) {}},
        {"action 5", BadReason::Action, kEntry,
         [](Record& r, const Record&) { r.slot[0].action = kActionCount; }},
        {"pipe 9", BadReason::Pipe, kEntry, [](Record& r, const Record&) { r.pipe = 9; }},
        {"pipe 1 in the all-pipes scope", BadReason::Pipe, kEntry,
         [](Record& r, const Record&) { r.pipe = 1; }},
        {"key of another entry", BadReason::DuplicateKey, kEntry,
         [](Record& r, const Record& previous) { r.natKeyId = previous.natKeyId; }},
        {"default record", BadReason::Checksum, kKept,
         [](Record& r, const Record&) { r.slot[1].prot ^= 1; }, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.damage);
        ChipTest::ChipEnvironment::wipeAll();
        Model model = installed(4);
        const EntryKey key{1, 1, 443};
        uint32_t handle = model.entries[keyOf(key, kAllPipes)].handle;
        uint32_t index = c.defaultRecord ? kCapacity + kPipeCount : indexOf(handle);
        if (c.defaultRecord) {
            handle = Chip::open(kDev).defaultEntryHandle(kAllPipes);
            Chip::close(kDev);
        }
        const Raw raw;
        c.corrupt(raw.record(index), raw.record(index - 1));
        if (c.resealAs)
            raw.reseal(index, *c.resealAs);

        Device& dev = Chip::open(kDev);
        ASSERT_EQ(dev.badRecords().size(), 1u);
        EXPECT_EQ(dev.badRecords()[0].index, index);
        EXPECT_STREQ(badReasonText(dev.badRecords()[0].reason), badReasonText(c.reason));
        EntryView view;
        EXPECT_THAT(dev.entryGet(handle, kAnyPipe, &view),
                    ::testing::AnyOf(kHwAccessFails, kObjectNotFound));
        EXPECT_EQ(dev.entryCount(), c.defaultRecord ? 4u : 3u);
        uint32_t other = 0;
        if (c.defaultRecord) {
            EXPECT_EQ(dev.defaultEntrySet(kAllPipes, {}, &other), kHwAccessFails);
        } else {
            EXPECT_THAT(dev.entryHandles(kAllPipes), ::testing::Not(::testing::Contains(handle)));
            EXPECT_NE(dev.entryDelete(handle, kAnyPipe), kSuccess) << "only a clear frees it";
        }

        EXPECT_EQ(dev.badRecordClear(index + 1), kObjectNotFound) << "a good record stays";
        ASSERT_EQ(dev.badRecordClear(index), kSuccess);
        EXPECT_TRUE(dev.badRecords().empty());
        if (c.defaultRecord) {
            ASSERT_EQ(dev.entryGet(handle, kAnyPipe, &view), kSuccess);
            EXPECT_EQ(view.data.action, Action::OnMiss);
        } else {
            EXPECT_EQ(dev.entryGet(handle, kAnyPipe, &view), kObjectNotFound);
            ASSERT_EQ(dev.entryAdd(kAllPipes, key, {}, &other), kSuccess);
        }
        Chip::close(kDev);
        EXPECT_TRUE(Chip::open(kDev).badRecords().empty()) << "the clear is in the segment";
        Chip::close(kDev);
    }
}

// Bytes of a record that carry meaning: the seal, and for a used record its key and
// active action slot.
bool meaningChanged(const EntryRecord& before, const EntryRecord& after) {
    Seal s = sealOf(before);
    if (before.seal != after.seal)
        return true;
    return s.state != RecordState::Free &&
           (std::memcmp(&before, &after, 8) != 0 ||
            std::memcmp(&before.slot[s.activeSlot], &after.slot[s.activeSlot], 8) != 0);
}

// One damage per seed: byte flips, a zeroed run, a crafted structural word, a record
// resealed with an impossible value, or a truncation.
void damage(const Raw& raw, std::mt19937& rng) {
    std::byte* base = raw.segment.base();
    const std::size_t size = raw.segment.size();
    auto pick = [&](uint64_t n) { return rng() % n; };
    const uint64_t crafted[] = {
        0,          1,          kCapacity,     kCapacity + 1, kCapacity + kDefaultRecordCount,
        0x7FFFFFFF, 0xFFFFFFFF, pick(1u << 20)};
    const uint64_t word = crafted[pick(std::size(crafted))];
    Bucket* buckets = raw.buckets();
    const uint32_t bucketCount = raw.header().bucketCount;
    switch (pick(6)) {
        case 0:
            for (uint64_t n = 1 + pick(8); n-- > 0;) base[pick(size)] ^= std::byte(1 << pick(8));
            break;
        case 1:
            std::memset(base + pick(size - 64), 0, 1 + pick(64));
            break;
        case 2:
            buckets[pick(bucketCount)].slot[pick(kBucketWays)] = static_cast<uint32_t>(word);
            break;
        case 3: {  // a header word: geometry, device, scope or hash seed
            const std::size_t offsets[] = {
                offsetof(SegmentHeader, capacity),      offsetof(SegmentHeader, bucketCount),
                offsetof(SegmentHeader, recordsOffset), offsetof(SegmentHeader, segmentSize),
                offsetof(SegmentHeader, hashSeed),      offsetof(SegmentHeader, entryScope)};
            std::size_t at = offsets[pick(std::size(offsets))];
            std::memcpy(base + at, &word, at == offsetof(SegmentHeader, entryScope) ? 1 : 4);
            break;
        }
        case 4: {
            uint32_t index = static_cast<uint32_t>(pick(kCapacity + kDefaultRecordCount));
            EntryRecord& r = raw.record(index);
            (pick(2) == 0 ? r.slot[sealOf(r).activeSlot].action
                          : reinterpret_cast<uint8_t&>(r.pipe)) =
                static_cast<uint8_t>(kActionCount + pick(200));
            raw.reseal(index, sealOf(r).state);
            break;
        }
        default:
            raw.segment.truncate(pick(size + 8192));
    }
}

enum Outcome { kOpened = 0, kFailed = 1, kRefused = 2, kRepaired = 3 };

// Opens the damaged chip: refused exactly when the header's checked words or the size
// changed, otherwise every damaged record reported and every other entry intact and
// findable. Then operations run over it, the bad records are cleared and a reopen must
// find nothing left to repair.
Outcome checkDamaged(const Model& model, const std::set<uint32_t>& damagedRecords,
                     bool headerDamaged) {
    Device* dev = nullptr;
    try {
        dev = &Chip::open(kDev);
    } catch (const std::exception& e) {
        EXPECT_TRUE(headerDamaged) << e.what();
        return kRefused;
    }
    EXPECT_FALSE(headerDamaged) << "a damaged header was accepted";
    const Recovery recovery = dev->recovery();
    std::set<uint32_t> bad;
    for (const BadRecord& b : dev->badRecords()) bad.insert(b.index);
    for (uint32_t index : damagedRecords)
        EXPECT_TRUE(bad.count(index)) << "damaged record " << index << " not reported";
    uint32_t intact = 0;
    for (const auto& [placement, entry] : model.entries) {
        if (bad.count(indexOf(entry.handle)))
            continue;
        ++intact;
        EntryView view;
        EXPECT_EQ(dev->entryGet(entry.handle, kAnyPipe, &view), kSuccess);
        EXPECT_TRUE(view.data == entry.data) << "silently changed";
        uint32_t handle = 0;
        EXPECT_EQ(dev->entryAdd(kAllPipes, view.key, view.data, &handle), kAlreadyExists)
            << "entry lost from the buckets";
    }
    EXPECT_EQ(dev->entryCount(), intact);

    const int devNull = ::open("/dev/null", O_WRONLY);
    Driver driver(devNull, static_cast<uint32_t>(model.entries.size()), kCapacity * 2);
    for (int i = 0; i < 300; ++i) driver.step();
    ::close(devNull);
    while (!dev->badRecords().empty())
        EXPECT_EQ(dev->badRecordClear(dev->badRecords().back().index), kSuccess);
    Model before = readChip(*dev);
    Chip::close(kDev);
    Device& reopened = Chip::open(kDev);
    EXPECT_TRUE(reopened.badRecords().empty());
    EXPECT_EQ(reopened.recovery().slotsCleared + reopened.recovery().slotsPlaced, 0u)
        << "buckets still wrong after the first repair";
    EXPECT_TRUE(readChip(reopened) == before);
    return recovery.slotsCleared + recovery.slotsPlaced != 0 || recovery.scopeRepaired ? kRepaired
                                                                                       : kOpened;
}

TEST_F(ChipCorruptionTest, AnyDamageIsRefusedOrSurvivedAndReported) {
    constexpr uint32_t kSeeds = 600;
    Model model = installed(48);
    const std::vector<std::byte> pristine = Raw().segment.bytes();
    uint32_t outcomes[4] = {}, reported = 0;
    for (uint32_t seed = 1; seed <= kSeeds; ++seed) {
        ::shm_unlink(segmentName(kDev).c_str());
        std::set<uint32_t> damagedRecords;
        bool headerDamaged = false;
        {
            TestSupport::RawSegment fresh(segmentName(kDev), pristine);
            Raw raw;
            std::mt19937 rng(seed);
            damage(raw, rng);
            Raw after;
            // Words before the hash seed are all checked; the seed and the scope only
            // steer lookups and are repaired.
            headerDamaged = after.segment.size() != pristine.size() ||
                            std::memcmp(after.segment.base(), pristine.data(),
                                        offsetof(SegmentHeader, hashSeed)) != 0;
            if (!headerDamaged) {
                const auto* was = reinterpret_cast<const EntryRecord*>(
                    pristine.data() + after.header().recordsOffset);
                for (uint32_t i = 0; i < kCapacity + kDefaultRecordCount; ++i)
                    if (meaningChanged(was[i], after.record(i)))
                        damagedRecords.insert(i);
            }
        }
        TestSupport::ChildProcess check([&](int) {
            Outcome outcome = checkDamaged(model, damagedRecords, headerDamaged);
            ::_exit(::testing::Test::HasFailure() ? kFailed : outcome);
        });
        const int outcome = check.exitCode();
        ASSERT_TRUE(outcome >= 0 && outcome != kFailed && outcome <= kRepaired)
            << "seed " << seed << ": status " << check.wait();
        ++outcomes[outcome];
        reported += !damagedRecords.empty();
    }
    std::printf(
        "chip corruption fuzz: %u seeds: %u refused (header or size), %u with damaged "
        "records reported, %u with buckets or scope repaired\n",
        kSeeds, outcomes[kRefused], reported, outcomes[kRepaired]);
}

}  // namespace
