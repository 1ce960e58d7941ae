// Counted references, object lifetime, the tracked slab allocator and the
// creation path, in the plain and in the thread-safe counting mode.

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "TestTypes.h"
#include "support/LeakCheck.h"

namespace KivTest {
namespace {

using Kiv::SlabAllocator::isLiveSlot;
using Kiv::SlabAllocator::liveSlots;

// Runs the test in the counting mode of the parameter and restores the mode after.
class PtrTest : public TestSupport::LeakCheck, public ::testing::WithParamInterface<bool> {
  protected:
    void SetUp() override { Dorvu::threadSafePtrsIs(GetParam()); }
    void TearDown() override { Dorvu::threadSafePtrsIs(previous_); }

  private:
    const bool previous_ = Dorvu::threadSafePtrs();
};
INSTANTIATE_TEST_SUITE_P(Modes, PtrTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Atomic" : "Plain"; });

TEST_P(PtrTest, ObjectDiesExactlyWhenTheLastReferenceGoes) {
    const int destroyedBefore = gadgetsDestroyed;
    const Kiv::U64 slotsBefore = liveSlots();
    Gadget::Ptr first = Kiv::create<Gadget>(7u);
    const Gadget* raw = first.ptr();
    EXPECT_EQ(Gadget::memAllocationTracker_.liveObjects(), 1u);
    EXPECT_EQ(Gadget::memAllocationTracker_.liveBytes(), sizeof(Gadget));
    EXPECT_EQ(liveSlots(), slotsBefore + 1);
    EXPECT_TRUE(isLiveSlot(raw));
    EXPECT_TRUE(first->notification());  // switched on by the creation path
    {
        Gadget::Ptr second = first;
        Gadget::PtrConst third = second;             // conversion to const adds a reference
        Gadget::PtrConst fourth = std::move(third);  // a move does not
        EXPECT_EQ(raw->references(), 3u);
        EXPECT_FALSE(third);
        first = nullptr;
        second = second;  // self-assignment keeps the object
        EXPECT_EQ(raw->references(), 2u);
        EXPECT_EQ(fourth->serial(), 7u);
    }
    EXPECT_EQ(gadgetsDestroyed, destroyedBefore + 1);
    EXPECT_EQ(Gadget::memAllocationTracker_.liveBytes(), 0u);
    EXPECT_EQ(liveSlots(), slotsBefore);
    EXPECT_FALSE(isLiveSlot(raw));
}

TEST_P(PtrTest, ConversionsAndCastsKeepCountsExact) {
    Widget::Ptr widget = Kiv::create<Widget>();
    Kiv::PtrInterface::Ptr base = widget;
    EXPECT_EQ(Widget::memAllocationTracker_.liveObjects(), 1u);  // booked on its own class
    EXPECT_EQ(Gadget::memAllocationTracker_.liveObjects(), 0u);
    EXPECT_EQ(Dorvu::ptrCast<Gadget>(base), widget);
    EXPECT_FALSE(Dorvu::ptrCast<Sprocket>(base));
    EXPECT_EQ(widget->references(), 2u);            // neither cast left a reference behind
    EXPECT_FALSE(Kiv::create<Widget>() == widget);  // equal fields, different objects
    widget = nullptr;
    EXPECT_EQ(Widget::memAllocationTracker_.liveObjects(), 1u);
}

TEST_P(PtrTest, ThrowingConstructorLeavesTrackerAndSlabAsTheyWere) {
    const Kiv::U64 slotsBefore = liveSlots();
    EXPECT_THROW(Kiv::create<Fragile>(true), std::runtime_error);
    EXPECT_EQ(Fragile::memAllocationTracker_.liveObjects(), 0u);
    EXPECT_EQ(Fragile::memAllocationTracker_.liveBytes(), 0u);
    EXPECT_EQ(liveSlots(), slotsBefore);
}

TEST_P(PtrTest, NotifieesHearOfChangesOnlyWhileNotificationIsOn) {
    struct Recorder : Kiv::Entity::Notifiee {
        void onAttributeChange(const Kiv::Entity&, const char* attribute) override {
            heard.push_back(attribute);
        }
        std::vector<std::string> heard;
    } recorder;
    Gadget::Ptr gadget = Kiv::create<Gadget>();
    gadget->notifieeAdd(&recorder);
    gadget->labelIs("a");
    gadget->notificationIs(false);
    gadget->labelIs("b");
    gadget->notificationIs(true);
    gadget->notifieeDel(&recorder);
    gadget->labelIs("c");
    EXPECT_EQ(recorder.heard, std::vector<std::string>{"label"});
}

// ---- Thread-safe mode only.

class AtomicPtrTest : public PtrTest {};
INSTANTIATE_TEST_SUITE_P(Modes, AtomicPtrTest, ::testing::Values(true),
                         [](const auto&) { return "Atomic"; });

// Runs `work(t)` on four threads that start together.
template <class F>
void onFourThreads(F work) {
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&go, &work, t] {
            while (!go) std::this_thread::yield();
            work(t);
        });
    }
    go = true;
    for (auto& t : threads) t.join();
}

// All copies first, then all drops, so that any lost update shows in the count.
TEST_P(AtomicPtrTest, CountsSurviveConcurrentCopies) {
    constexpr Kiv::U32 kCopies = 50000;
    Gadget::Ptr shared = Kiv::create<Gadget>(1u);
    std::vector<std::vector<Gadget::PtrConst>> held(4);
    for (int round = 0; round < 20; ++round) {
        onFourThreads([&](int t) { held[t].assign(kCopies, shared); });
        ASSERT_EQ(shared->references(), 1u + 4 * kCopies);
        onFourThreads([&](int t) { held[t].clear(); });
        ASSERT_EQ(shared->references(), 1u);
    }
    shared = nullptr;
    EXPECT_EQ(Gadget::memAllocationTracker_.liveObjects(), 0u);
}

// The last reference goes on whichever thread finishes last. The destructor
// writes the field that every thread read; without ordering on the count the
// thread sanitizer reports that write as a race.
TEST_P(AtomicPtrTest, LastReferenceOnAnyThreadDestroysOnceAfterEveryUse) {
    for (int round = 0; round < 50; ++round) {
        const int destroyedBefore = gadgetsDestroyed;
        Gadget::Ptr gadget = Kiv::create<Gadget>(42u);
        std::atomic<Kiv::U64> sum{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 3; ++t) {
            threads.emplace_back([mine = Gadget::PtrConst(gadget), &sum]() mutable {
                sum += mine->serial();
                auto fresh = Kiv::create<Widget>();  // the slab under concurrent use
                mine = nullptr;
            });
        }
        gadget = nullptr;
        for (auto& t : threads) t.join();
        EXPECT_EQ(sum, 3u * 42u);
        EXPECT_EQ(gadgetsDestroyed, destroyedBefore + 4);  // the Gadget and three Widgets
        EXPECT_EQ(Gadget::memAllocationTracker_.liveObjects(), 0u);
    }
}

}  // namespace
}  // namespace KivTest
