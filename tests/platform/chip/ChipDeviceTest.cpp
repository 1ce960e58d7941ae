// The chip model itself: placement, handles, scope, default entries and the checks
// made on a segment found in shared memory. Persistence is shown by a second process
// in the PD library's tests.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <sys/mman.h>
#include <unistd.h>

#include <map>

#include "ChipTestSupport.h"

namespace {

using namespace Chip;

[[maybe_unused]] const bool kEnvironment = ChipTest::registerChipEnvironment();

constexpr uint32_t kDev = 1;
const ActionData kHit{Action::Hit, 6, 1, 2};

EntryKey keyOf(uint32_t n) {
    return {static_cast<uint16_t>(n), static_cast<uint16_t>(n >> 16), 80};
}

class ChipDeviceTest : public ChipTest::ChipFixture {
  protected:
    Device& chip(uint32_t capacity = kDefaultCapacity) { return Chip::open(kDev, capacity); }
};

TEST_F(ChipDeviceTest, TableFillsUpThroughRealCollisionsAndKeepsEveryEntry) {
    constexpr uint32_t kCapacity = 256;
    Device& dev = chip(kCapacity);
    std::map<uint32_t, uint32_t> keyOfHandle;
    uint32_t n = 0, handle = 0;
    for (Status st = kSuccess; st == kSuccess; ++n) {
        const ActionData data{Action::HitEcmp, 6, static_cast<uint16_t>(n), 2};
        st = dev.entryAdd(kAllPipes, keyOf(n * 7919), data, &handle);
        EXPECT_THAT(st, ::testing::AnyOf(kSuccess, kNoSpace));
        if (st == kSuccess) {
            EXPECT_TRUE(keyOfHandle.emplace(handle, n * 7919).second) << "handle handed out twice";
        }
    }
    EXPECT_GE(keyOfHandle.size(), kCapacity * 8 / 10) << "displacement keeps the table dense";
    EXPECT_LE(keyOfHandle.size(), kCapacity);
    EXPECT_EQ(dev.entryCount(), keyOfHandle.size());
    for (auto [h, key] : keyOfHandle) {
        EntryView view;
        ASSERT_EQ(dev.entryGet(h, kAnyPipe, &view), kSuccess) << "moved entries stay found";
        EXPECT_EQ(view.key.natKeyId, static_cast<uint16_t>(key));
        EXPECT_EQ(view.data.rwId, static_cast<uint16_t>(key / 7919));
        ASSERT_EQ(dev.entryDelete(h, kAnyPipe), kSuccess);
    }
    EXPECT_EQ(dev.entryAdd(kAllPipes, keyOf((n - 1) * 7919), kHit, &handle), kSuccess);
}

TEST_F(ChipDeviceTest, DeletedHandleIsNotFoundUntilTheLowestFreeRecordHandsItOutAgain) {
    Device& dev = chip(kMinCapacity);
    uint32_t h[3] = {};
    for (uint32_t i = 0; i < 3; ++i) {
        ASSERT_EQ(dev.entryAdd(kAllPipes, keyOf(i), kHit, &h[i]), kSuccess);
    }
    ASSERT_EQ(dev.entryDelete(h[2], kAnyPipe), kSuccess);
    ASSERT_EQ(dev.entryDelete(h[0], kAnyPipe), kSuccess);
    EntryView view;
    EXPECT_EQ(dev.entryModify(h[0], kAnyPipe, kHit), kObjectNotFound);
    EXPECT_EQ(dev.entryDelete(h[0], kAnyPipe), kObjectNotFound);
    EXPECT_EQ(dev.entryGet(0, kAnyPipe, &view), kObjectNotFound);
    // The lowest free record comes back first, under the same handle number.
    uint32_t reused[2] = {};
    ASSERT_EQ(dev.entryAdd(kAllPipes, keyOf(7), kHit, &reused[0]), kSuccess);
    ASSERT_EQ(dev.entryAdd(kAllPipes, keyOf(8), kHit, &reused[1]), kSuccess);
    EXPECT_EQ(reused[0], h[0]);
    EXPECT_EQ(reused[1], h[2]);
    ASSERT_EQ(dev.entryGet(h[0], kAnyPipe, &view), kSuccess);
    EXPECT_EQ(view.key.natKeyId, 7) << "the old handle now reads the new entry";
}

TEST_F(ChipDeviceTest, TargetPipeMustFitTheScopeWhichChangesOnlyOnAnEmptyTable) {
    const struct {
        EntryScope scope;
        uint32_t pipe;
        Status expected;
    } cases[] = {
        {EntryScope::AllPipes, kAllPipes, kSuccess},
        {EntryScope::AllPipes, 0, kInvalidArg},
        {EntryScope::SinglePipe, 0, kSuccess},
        {EntryScope::SinglePipe, kPipeCount - 1, kSuccess},
        {EntryScope::SinglePipe, kPipeCount, kInvalidArg},
        {EntryScope::SinglePipe, kAllPipes, kInvalidArg},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pipe);
        ChipTest::ChipEnvironment::wipeAll();
        Device& dev = chip();
        ASSERT_EQ(dev.entryScopeIs(c.scope), kSuccess);
        uint32_t handle = 0;
        EXPECT_EQ(dev.entryAdd(c.pipe, keyOf(3), kHit, &handle), c.expected);
        EXPECT_EQ(dev.defaultEntrySet(c.pipe, kHit, &handle), c.expected);
        EXPECT_EQ(dev.defaultEntryReset(c.pipe), c.expected);
    }
    ChipTest::ChipEnvironment::wipeAll();
    Device& dev = chip();
    EXPECT_EQ(dev.entryScope(), EntryScope::AllPipes) << "a new chip serves all pipes";
    uint32_t entry = 0, allPipesDefault = 0, pipe0 = 0, pipe1 = 0;
    ASSERT_EQ(dev.entryAdd(kAllPipes, keyOf(7), kHit, &entry), kSuccess);
    EXPECT_EQ(dev.entryAdd(kAllPipes, keyOf(7), ActionData{}, &pipe0), kAlreadyExists);
    EXPECT_EQ(dev.entryAdd(kAllPipes, {7, 0, 81}, kHit, &pipe0), kSuccess)
        << "a key that differs in the destination port only is another key";
    ASSERT_EQ(dev.defaultEntrySet(kAllPipes, kHit, &allPipesDefault), kSuccess);
    EXPECT_EQ(dev.entryScopeIs(EntryScope::AllPipes), kSuccess) << "a restarted agent does this";
    EXPECT_EQ(dev.entryScopeIs(EntryScope::SinglePipe), kInvalidArg);
    ASSERT_EQ(dev.entryDelete(entry, kAnyPipe), kSuccess);
    ASSERT_EQ(dev.entryDelete(pipe0, kAnyPipe), kSuccess);
    ASSERT_EQ(dev.entryScopeIs(EntryScope::SinglePipe), kSuccess);

