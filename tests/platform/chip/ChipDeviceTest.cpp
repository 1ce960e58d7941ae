// The chip model itself: handles handed out again, scope and default entries. Filling
// up, persistence and damaged segments are shown by the crash and corruption harnesses.
#include <gtest/gtest.h>

#include "ChipTestSupport.h"

namespace {

using namespace Chip;

constexpr uint32_t kDev = 1;
const ActionData kHit{Action::Hit, 6, 1, 2};

EntryKey keyOf(uint32_t n) {
    return {static_cast<uint16_t>(n), static_cast<uint16_t>(n >> 16), 80};
}

using ChipDeviceTest = ChipTest::ChipFixture;

TEST_F(ChipDeviceTest, DeletedHandleIsNotFoundUntilTheLowestFreeRecordHandsItOutAgain) {
    Device& dev = Chip::open(kDev, kMinCapacity);
    uint32_t h[3] = {};
    for (uint32_t i = 0; i < 3; ++i)
        ASSERT_EQ(dev.entryAdd(kAllPipes, keyOf(i), kHit, &h[i]), kSuccess);
    ASSERT_EQ(dev.entryDelete(h[2], kAnyPipe), kSuccess);
    ASSERT_EQ(dev.entryDelete(h[0], kAnyPipe), kSuccess);
    EntryView view;
    for (const uint32_t gone : {h[0], 0u})  // a deleted handle, and one never handed out
        EXPECT_EQ(dev.entryGet(gone, kAnyPipe, &view), kObjectNotFound) << gone;
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
        Device& dev = Chip::open(kDev);
        ASSERT_EQ(dev.entryScopeIs(c.scope), kSuccess);
        uint32_t handle = 0;
        EXPECT_EQ(dev.entryAdd(c.pipe, keyOf(3), kHit, &handle), c.expected);
        EXPECT_EQ(dev.defaultEntrySet(c.pipe, kHit, &handle), c.expected);
        EXPECT_EQ(dev.defaultEntryReset(c.pipe), c.expected);
    }
    ChipTest::ChipEnvironment::wipeAll();
    Device& dev = Chip::open(kDev);
    uint32_t entry = 0, allPipesDefault = 0, pipe0 = 0, pipe1 = 0;
    ASSERT_EQ(dev.entryAdd(kAllPipes, keyOf(7), kHit, &entry), kSuccess);
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
    ASSERT_EQ(dev.entryGet(entry, kAnyPipe, &view), kSuccess);
    EXPECT_EQ(view.pipe, 2);
    // Each pipe's default is its own record (the crash harness checks them apart).
    ASSERT_EQ(dev.defaultEntrySet(0, {Action::HitEcmp, 1, 2, 3}, &pipe0), kSuccess);
    EXPECT_NE(pipe0, allPipesDefault);
    EXPECT_EQ(dev.entryDelete(pipe0, kAnyPipe), kInvalidArg) << "defaults are reset, not deleted";
}

}  // namespace
