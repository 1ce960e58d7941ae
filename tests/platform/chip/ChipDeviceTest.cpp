// The chip model itself: placement, handles, scope, default entries, persistence and
// the checks made on a segment found in shared memory.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <sys/mman.h>
#include <unistd.h>

#include <set>

#include "ChipTestSupport.h"

namespace {

using namespace Chip;
using ChipTest::ChipFixture;
using ::testing::HasSubstr;

[[maybe_unused]] const bool kEnvironment = ChipTest::registerChipEnvironment();

constexpr uint32_t kDev = 1;
const ActionData kHit{Action::Hit, 6, 1, 2};

EntryKey keyOf(uint32_t n) {
    return {static_cast<uint16_t>(n), static_cast<uint16_t>(n >> 16), 80};
}

class ChipDeviceTest : public ChipFixture {
  protected:
    Device& chip(uint32_t capacity = kDefaultCapacity) { return Chip::open(kDev, capacity); }
};

TEST_F(ChipDeviceTest, AddedEntriesReadBackUnderDistinctNonZeroHandles) {
    Device& dev = chip();
    std::set<uint32_t> handles;
    for (uint32_t n = 0; n < 200; ++n) {
        uint32_t handle = 0;
        ActionData data{static_cast<Action>(n % kActionCount), static_cast<uint8_t>(n),
                        static_cast<uint16_t>(n + 1), static_cast<uint16_t>(n + 2)};
        ASSERT_EQ(dev.entryAdd(kAllPipes, keyOf(n), data, &handle), kSuccess);
        ASSERT_NE(handle, 0u);
        handles.insert(handle);
    }
    EXPECT_EQ(handles.size(), 200u);
    EXPECT_EQ(dev.entryCount(), 200u);
    uint32_t n = 0;
    for (uint32_t handle : handles) {
        EntryView view;
        ASSERT_EQ(dev.entryGet(handle, kAnyPipe, &view), kSuccess);
        EXPECT_FALSE(view.isDefault);
        EXPECT_EQ(view.pipe, kAllPipes);
        n += view.key.natKeyId;
        if (view.data.action == Action::OnMiss) {
            EXPECT_EQ(view.data.rwId, 0u) << "onMiss entries carry no parameters";
        } else {
            EXPECT_EQ(view.data.rwId, view.key.natKeyId + 1);
            EXPECT_EQ(view.data.nextHop, view.key.natKeyId + 2);
        }
    }
    EXPECT_EQ(n, 199u * 200u / 2) << "every key read back once";
}

TEST_F(ChipDeviceTest, DuplicateKeyIsRefusedWithinItsPipeOnly) {
    Device& dev = chip();
    uint32_t first = 0, second = 0;
    ASSERT_EQ(dev.entryAdd(kAllPipes, keyOf(7), kHit, &first), kSuccess);
    EXPECT_EQ(dev.entryAdd(kAllPipes, keyOf(7), ActionData{}, &second), kAlreadyExists);
    EXPECT_EQ(dev.entryAdd(kAllPipes, {7, 0, 81}, kHit, &second), kSuccess)
        << "a key that differs in the destination port only is another key";
    ASSERT_EQ(dev.entryDelete(first, kAnyPipe), kSuccess);
    ASSERT_EQ(dev.entryDelete(second, kAnyPipe), kSuccess);

    ASSERT_EQ(dev.entryScopeIs(EntryScope::SinglePipe), kSuccess);
    ASSERT_EQ(dev.entryAdd(0, keyOf(7), kHit, &first), kSuccess);
    EXPECT_EQ(dev.entryAdd(1, keyOf(7), kHit, &second), kSuccess);
    EXPECT_EQ(dev.entryAdd(1, keyOf(7), kHit, &second), kAlreadyExists);
}

TEST_F(ChipDeviceTest, StaleHandleIsNotFoundAndNeverAliasesANewEntry) {
    Device& dev = chip(kMinCapacity);
    uint32_t stale = 0;
    ASSERT_EQ(dev.entryAdd(kAllPipes, keyOf(1), kHit, &stale), kSuccess);
    ASSERT_EQ(dev.entryDelete(stale, kAnyPipe), kSuccess);
    EntryView view;
    EXPECT_EQ(dev.entryGet(stale, kAnyPipe, &view), kObjectNotFound);
    EXPECT_EQ(dev.entryModify(stale, kAnyPipe, kHit), kObjectNotFound);
    EXPECT_EQ(dev.entryDelete(stale, kAnyPipe), kObjectNotFound);
    EXPECT_EQ(dev.entryGet(0, kAnyPipe, &view), kObjectNotFound);

    // Churn every record of the small chip many times over.
    std::set<uint32_t> seen{stale};
    for (uint32_t round = 0; round < 100 * kMinCapacity; ++round) {
        uint32_t handle = 0;
        ASSERT_EQ(dev.entryAdd(kAllPipes, keyOf(1), kHit, &handle), kSuccess);
        EXPECT_TRUE(seen.insert(handle).second) << "handle " << handle << " handed out again";
        EXPECT_EQ(dev.entryGet(stale, kAnyPipe, &view), kObjectNotFound);
        ASSERT_EQ(dev.entryDelete(handle, kAnyPipe), kSuccess);
    }
}

TEST_F(ChipDeviceTest, TableFillsUpThroughRealCollisions) {
    constexpr uint32_t kCapacity = 256;
    Device& dev = chip(kCapacity);
    std::vector<uint32_t> handles;
    uint32_t n = 0;
    Status st = kSuccess;
    for (; st == kSuccess; ++n) {
        uint32_t handle = 0;
        st = dev.entryAdd(kAllPipes, keyOf(n * 7919), kHit, &handle);
        if (st == kSuccess) {
            handles.push_back(handle);
        }
    }
    EXPECT_EQ(st, kNoSpace);
    EXPECT_GE(handles.size(), kCapacity * 8 / 10) << "displacement keeps the table dense";
    EXPECT_LE(handles.size(), kCapacity);
    EXPECT_EQ(dev.entryCount(), handles.size());
    for (uint32_t handle : handles) {
        EntryView view;
        ASSERT_EQ(dev.entryGet(handle, kAnyPipe, &view), kSuccess) << "moved entries stay found";
    }
    uint32_t refused = (n - 1) * 7919;
    uint32_t handle = 0;
    EXPECT_EQ(dev.entryAdd(kAllPipes, keyOf(refused), kHit, &handle), kNoSpace);
    for (uint32_t h : handles) {
        ASSERT_EQ(dev.entryDelete(h, kAnyPipe), kSuccess);
    }
    EXPECT_EQ(dev.entryAdd(kAllPipes, keyOf(refused), kHit, &handle), kSuccess);
}

struct PipeCase {
    EntryScope scope;
    uint32_t pipe;
    Status expected;
};

class ChipPipeTest : public ChipDeviceTest, public ::testing::WithParamInterface<PipeCase> {};

TEST_P(ChipPipeTest, TargetPipeMustFitTheScope) {
    Device& dev = chip();
    ASSERT_EQ(dev.entryScopeIs(GetParam().scope), kSuccess);
    uint32_t handle = 0;
    EXPECT_EQ(dev.entryAdd(GetParam().pipe, keyOf(3), kHit, &handle), GetParam().expected);
    EXPECT_EQ(dev.defaultEntrySet(GetParam().pipe, kHit, &handle), GetParam().expected);
    EXPECT_EQ(dev.defaultEntryReset(GetParam().pipe), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Scopes, ChipPipeTest,
    ::testing::Values(PipeCase{EntryScope::AllPipes, kAllPipes, kSuccess},
                      PipeCase{EntryScope::AllPipes, 0, kInvalidArg},
                      PipeCase{EntryScope::SinglePipe, 0, kSuccess},
                      PipeCase{EntryScope::SinglePipe, kPipeCount - 1, kSuccess},
                      PipeCase{EntryScope::SinglePipe, kPipeCount, kInvalidArg},
                      PipeCase{EntryScope::SinglePipe, kAllPipes, kInvalidArg}),
    [](const auto& info) {
        return std::string(info.param.scope == EntryScope::AllPipes ? "AllPipes" : "SinglePipe") +
               "Pipe" + std::to_string(info.param.pipe);
    });

TEST_F(ChipDeviceTest, ScopeChangesOnlyOnAnEmptyTable) {
    Device& dev = chip();
    EXPECT_EQ(dev.entryScope(), EntryScope::AllPipes) << "a new chip serves all pipes";
    uint32_t handle = 0;
    ASSERT_EQ(dev.entryAdd(kAllPipes, keyOf(1), kHit, &handle), kSuccess);
    EXPECT_EQ(dev.entryScopeIs(EntryScope::AllPipes), kSuccess) << "a restarted agent does this";
    EXPECT_EQ(dev.entryScopeIs(EntryScope::SinglePipe), kInvalidArg);
    EXPECT_EQ(dev.entryScope(), EntryScope::AllPipes);
    ASSERT_EQ(dev.entryDelete(handle, kAnyPipe), kSuccess);
    EXPECT_EQ(dev.entryScopeIs(EntryScope::SinglePipe), kSuccess);
    EXPECT_EQ(dev.entryScope(), EntryScope::SinglePipe);
}

TEST_F(ChipDeviceTest, EntryIsAddressedInItsOwnPipeOnly) {
    Device& dev = chip();
    ASSERT_EQ(dev.entryScopeIs(EntryScope::SinglePipe), kSuccess);
    uint32_t handle = 0;
    ASSERT_EQ(dev.entryAdd(2, keyOf(5), kHit, &handle), kSuccess);
    EntryView view;
    EXPECT_EQ(dev.entryGet(handle, 1, &view), kObjectNotFound);
    EXPECT_EQ(dev.entryModify(handle, 1, ActionData{}), kObjectNotFound);
    EXPECT_EQ(dev.entryDelete(handle, 1), kObjectNotFound);
    ASSERT_EQ(dev.entryGet(handle, 2, &view), kSuccess);
    EXPECT_EQ(view.pipe, 2);
    EXPECT_EQ(dev.entryGet(handle, kAnyPipe, &view), kSuccess);
}

TEST_F(ChipDeviceTest, DefaultEntryKeepsOneHandlePerScopeAndResetsToOnMiss) {
    Device& dev = chip();
    uint32_t allPipes = 0, again = 0;
    ASSERT_EQ(dev.defaultEntrySet(kAllPipes, kHit, &allPipes), kSuccess);
    ASSERT_EQ(dev.defaultEntrySet(kAllPipes, ActionData{Action::HitEcmp, 1, 2, 3}, &again),
              kSuccess);
    EXPECT_EQ(again, allPipes);
    EntryView view;
    ASSERT_EQ(dev.entryGet(allPipes, kAnyPipe, &view), kSuccess);
    EXPECT_TRUE(view.isDefault);
    EXPECT_EQ(view.data.action, Action::HitEcmp);
    EXPECT_EQ(view.data.nextHop, 3);
    EXPECT_EQ(dev.entryDelete(allPipes, kAnyPipe), kInvalidArg) << "reset, never deleted";

    ASSERT_EQ(dev.defaultEntryReset(kAllPipes), kSuccess);
    ASSERT_EQ(dev.entryGet(allPipes, kAnyPipe, &view), kSuccess);
    EXPECT_EQ(view.data.action, Action::OnMiss);
    EXPECT_EQ(view.data.rwId, 0);
    EXPECT_EQ(view.data.prot, 0);
    EXPECT_EQ(view.data.nextHop, 0);

    ASSERT_EQ(dev.entryScopeIs(EntryScope::SinglePipe), kSuccess);
    EXPECT_EQ(dev.entryGet(allPipes, kAnyPipe, &view), kObjectNotFound)
        << "the all-pipes default belongs to the other scope";
    uint32_t pipe0 = 0, pipe1 = 0;
    ASSERT_EQ(dev.defaultEntrySet(0, kHit, &pipe0), kSuccess);
    ASSERT_EQ(dev.defaultEntrySet(1, kHit, &pipe1), kSuccess);
    EXPECT_NE(pipe0, pipe1);
    EXPECT_NE(pipe0, allPipes);
    ASSERT_EQ(dev.defaultEntryReset(0), kSuccess);
    ASSERT_EQ(dev.entryGet(pipe1, kAnyPipe, &view), kSuccess);
    EXPECT_EQ(view.data.action, Action::Hit) << "resetting pipe 0 leaves pipe 1's default";
}

TEST_F(ChipDeviceTest, EntriesOutliveTheMappingAndKeepTheirCapacity) {
    uint32_t handle = 0;
    ASSERT_EQ(chip(kMinCapacity * 4).entryScopeIs(EntryScope::SinglePipe), kSuccess);
    ASSERT_EQ(chip().entryAdd(3, keyOf(9), kHit, &handle), kSuccess);
    Chip::close(kDev);

    Device& reopened = chip(kDefaultCapacity);
    EXPECT_EQ(reopened.capacity(), kMinCapacity * 4) << "capacity comes from the segment";
    EXPECT_EQ(reopened.entryScope(), EntryScope::SinglePipe);
    EXPECT_EQ(reopened.entryCount(), 1u);
    EntryView view;
    ASSERT_EQ(reopened.entryGet(handle, 3, &view), kSuccess);
    EXPECT_EQ(view.key.natKeyId, 9);
    EXPECT_EQ(view.data.prot, kHit.prot);
    uint32_t duplicate = 0;
    EXPECT_EQ(reopened.entryAdd(3, keyOf(9), kHit, &duplicate), kAlreadyExists)
        << "the placement index survives too";

    Chip::wipe(kDev);
    EXPECT_EQ(chip().entryCount(), 0u) << "a wiped chip starts blank";
    EXPECT_EQ(chip().capacity(), kDefaultCapacity);
}

// Maps the device's segment behind the chip's back, as a stray writer would.
class RawSegment {
  public:
    RawSegment() : segment_(SharedSegment::openExisting(segmentName(kDev))) {}
    SegmentHeader& header() { return *reinterpret_cast<SegmentHeader*>(segment_.base()); }
    EntryRecord& record(uint32_t index) {
        return reinterpret_cast<EntryRecord*>(segment_.base() + header().recordsOffset)[index];
    }

  private:
    SharedSegment segment_;
};

struct CorruptionCase {
    const char* name;
    void (*corrupt)(SegmentHeader&);
    const char* reason;
};

class ChipSegmentCheckTest : public ChipDeviceTest,
                             public ::testing::WithParamInterface<CorruptionCase> {};

TEST_P(ChipSegmentCheckTest, BadSegmentIsRefusedAndLeftInPlace) {
    chip(kMinCapacity);
    Chip::close(kDev);
    RawSegment raw;
    GetParam().corrupt(raw.header());
    try {
        chip();
        FAIL() << "a bad segment was accepted";
    } catch (const SegmentError& e) {
        EXPECT_THAT(e.what(), HasSubstr(segmentName(kDev)));
        EXPECT_THAT(e.what(), HasSubstr(GetParam().reason));
    }
    EXPECT_EQ(raw.header().capacity, kMinCapacity) << "the segment was not wiped";
    Device* device = nullptr;
    EXPECT_EQ(Chip::device(kDev, &device), kInitError) << "C entry points report it";
}

INSTANTIATE_TEST_SUITE_P(
    Corruptions, ChipSegmentCheckTest,
    ::testing::Values(
        CorruptionCase{"Magic", [](SegmentHeader& h) { h.magic ^= 1; }, "bad magic"},
        CorruptionCase{"Version", [](SegmentHeader& h) { h.layoutVersion = 99; },
                       "layout version 99"},
        CorruptionCase{"RecordSize", [](SegmentHeader& h) { h.recordSize = 32; }, "sizes differ"},
        CorruptionCase{"Offsets", [](SegmentHeader& h) { h.recordsOffset += 64; },
                       "offsets do not match"},
        CorruptionCase{"Size", [](SegmentHeader& h) { h.segmentSize += 4096; }, "offsets"},
        CorruptionCase{"Device", [](SegmentHeader& h) { h.deviceId = 3; }, "belongs to device 3"},
        CorruptionCase{"Bookkeeping", [](SegmentHeader& h) { h.freeCount = 0; }, "bookkeeping"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ChipDeviceTest, TruncatedSegmentIsRefused) {
    chip(kMinCapacity);
    Chip::close(kDev);
    {
        int fd = ::shm_open(segmentName(kDev).c_str(), O_RDWR, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, 64), 0);
        ::close(fd);
    }
    EXPECT_THROW(chip(), SegmentError);
}

TEST_F(ChipDeviceTest, CorruptRecordReadsAsHardwareFault) {
    uint32_t handle = 0;
    ASSERT_EQ(chip().entryAdd(kAllPipes, keyOf(4), kHit, &handle), kSuccess);
    RawSegment raw;
    raw.record((handle & kHandleIndexMask) - 1).rwId ^= 0x40;
    EntryView view;
    EXPECT_EQ(chip().entryGet(handle, kAnyPipe, &view), kHwAccessFails);
}

}  // namespace
