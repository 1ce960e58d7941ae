// The table helper and the SDK handle map, keyed by match spec objects by identity.

#include <map>

#include "TableTestSupport.h"
#include "support/AttributeLog.h"

namespace TableTest {
namespace {

using Bf::TwiceNatAddrPortTableHelper;

class HelperTest : public TableFixture {
  protected:
    ChipTest::SharedLibrary withBfRt{ChipTest::kPdLibrary};
    ChipTest::SharedLibrary withoutBfRt{ChipTest::kPdLibraryNoBfRt};
    TwiceNatAddrPortTableHelper::Ptr helper =
        TwiceNatAddrPortTableHelper::TwiceNatAddrPortTableHelperIs(kDevice, 0xFFFF);
};

TEST_F(HelperTest, StartsWithDeviceAndPipeOnlyAndKeepsOneHandleMapUntilItIsDeleted) {
    EXPECT_FALSE(helper->sdkHandles() || helper->pdLib());
    const auto map = helper->sdkHandlesIs();
    EXPECT_EQ(helper->sdkHandlesIs(), map);
    EXPECT_EQ(helper->sdkHandlesDel(), map);
    EXPECT_FALSE(helper->sdkHandles());
    EXPECT_NE(helper->sdkHandlesIs(), map);
}

TEST_F(HelperTest, PdLibIsRewritesThePresentObjectAndKeepsItUnderTheSameName) {
    const auto first = helper->pdLibIs("pdlib", withoutBfRt.handle(), 7);
    EXPECT_EQ(std::tuple(first->name(), first->deviceId(), first->dlHandle(), first->sessionId()),
              std::tuple("pdlib", kDevice, withoutBfRt.handle(), 7u));
    EXPECT_EQ(helper->pdLibIs("pdlib", withBfRt.handle(), 8), first);
    EXPECT_EQ(std::tuple(first->dlHandle(), first->sessionId()), std::tuple(withBfRt.handle(), 8u));

    const auto replacement = helper->pdLibIs("new", withoutBfRt.handle(), 9);
    EXPECT_NE(replacement, first);
    EXPECT_EQ(helper->pdLib(), replacement);
    EXPECT_EQ(std::tuple(replacement->name(), replacement->sessionId()), std::tuple("new", 9u));
    // Another name: the old object is rewritten, then let go of.
    EXPECT_EQ(std::tuple(first->name(), first->dlHandle(), first->sessionId(), first->references()),
              std::tuple("pdlib", withoutBfRt.handle(), 9u, 1u));
    EXPECT_THROW(helper->pdLibIs("no-such-pd-library.so", nullptr, 10), Kiv::Exception);
    // Kept, with the handle and session of the failed call, and still bound.
    EXPECT_EQ(std::tuple(helper->pdLib(), replacement->dlHandle(), replacement->boundHandle(),
                         replacement->sessionId()),
              std::tuple(replacement, nullptr, withoutBfRt.handle(), 10u));
    EXPECT_EQ(helper->pdLibDel(), replacement);
    EXPECT_FALSE(helper->pdLib() || helper->pdLibDel());
}

using HandleMapTest = TestSupport::LeakCheck;

// Through the typed operations and the generic collection "entry" alike.
TEST_F(HandleMapTest, KeysAreObjectsNotValuesAndTheMapHoldsThemAndReportsEachChange) {
    const auto map = Bf::twiceNatAddrPortTableHandlesFactory();
    TestSupport::AttributeLog log(*map);
    const Kiv::CollectionOps& entry = Kiv::genericCollection(*map, "entry");
    auto a = matchOf(1, 2, 3);
    const auto b = matchOf(1, 2, 3), absent = matchOf(1, 2, 3);
    const Bf::TwiceNatAddrPortMatchSpec::PtrConst aKey(a.ptr());
    map->entryIs(a, 5);
    entry.set(*map, Kiv::ObjectRef(a.ptr()), U64{7});  // replaces
    map->entryIs(b, 6);
    EXPECT_EQ(
        std::tuple(map->entry(a), entry.get(*map, Kiv::ObjectRef(b.ptr())), entry.count(*map)),
        std::tuple(7u, Kiv::Value(U64{6}), 2u));
    EXPECT_FALSE(map->entry(absent) || map->entryHas(absent) ||
                 entry.has(*map, Kiv::ObjectRef(absent.ptr())) || map->entryDel(absent));
    // Visits the pairs from `start` and gives the keys met.
    const auto walk = [&](const Kiv::Value& start) {
        std::map<const void*, Kiv::Value> visited;
        entry.iterate(*map, start, [&](const Kiv::Value& key, const Kiv::Value& handle) {
            visited[std::get<Kiv::ObjectRef>(key).ptr()] = handle;
            return true;
        });
        return visited;
    };
    EXPECT_EQ(walk({}), (std::map<const void*, Kiv::Value>{{a.ptr(), U64{7}}, {b.ptr(), U64{6}}}));
    EXPECT_TRUE(walk(Kiv::ObjectRef(b.ptr())).contains(b.ptr()));
    EXPECT_TRUE(walk(Kiv::ObjectRef()).empty());  // null is no key here: nothing to visit
    map->entryIs(nullptr, 0);  // the null reference and handle 0 are stored like any other
    EXPECT_TRUE(map->entryHas(nullptr) && walk(Kiv::ObjectRef()).contains(nullptr));
    EXPECT_THROW(entry.set(*map, Kiv::ObjectRef(actionOf(kOnMiss).ptr()), U64{1}),
                 Kiv::AttributeException);  // keys are match specs

    a = nullptr;
    EXPECT_EQ(aKey->references(), 2u);  // this reference and the map's
    EXPECT_EQ(entry.del(*map, Kiv::ObjectRef(aKey.ptr())), Kiv::Value(U64{7}));
    EXPECT_EQ(map->entryDel(aKey), 0u);
    EXPECT_EQ(std::pair(aKey->references(), map->entryCount()), std::pair(1u, std::size_t{2}))
        << "let go of";
    EXPECT_EQ(log.changes, Texts(5, "entry")) << "four writes and one delete; none for absent";
}

// The first map keeps its handle in the match, a second in its own storage; the first
// one's death frees the match for the next.
TEST_F(HandleMapTest, MapsSharingAMatchKeepTheirOwnHandles) {
    auto first = Bf::twiceNatAddrPortTableHandlesFactory();
    const auto second = Bf::twiceNatAddrPortTableHandlesFactory();
    const auto a = matchOf(1, 2, 3), b = matchOf(4, 5, 6);
    first->entryIs(a, 5);
    first->entryIs(b, 8);
    second->entryIs(a, 6);
    EXPECT_FALSE(second->entryHas(b));
    first = nullptr;
    EXPECT_EQ(std::tuple(second->entry(a), a->references(), b->references()),
              std::tuple(6u, 2u, 1u));
    const auto third = Bf::twiceNatAddrPortTableHandlesFactory();
    EXPECT_FALSE(third->entryHas(a));
    third->entryIs(a, 7);
    EXPECT_EQ(second->entryDel(a), 6u);
    EXPECT_EQ(std::tuple(second->entryHas(a), third->entry(a)), std::tuple(false, 7u));
}

}  // namespace
}  // namespace TableTest