    EntryView view;
    EXPECT_EQ(dev.entryGet(allPipesDefault, kAnyPipe, &view), kObjectNotFound)
        << "the all-pipes default belongs to the other scope";
    ASSERT_EQ(dev.entryAdd(2, keyOf(7), kHit, &entry), kSuccess);
    EXPECT_EQ(dev.entryAdd(1, keyOf(7), kHit, &pipe1), kSuccess) << "duplicates are per pipe";
    EXPECT_EQ(dev.entryAdd(1, keyOf(7), kHit, &pipe1), kAlreadyExists);
    EXPECT_EQ(dev.entryGet(entry, 1, &view), kObjectNotFound) << "found in its own pipe only";
    EXPECT_EQ(dev.entryDelete(entry, 1), kObjectNotFound);
    ASSERT_EQ(dev.entryGet(entry, kAnyPipe, &view), kSuccess);
    EXPECT_EQ(view.pipe, 2);
    ASSERT_EQ(dev.defaultEntrySet(0, {Action::HitEcmp, 1, 2, 3}, &pipe0), kSuccess);
    ASSERT_EQ(dev.defaultEntrySet(1, kHit, &pipe1), kSuccess);
    EXPECT_NE(pipe0, pipe1);
    EXPECT_NE(pipe0, allPipesDefault);
    ASSERT_EQ(dev.entryGet(pipe0, kAnyPipe, &view), kSuccess);
    EXPECT_EQ(view.data.nextHop, 3);
    EXPECT_TRUE(view.isDefault);
    EXPECT_EQ(dev.entryDelete(pipe0, kAnyPipe), kInvalidArg) << "defaults are reset, not deleted";
    ASSERT_EQ(dev.defaultEntryReset(0), kSuccess);
    ASSERT_EQ(dev.entryGet(pipe0, kAnyPipe, &view), kSuccess);
    EXPECT_EQ(view.data.action, Action::OnMiss);
    ASSERT_EQ(dev.entryGet(pipe1, kAnyPipe, &view), kSuccess);
    EXPECT_EQ(view.data.action, Action::Hit) << "resetting pipe 0 leaves pipe 1's default";
}

