// The key manager: keys bound to match objects, restart, wrap-around and a
// full table. Records outliving their process are shown by the kill suite.

#include <gtest/gtest.h>

#include <tuple>

#include "TestMatchSpec.h"
#include "ZabroTestSupport.h"
#include "support/ChildProcess.h"
#include "support/Thrown.h"

namespace ZabroTest {
namespace {

using MbbZabroKey::ZabroKeyManager;

class KeyManagerTest : public KeySegmentTest {
  protected:
    static ZabroKeyManager::Ptr open(Kiv::U64 capacity = ZabroKeyManager::kDefaultCapacity) {
        return MbbZabroKey::zabroKeyManagerFactory(kDevice, kPipe, capacity);
    }
    static Zabro::MbbPostcodef::EntryConfig recordOf(const ZabroKeyManager& keys, Kiv::U64 key) {
        Zabro::MbbPostcodef::EntryConfig record(0, 0, 0, 0, 0);
        EXPECT_TRUE(keys.mbbZabroTableConfig()->recordFind(key, record)) << "key " << key;
        return record;
    }
    static auto match(Kiv::U32 value) {
        return BfnTableTest::TestMatchSpec::TestMatchSpecIs(value);
    }
};

TEST_F(KeyManagerTest, AllocBindsAscendingKeysWithRecordsThatTakeAHandleUntilFreed) {
    const auto keys = open();
    const auto a = match(1), b = match(1);
    EXPECT_EQ(keys->alloc(a, false), 1u);
    EXPECT_EQ(keys->alloc(b, false), 2u);
    EXPECT_EQ(keys->key(b), 2u) << "matches are told apart by object, not value";
    EXPECT_EQ(keys->key(match(1)), 0u);
    EXPECT_EQ(keys->match(2), b);
    const auto opIdBefore = recordOf(*keys, 2).opId();
    EXPECT_FALSE(recordOf(*keys, 2).handleSet());
    keys->sdkEntryHandleIs(2, 0);
    EXPECT_TRUE(recordOf(*keys, 2).handleSet()) << "a handle of 0 is told apart from none";
    EXPECT_GT(recordOf(*keys, 2).opId(), opIdBefore);
    EXPECT_THROW(keys->sdkEntryHandleIs(3, 5), Zabro::KeyException) << "a key without a record";
    EXPECT_THROW(keys->alloc(nullptr, false), Kiv::Exception);
    EXPECT_THROW(MbbZabroKey::zabroKeyManagerFactory(nullptr), Kiv::Exception);
    EXPECT_EQ(keys->alloc(a, true), 1u) << "reuse of the bound key";
    EXPECT_EQ(keys->alloc(a, false), 3u);
    EXPECT_EQ(keys->key(a), 3u);
    EXPECT_EQ(keys->match(1), nullptr);
    EXPECT_EQ(keys->boundKeyCount(), 2u);
    EXPECT_EQ(keys->recordCount(), 3u) << "the old key keeps its record until freed";
    keys->free(2);
    EXPECT_EQ(keys->key(b), 0u);
    EXPECT_EQ(keys->match(2), nullptr);
    EXPECT_EQ(b->references(), 1u) << "the key manager let go of the match";
    EXPECT_EQ(walkKeys(*keys->mbbZabroTableConfig()), (std::vector<Kiv::U64>{1, 3}));
    keys->free(2);  // a free key stays free
    EXPECT_EQ(keys->recordCount(), 2u);
    EXPECT_EQ(keys->alloc(b, false), 4u) << "new keys follow the highest";
    EXPECT_THROW(keys->free(0), Zabro::KeyException);
    EXPECT_THROW(keys->free(ZabroKeyManager::kDefaultCapacity + 1), Zabro::KeyException);
}

// The first manager to bind a match keeps its key in the match, a second one
// in its own map; neither sees the other's, and the first one's death frees
// the match for the next binding.
TEST_F(KeyManagerTest, ManagersSharingAMatchKeepTheirOwnKeys) {
    auto first = open();
    const auto second = ZabroKeyManager::ZabroKeyManagerIs(first->mbbZabroTableConfig());
    const auto a = match(1), b = match(2);
    first->alloc(a, false);  // 1
    first->alloc(b, false);  // 2
    EXPECT_EQ(second->key(a), 0u);
    second->alloc(a, false);  // 3
    EXPECT_EQ(second->alloc(a, false), 4u);
    EXPECT_EQ(std::tuple(first->key(a), second->key(a), second->match(3)),
              std::tuple(1u, 4u, nullptr));
    first = nullptr;
    EXPECT_EQ(std::tuple(a->references(), b->references()), std::tuple(3u, 1u))
        << "the second one holds a through its key vector and its map";
    EXPECT_EQ(second->key(a), 4u);
    second->free(4);
    EXPECT_EQ(std::tuple(second->key(a), second->boundKeyCount()), std::tuple(0u, 0u));
    EXPECT_EQ(second->alloc(a, false), 5u);
    EXPECT_EQ(std::tuple(second->key(a), second->match(5)), std::tuple(5u, a));
}

TEST_F(KeyManagerTest, PopulateAfterRestartBindsMatchesAndDropsEntriesGoneFromHardware) {
    for (Kiv::U32 i = 0; i < 3; ++i) open()->alloc(match(i), false);
    const auto keys = open();
    EXPECT_EQ(keys->recordCount(), 3u);
    EXPECT_EQ(keys->boundKeyCount(), 0u) << "match objects do not outlive their process";
    const auto a = match(10), c = match(30);
    keys->populate(1, a);
    keys->populate(2, nullptr);
    keys->populate(3, c);
    EXPECT_EQ(keys->key(a), 1u);
    EXPECT_EQ(keys->key(c), 3u);
    EXPECT_EQ(walkKeys(*keys->mbbZabroTableConfig()), (std::vector<Kiv::U64>{1, 3}));
    EXPECT_THROW(keys->populate(2, a), Zabro::KeyException);
    EXPECT_EQ(keys->key(a), 1u) << "a refused populate leaves the binding alone";
    EXPECT_THROW(keys->populate(0, a), Zabro::KeyException);
}

// Set by name in another process, the highest key is the segment's, not the process's.
TEST_F(KeyManagerTest, HighestAllocatedKeyPersistsAndIsSetByName) {
    EXPECT_EQ(TestSupport::ChildProcess([](int) {
                  const auto keys = open();
                  keys->alloc(match(1), false);
                  Kiv::genericSet(*keys, "highestAllocatedKey", Kiv::U64{10});
                  ::_exit(keys->alloc(match(2), false) == 11u ? 0 : 1);
              }).exitCode(),
              0);
    const auto keys = open();
    EXPECT_EQ(keys->alloc(match(3), false), 12u);
    keys->highestAllocatedKeyIs(0);
    EXPECT_EQ(keys->alloc(match(4), false), 2u) << "key 1 is taken, so the lowest free one";
    EXPECT_EQ(keys->highestAllocatedKey(), 2u);
}

TEST_F(KeyManagerTest, PastTheLastKeyAllocTakesTheLowestFreeOneUntilFull) {
    const auto keys = open(4);
    for (Kiv::U32 i = 0; i < 4; ++i) keys->alloc(match(i), false);
    keys->free(3);
    keys->free(2);
    EXPECT_EQ(keys->alloc(match(7), false), 2u);
    EXPECT_EQ(recordOf(*keys, 2).generation(), 2u) << "the slot's second allocation";
    EXPECT_EQ(keys->alloc(match(8), false), 3u);
    if (const auto e =
            TestSupport::thrown<Zabro::TableFullException>([&] { keys->alloc(match(9), false); })) {
        EXPECT_NE(e->message().find(segmentName()), std::string::npos) << e->message();
        EXPECT_NE(e->message().find("all 4 keys"), std::string::npos) << e->message();
    }
    EXPECT_EQ(keys->recordCount(), 4u);
}

}  // namespace
}  // namespace ZabroTest
