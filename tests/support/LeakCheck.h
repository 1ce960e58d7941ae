#pragma once
// A fixture that fails the test when it leaves runtime objects or slab slots
// behind. It counts in its own constructor and destructor, so objects held by a
// derived fixture's members are covered too.

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
