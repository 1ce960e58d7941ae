// Counted references, lifetime, slab and creation path in both counting modes;
// Kiv::HashMap2018, whose keys are objects held by counted references.

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <thread>
#include <vector>

#include "TestTypes.h"
#include "support/LeakCheck.h"

namespace KivTest {
namespace {

using Kiv::SlabAllocator::isLiveSlot;
using Kiv::SlabAllocator::liveSlots;

// In the counting mode of the parameter, restored after.
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
    Widget::Ptr first = Kiv::create<Widget>(7u);
    const Widget* raw = first.ptr();
    EXPECT_EQ(Widget::memAllocationTracker_.liveBytes(), sizeof(Widget));  // on its own class
    EXPECT_EQ(Gadget::memAllocationTracker_.liveObjects(), 0u);
    EXPECT_EQ(liveSlots(), slotsBefore + 1);
    EXPECT_TRUE(isLiveSlot(raw));
    EXPECT_TRUE(first->notification());  // switched on by the creation path
    {
        Gadget::Ptr second = first;
        Gadget::PtrConst third = second;             // conversion to const adds a reference
        Gadget::PtrConst fourth = std::move(third);  // a move does not
        const Kiv::PtrInterface::Ptr base = first;
        EXPECT_EQ(Dorvu::ptrCast<Gadget>(base), second);
        EXPECT_FALSE(Dorvu::ptrCast<Sprocket>(base));
        EXPECT_EQ(raw->references(), 4u) << "a cast left a reference behind";
        EXPECT_FALSE(third);
        first = nullptr;
        second = second;  // self-assignment keeps the object
        EXPECT_EQ(raw->references(), 3u);
        EXPECT_EQ(fourth->serial(), 7u);
    }
    EXPECT_EQ(gadgetsDestroyed, destroyedBefore + 1);
    EXPECT_EQ(Widget::memAllocationTracker_.liveBytes(), 0u);
    EXPECT_EQ(liveSlots(), slotsBefore);
    EXPECT_FALSE(isLiveSlot(raw));
    // A throwing constructor leaves tracker and slab (the fixture checks it) as they were.
    EXPECT_THROW(Kiv::create<Sprocket>(true), std::runtime_error);
    EXPECT_EQ(Sprocket::memAllocationTracker_.liveBytes(), 0u);
}

// Runs `work(t)` on four threads.
template <class F>
void onFourThreads(F work) {
    std::vector<std::jthread> threads;
    for (int t = 0; t < 4; ++t) threads.emplace_back(work, t);
}

// Copies and drops show a lost update in the count; then the last drop, on whichever
// thread ends last, destroys what the others read: a race for the thread sanitizer
// unless the count orders them.
TEST_P(PtrTest, ConcurrentCopiesAndDropsDestroyOnceAfterEveryUse) {
    if (!GetParam())
        GTEST_SKIP() << "plain counts are for one thread";
    for (int round = 0; round < 10; ++round) {
        const int destroyedBefore = gadgetsDestroyed;
        Gadget::Ptr shared = Kiv::create<Gadget>(42u);
        std::vector<std::vector<Gadget::PtrConst>> held(4);
        onFourThreads([&](int t) {
            for (int i = 0; i < 20; ++i) {
                held[t].assign(10000, shared);
                held[t].resize(1);
            }
        });
        ASSERT_EQ(shared->references(), 1u + 4);
        shared = nullptr;
        std::atomic<Kiv::U64> sum{0};
        onFourThreads([&](int t) {
            sum += held[t].front()->serial();
            auto fresh = Kiv::create<Widget>();  // the slab under concurrent use
            held[t].clear();
        });
        EXPECT_EQ(sum, 4u * 42u);
        ASSERT_EQ(gadgetsDestroyed, destroyedBefore + 5);  // the Gadget and four Widgets
    }
}

using Map = Kiv::HashMap2018<const Gadget, int>;
using HashMapTest = TestSupport::LeakCheck;

TEST_F(HashMapTest, ClearAndDestructionReleaseTheKeys) {
    const int destroyedBefore = gadgetsDestroyed;
    {
        Map map;
        map.insertOrAssign(Kiv::create<Gadget>(), 1);
        map.clear();
        EXPECT_TRUE(map.empty());
        EXPECT_EQ(gadgetsDestroyed, destroyedBefore + 1);
        map.insertOrAssign(Kiv::create<Gadget>(), 1);
    }
    EXPECT_EQ(gadgetsDestroyed, destroyedBefore + 2);
    // A map of one key visits it from the start: 200 keys all but surely meet 16 buckets.
    std::vector<Gadget::Ptr> keys;
    for (int i = 0; i < 200; ++i) {
        Map single;
        single.insertOrAssign(keys.emplace_back(Kiv::create<Gadget>()), i);
        int visited = 0;
        single.forEachFrom(nullptr, [&](const Gadget::PtrConst&, int) { return ++visited > 0; });
        ASSERT_EQ(visited, 1) << i;
    }
}

// A pseudo-random mix of inserts and erases (null key included) through growths, against a
// reference map: finds and size each step; now and then a walk visits each pair once, and
// from the middle key exactly the rest, from a non-key nothing, also while draining.
TEST_F(HashMapTest, StaysEqualToAReferenceMapThroughGrowthAndErase) {
    Map map;
    std::map<const Gadget*, int> expected;
    std::vector<Gadget::Ptr> pool;
    for (int i = 0; i < 3000; ++i) pool.push_back(Kiv::create<Gadget>());
    const Gadget::PtrConst none, outsider = Kiv::create<Gadget>();
    std::uint32_t rng = 12345;
    const auto next = [&] { return rng = rng * 1664525u + 1013904223u; };
    for (int step = 0; step < 20000; ++step) {
        const std::uint32_t r = next();
        const Gadget::Ptr& key = (r % 97 == 0) ? pool[0] : pool[(r >> 8) % pool.size()];
        const bool useNull = r % 211 == 0;
        const Gadget* raw = useNull ? nullptr : key.ptr();
        if ((r >> 4) % 3 == 0) {
            int removed = -1;
            const bool erased = map.erase(raw, &removed);
            ASSERT_EQ(erased, expected.count(raw) == 1) << step;
            EXPECT_EQ(removed, erased ? expected[raw] : -1);
            expected.erase(raw);
        } else {
            const bool inserted =
                useNull ? map.insertOrAssign(none, step) : map.insertOrAssign(key, step);
            ASSERT_EQ(inserted, expected.count(raw) == 0) << step;
            expected[raw] = step;
        }
        ASSERT_EQ(map.size(), expected.size()) << step;
        const Gadget* probe = pool[next() % pool.size()].ptr();
        const int* found = map.find(probe);
        ASSERT_EQ(found ? *found : -1, expected.count(probe) ? expected[probe] : -1) << step;
        if (step % 997 != 0)
            continue;
        std::vector<const Gadget*> order;
        map.forEach([&](const Gadget::PtrConst& k, int v) {
            EXPECT_EQ(expected.at(k.ptr()), v);
            order.push_back(k.ptr());
            return true;
        });
        ASSERT_EQ(std::set<const Gadget*>(order.begin(), order.end()).size(), expected.size());
        ASSERT_EQ(order.size(), expected.size());
        // From the middle key, or every fourth time (and when that is null) from no key.
        std::size_t mid = order.size() / 2;
        if ((step / 997) % 4 == 0 || order.empty() || !order[mid])
            mid = order.size();
        std::vector<const Gadget*> rest;
        map.forEachFrom(mid < order.size() ? order[mid] : outsider.ptr(),
                        [&](const Gadget::PtrConst& k, int) {
                            rest.push_back(k.ptr());
                            return true;
                        });
        EXPECT_EQ(rest, std::vector(order.begin() + mid, order.end())) << step;
    }
    for (const Gadget::Ptr& g : pool) EXPECT_EQ(g->references(), 1u + expected.count(g.ptr()));
    // A map reserved while empty takes as many pairs without growing; one that
    // holds pairs keeps its size.
    Map reserved;
    reserved.reserve(pool.size());
    const std::size_t bytes = reserved.slotBytes();
    for (std::size_t i = 0; i < pool.size(); ++i) reserved.insertOrAssign(pool[i], int(i));
    reserved.reserve(100000);
    EXPECT_EQ(reserved.slotBytes(), bytes);
    EXPECT_EQ(*reserved.find(pool.back().ptr()), int(pool.size() - 1));
}

}  // namespace
}  // namespace KivTest
