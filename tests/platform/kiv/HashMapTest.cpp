// Kiv::HashMap2018: identity keys held by counted references, growth and
// iteration from a start key.

#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "TestTypes.h"
#include "support/LeakCheck.h"

namespace KivTest {
namespace {

using Map = Kiv::HashMap2018<const Gadget, int>;

class HashMapTest : public TestSupport::LeakCheck {
  protected:
    static std::vector<const Gadget*> order(const Map& map, const Gadget* start = nullptr) {
        std::vector<const Gadget*> keys;
        map.forEachFrom(start, [&](const Gadget::PtrConst& key, int) {
            keys.push_back(key.ptr());
            return true;
        });
        return keys;
    }
};

TEST_F(HashMapTest, KeysAreObjectsNotValues) {
    Map map;
    Gadget::Ptr a = Kiv::create<Gadget>(1u);
    Gadget::Ptr twin = Kiv::create<Gadget>(1u);  // same fields, another object
    EXPECT_TRUE(map.insertOrAssign(a, 10));
    EXPECT_TRUE(map.insertOrAssign(twin, 20));
    EXPECT_EQ(map.size(), 2u);
    EXPECT_EQ(*map.find(a.ptr()), 10);
    EXPECT_EQ(*map.find(twin.ptr()), 20);
    EXPECT_FALSE(map.insertOrAssign(a, 11));  // replaces, the stored key stays
    EXPECT_EQ(map.size(), 2u);
    EXPECT_EQ(*map.find(a.ptr()), 11);
    EXPECT_EQ(a->references(), 2u);
    EXPECT_EQ(map.find(Kiv::create<Gadget>(1u).ptr()), nullptr);
}

TEST_F(HashMapTest, MapKeepsKeysAliveUntilEraseClearOrDestruction) {
    const int destroyedBefore = gadgetsDestroyed;
    const Gadget* raw;
    {
        Map map;
        {
            Gadget::Ptr key = Kiv::create<Gadget>(3u);
            raw = key.ptr();
            map.insertOrAssign(key, 30);
            for (int i = 0; i < 5; ++i) map.insertOrAssign(Kiv::create<Gadget>(), i);
        }
        EXPECT_EQ(Gadget::memAllocationTracker_.liveObjects(), 6u);
        EXPECT_EQ(raw->serial(), 3u);
        int removed = 0;
        EXPECT_TRUE(map.erase(raw, &removed));
        EXPECT_EQ(removed, 30);
        EXPECT_EQ(gadgetsDestroyed, destroyedBefore + 1);
        EXPECT_FALSE(map.erase(raw));
        EXPECT_EQ(map.size(), 5u);
        map.clear();
        EXPECT_TRUE(map.empty());
        EXPECT_EQ(gadgetsDestroyed, destroyedBefore + 6);
        map.insertOrAssign(Kiv::create<Gadget>(), 1);
    }
    EXPECT_EQ(gadgetsDestroyed, destroyedBefore + 7);
    EXPECT_EQ(Gadget::memAllocationTracker_.liveObjects(), 0u);
}

TEST_F(HashMapTest, GrowthKeepsEveryPairAndIterationVisitsEachOnce) {
    Map map;
    std::vector<Gadget::Ptr> keys;
    for (int i = 0; i < 1000; ++i) {
        keys.push_back(Kiv::create<Gadget>());
        map.insertOrAssign(keys.back(), i);
    }
    ASSERT_EQ(map.size(), 1000u);
    for (int i = 0; i < 1000; ++i) {
        ASSERT_NE(map.find(keys[i].ptr()), nullptr) << i;
        EXPECT_EQ(*map.find(keys[i].ptr()), i);
    }
    std::map<const Gadget*, int> seen;
    map.forEach([&](const Gadget::PtrConst& key, int value) {
        EXPECT_EQ(*map.find(key.ptr()), value);
        return ++seen[key.ptr()] > 0;
    });
    EXPECT_EQ(seen.size(), 1000u);
    for (const auto& [key, times] : seen) EXPECT_EQ(times, 1);
}

TEST_F(HashMapTest, IterationFromAKeyVisitsTheRestExactlyOnce) {
    Map map;
    std::vector<Gadget::Ptr> keys;
    for (int i = 0; i < 100; ++i) {
        keys.push_back(Kiv::create<Gadget>());
        map.insertOrAssign(keys.back(), i);
    }
    const std::vector<const Gadget*> all = order(map);
    ASSERT_EQ(all.size(), 100u);
    for (std::size_t i : {0, 1, 17, 50, 98, 99}) {
        EXPECT_EQ(order(map, all[i]), std::vector<const Gadget*>(all.begin() + i, all.end()));
    }
    EXPECT_TRUE(order(map, Kiv::create<Gadget>().ptr()).empty());  // not a key: nothing
}

}  // namespace
}  // namespace KivTest
