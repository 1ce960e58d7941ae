#pragma once
// A test fixture that fails the test when it leaves runtime objects behind:
// the live objects over every allocation tracker and the live slab slots must
// be the same when the fixture is destroyed as when it was constructed. The
// counts are taken in the base's constructor and destructor, so objects held
// by the derived fixture's members are covered too. Derive a suite's fixture
// from it, or use it directly with TEST_F.

#include <gtest/gtest.h>

#include "kiv/Allocator.h"

namespace TestSupport {

class LeakCheck : public ::testing::Test {
  protected:
    LeakCheck()
        : liveObjectsBefore_(Kiv::MemAllocationTracker::totalLiveObjects()),
          liveSlotsBefore_(Kiv::SlabAllocator::liveSlots()) {}
    ~LeakCheck() override {
        EXPECT_EQ(Kiv::MemAllocationTracker::totalLiveObjects(), liveObjectsBefore_)
            << "the test leaked runtime objects";
        EXPECT_EQ(Kiv::SlabAllocator::liveSlots(), liveSlotsBefore_)
            << "the test leaked slab slots";
    }

  private:
    Kiv::U64 liveObjectsBefore_;
    Kiv::U64 liveSlotsBefore_;
};

}  // namespace TestSupport
