// The table helper (pdLibIs, sdkHandlesIs and their Del) and the
// SDK handle map, whose keys are match spec objects compared by identity.

#include <map>

#include "TableTestSupport.h"

namespace TableTest {
namespace {

using Bf::TwiceNatAddrPortTableHandles;
using Bf::TwiceNatAddrPortTableHelper;

class HelperTest : public TableFixture {
  protected:
    ChipTest::SharedLibrary withBfRt{ChipTest::kPdLibrary};
    ChipTest::SharedLibrary withoutBfRt{ChipTest::kPdLibraryNoBfRt};
    TwiceNatAddrPortTableHelper::Ptr helper =
        Bf::twiceNatAddrPortTableHelperFactory(kDevice, 0xFFFF);
};

TEST_F(HelperTest, StartsWithDeviceAndPipeOnlyAndRegistersItsAttributesInOrder) {
    EXPECT_EQ(TwiceNatAddrPortTableHelper::memAllocationTracker_.liveObjects(), 1u);
    EXPECT_TRUE(helper->notification());
    EXPECT_EQ(helper->deviceId(), kDevice);
    EXPECT_EQ(helper->devPipeId(), 0xFFFF);
    EXPECT_FALSE(helper->sdkHandles());
    EXPECT_FALSE(helper->pdLib());
    std::vector<std::string> names;
    for (const Kiv::AttributeInfo* a : helper->kivType().attributes()) names.emplace_back(a->name);
    EXPECT_EQ(names, (std::vector<std::string>{"deviceId", "devPipeId", "sdkHandles", "pdLib"}));
    EXPECT_EQ(Kiv::genericGet(*helper, "devPipeId"), Kiv::Value(Kiv::U64{0xFFFF}));
    EXPECT_THROW(Kiv::genericSet(*helper, "deviceId", Kiv::U64{1}), Kiv::AttributeException);
    EXPECT_EQ(TwiceNatAddrPortTableHelper::TwiceNatAddrPortTableHelperIs(1, 2)->devPipeId(), 2);
}

TEST_F(HelperTest, PdLibIsWithTheSameNameKeepsTheObjectAndTakesTheNewHandleAndSession) {
    const auto first = helper->pdLibIs("pdlib", withoutBfRt.handle(), 7);
    EXPECT_EQ(first->name(), "pdlib");
    EXPECT_EQ(first->deviceId(), kDevice);
    EXPECT_EQ(first->dlHandle(), withoutBfRt.handle());
    EXPECT_EQ(first->sessionId(), 7u);
    const auto again = helper->pdLibIs("pdlib", withBfRt.handle(), 8);
    EXPECT_EQ(again, first);
    EXPECT_EQ(helper->pdLib(), first);
    EXPECT_EQ(first->dlHandle(), withBfRt.handle());
    EXPECT_EQ(first->sessionId(), 8u);
}

TEST_F(HelperTest, PdLibIsWithAnotherNameReplacesTheObjectAfterRewritingTheOldOne) {
    const auto old = helper->pdLibIs("old", withoutBfRt.handle(), 7);
    const auto replacement = helper->pdLibIs("new", withBfRt.handle(), 9);
    EXPECT_NE(replacement, old);
    EXPECT_EQ(helper->pdLib(), replacement);
    EXPECT_EQ(replacement->name(), "new");
    EXPECT_EQ(replacement->sessionId(), 9u);
    EXPECT_EQ(old->name(), "old");
    EXPECT_EQ(old->dlHandle(), withBfRt.handle());
    EXPECT_EQ(old->sessionId(), 9u);
    EXPECT_EQ(old->references(), 1u);  // the helper let go of it
    EXPECT_THROW(helper->pdLibIs("no-such-pd-library.so", nullptr, 10), Kiv::Exception);
    EXPECT_EQ(helper->pdLib(), replacement);  // kept, with the session of the failed call
    EXPECT_EQ(replacement->sessionId(), 10u);
    EXPECT_EQ(helper->pdLibDel(), replacement);
    EXPECT_FALSE(helper->pdLib());
    EXPECT_FALSE(helper->pdLibDel());
}

TEST_F(HelperTest, SdkHandlesIsReturnsTheSameMapUntilDeleted) {
    const auto map = helper->sdkHandlesIs();
    EXPECT_EQ(helper->sdkHandlesIs(), map);
    EXPECT_EQ(helper->sdkHandles(), map);
    EXPECT_TRUE(map->notification());
    map->entryIs(matchOf(1, 2, 3), 5);
    EXPECT_EQ(helper->sdkHandlesDel(), map);
    EXPECT_FALSE(helper->sdkHandles());
    const auto fresh = helper->sdkHandlesIs();
    EXPECT_NE(fresh, map);
    EXPECT_EQ(fresh->entryCount(), 0u);
    EXPECT_EQ(map->entryCount(), 1u);  // the old map lives on with its holder
}

class HandleMapTest : public TestSupport::LeakCheck {
  protected:
    TwiceNatAddrPortTableHandles::Ptr map = Bf::twiceNatAddrPortTableHandlesFactory();
};

TEST_F(HandleMapTest, KeysAreObjectsNotValues) {
    EXPECT_EQ(TwiceNatAddrPortTableHandles::memAllocationTracker_.liveObjects(), 1u);
    const auto a = matchOf(1, 2, 3);
    const auto b = matchOf(1, 2, 3);
    map->entryIs(a, 5);
    map->entryIs(a, 7);  // replaces
    EXPECT_EQ(map->entryCount(), 1u);
    EXPECT_EQ(map->entry(a), 7u);
    map->entryIs(b, 6);
    EXPECT_EQ(map->entryCount(), 2u);
    EXPECT_EQ(map->entry(a), 7u);
    EXPECT_EQ(map->entry(b), 6u);
    const auto absent = matchOf(1, 2, 3);
    EXPECT_EQ(map->entry(absent), 0u);
    EXPECT_FALSE(map->entryHas(absent));
    EXPECT_EQ(map->entryDel(absent), 0u);
    EXPECT_EQ(map->entryCount(), 2u);
    map->entryIs(nullptr, 0);  // the null reference and handle 0 are stored like any other
    EXPECT_TRUE(map->entryHas(nullptr));
    EXPECT_EQ(map->entryCount(), 3u);
}

TEST_F(HandleMapTest, MapHoldsItsKeysAndEntryDelReleasesThem) {
    const auto& tracker = Bf::TwiceNatAddrPortMatchSpec::memAllocationTracker_;
    const Kiv::U64 before = tracker.liveObjects();
    auto match = matchOf(1, 2, 3);
    const Bf::TwiceNatAddrPortMatchSpec* raw = match.ptr();
    map->entryIs(match, 5);
    EXPECT_EQ(match->references(), 2u);
    match = nullptr;  // the map keeps it alive
    EXPECT_EQ(tracker.liveObjects(), before + 1);
    EXPECT_EQ(map->entryDel(Bf::TwiceNatAddrPortMatchSpec::PtrConst(raw)), 5u);
    EXPECT_EQ(tracker.liveObjects(), before);  // the map held the last reference
    EXPECT_EQ(map->entryCount(), 0u);
}

TEST_F(HandleMapTest, GenericEntryCollectionSeesThePairs) {
    EXPECT_EQ(map->kivType().attributes().size(), 1u);
    const Kiv::CollectionOps& entry = Kiv::genericCollection(*map, "entry");
    const auto a = matchOf(1, 2, 3);
    const auto b = matchOf(1, 2, 3);
    const Kiv::ObjectRef keyA(a.ptr()), keyB(b.ptr());
    entry.set(*map, keyA, Kiv::U64{5});
    entry.set(*map, keyB, Kiv::U64{6});
    entry.set(*map, keyA, Kiv::U64{7});
    EXPECT_EQ(entry.count(*map), 2u);
    EXPECT_TRUE(entry.has(*map, keyB));
    EXPECT_EQ(entry.get(*map, keyA), Kiv::Value(Kiv::U64{7}));
    EXPECT_EQ(map->entry(b), 6u);
    // Visits the pairs from `start` and gives the keys met.
    const auto walk = [&](const Kiv::Value& start) {
        std::map<const void*, Kiv::Value> visited;
        entry.iterate(*map, start, [&](const Kiv::Value& key, const Kiv::Value& handle) {
            visited[std::get<Kiv::ObjectRef>(key).ptr()] = handle;
            return true;
        });
        return visited;
    };
    EXPECT_EQ(walk({}),
              (std::map<const void*, Kiv::Value>{{a.ptr(), Kiv::U64{7}}, {b.ptr(), Kiv::U64{6}}}));
    EXPECT_TRUE(walk(keyB).contains(b.ptr()));
    EXPECT_TRUE(walk(Kiv::ObjectRef()).empty());  // null is no key here: nothing to visit
    map->entryIs(nullptr, 9);
    EXPECT_TRUE(walk(Kiv::ObjectRef()).contains(nullptr));
    EXPECT_EQ(entry.del(*map, keyA), Kiv::Value(Kiv::U64{7}));
    EXPECT_EQ(entry.del(*map, keyA), Kiv::Value(Kiv::U64{0}));
    EXPECT_THROW(entry.set(*map, Kiv::ObjectRef(actionOf(Bf::onMissActionSpec).ptr()), Kiv::U64{1}),
                 Kiv::AttributeException);  // keys are match specs
}

}  // namespace
}  // namespace TableTest