// Maps the device's segment behind the chip's back, as a stray writer would.
struct RawSegment {
    Shm::Segment segment = Shm::Segment::openOrCreate(segmentName(kDev), {"chip segment", 0, 0});
    SegmentHeader& header() { return *reinterpret_cast<SegmentHeader*>(segment.base()); }
    EntryRecord* records() {
        return reinterpret_cast<EntryRecord*>(segment.base() + header().recordsOffset);
    }
};

TEST_F(ChipDeviceTest, BadSegmentIsRefusedAndLeftInPlace) {
    const struct {
        void (*corrupt)(SegmentHeader&);
        const char* reason;
    } cases[] = {
        {[](SegmentHeader& h) { h.magic ^= 1; }, "bad magic"},
        {[](SegmentHeader& h) { h.layoutVersion = 99; }, "layout version 99"},
        {[](SegmentHeader& h) { h.recordSize = 24; }, "sizes differ"},
        {[](SegmentHeader& h) { h.recordsOffset += 64; }, "offsets do not match"},
        {[](SegmentHeader& h) { h.deviceId = 3; }, "belongs to device 3"},
        {[](SegmentHeader&) {
             const int fd = ::shm_open(segmentName(kDev).c_str(), O_RDWR, 0600);
             EXPECT_EQ(::ftruncate(fd, 64), 0);
             ::close(fd);
         },
         "smaller than a header"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        ChipTest::ChipEnvironment::wipeAll();
        chip(kMinCapacity);
        Chip::close(kDev);
        RawSegment raw;
        c.corrupt(raw.header());
        try {
            chip();
            ADD_FAILURE() << "a bad segment was accepted";
        } catch (const SegmentError& e) {
            EXPECT_THAT(e.what(), ::testing::HasSubstr(segmentName(kDev) + " refused: "));
            EXPECT_THAT(e.what(), ::testing::HasSubstr(c.reason));
        }
        EXPECT_EQ(raw.header().capacity, kMinCapacity) << "the segment was not wiped";
        Device* device = nullptr;
        EXPECT_EQ(Chip::device(kDev, &device), kInitError) << "C entry points report it";
    }
}

TEST_F(ChipDeviceTest, CorruptRecordReadsAsHardwareFault) {
    uint32_t handle = 0;
    ASSERT_EQ(chip().entryAdd(kAllPipes, keyOf(4), kHit, &handle), kSuccess);
    RawSegment().records()[(handle & kHandleIndexMask) - 1].slot[0].rwId ^= 0x40;
    EntryView view;
    EXPECT_EQ(chip().entryGet(handle, kAnyPipe, &view), kHwAccessFails);
}

}  // namespace
