#include <gtest/gtest.h>

#include "TestMatchSpec.h"
#include "ZabroChild.h"
#include "ZabroTestSupport.h"

namespace ZabroTest {
namespace {

using BfnTableTest::TestMatchSpec;
using MbbZabroKey::ZabroKeyManager;
using Zabro::MbbPostcodef::EntryConfig;

class KeyManagerTest : public KeySegmentTest {
  protected:
    static ZabroKeyManager::Ptr open(Kiv::U64 capacity = ZabroKeyManager::kDefaultCapacity) {
        return MbbZabroKey::zabroKeyManagerFactory(kDevice, kPipe, capacity);
    }
    static EntryConfig recordOf(const ZabroKeyManager& keys, Kiv::U64 key) {
        EntryConfig record(0, 0, 0, 0, 0);
        EXPECT_TRUE(keys.mbbZabroTableConfig()->recordFind(key, record)) << "key " << key;
        return record;
    }
};

TEST_F(KeyManagerTest, AllocGivesAscendingKeysWithRecordsThatHaveNoHandleYet) {
    const auto keys = open();
    ASSERT_TRUE(keys->mbbZabroTableConfig());
    const auto a = TestMatchSpec::TestMatchSpecIs(1);
    const auto b = TestMatchSpec::TestMatchSpecIs(1);
    EXPECT_EQ(keys->alloc(a, false), 1u);
    EXPECT_EQ(keys->alloc(b, false), 2u);

    EXPECT_EQ(keys->key(a), 1u);
    EXPECT_EQ(keys->key(b), 2u) << "matches are told apart by object, not value";
    EXPECT_EQ(keys->key(TestMatchSpec::TestMatchSpecIs(1)), 0u);
    EXPECT_EQ(keys->match(2), b);
    EXPECT_EQ(keys->recordCount(), 2u);
    EXPECT_EQ(keys->highestAllocatedKey(), 2u);
    const EntryConfig record = recordOf(*keys, 2);
    EXPECT_EQ(record.sdkEntryHandle(), 0u);
    EXPECT_FALSE(record.handleSet());
    EXPECT_EQ(record.generation(), 1u);
    EXPECT_THROW(keys->alloc(nullptr, false), Kiv::Exception);
}

TEST_F(KeyManagerTest, AllocWithReuseBoundKeepsTheKeyOtherwiseRebindsTheMatch) {
    const auto keys = open();
    const auto a = TestMatchSpec::TestMatchSpecIs(1);
    EXPECT_EQ(keys->alloc(a, true), 1u);
    EXPECT_EQ(keys->alloc(a, true), 1u);
    EXPECT_EQ(keys->alloc(a, false), 2u);

    EXPECT_EQ(keys->key(a), 2u);
    EXPECT_EQ(keys->match(1), nullptr);
    EXPECT_EQ(keys->boundKeyCount(), 1u);
    EXPECT_EQ(keys->recordCount(), 2u) << "the old key keeps its record until freed";
}

TEST_F(KeyManagerTest, FreeDropsRecordAndBindingAndNewKeysStillFollowTheHighest) {
    const auto keys = open();
    const auto a = TestMatchSpec::TestMatchSpecIs(1);
    const auto b = TestMatchSpec::TestMatchSpecIs(2);
    keys->alloc(a, false);
    keys->alloc(b, false);
    keys->alloc(TestMatchSpec::TestMatchSpecIs(3), false);

    keys->free(2);
    EXPECT_EQ(keys->key(b), 0u);
    EXPECT_EQ(keys->match(2), nullptr);
    EXPECT_EQ(b->references(), 1u) << "the key manager let go of the match";
    EXPECT_EQ(keys->recordCount(), 2u);
    EXPECT_EQ(walkKeys(*keys->mbbZabroTableConfig()), (std::vector<Kiv::U64>{1, 3}));

    keys->free(2);  // a free key stays free
    EXPECT_EQ(keys->recordCount(), 2u);
    EXPECT_EQ(keys->alloc(b, false), 4u);
    EXPECT_THROW(keys->free(0), Zabro::KeyException);
    EXPECT_THROW(keys->free(ZabroKeyManager::kDefaultCapacity + 1), Zabro::KeyException);
}

TEST_F(KeyManagerTest, SdkEntryHandleIsRecordedForKeysWithARecordOnly) {
    const auto keys = open();
    const auto key = keys->alloc(TestMatchSpec::TestMatchSpecIs(1), false);
    const auto opIdBefore = recordOf(*keys, key).opId();
    keys->sdkEntryHandleIs(key, 0);

    const EntryConfig record = recordOf(*keys, key);
    EXPECT_EQ(record.sdkEntryHandle(), 0u);
    EXPECT_TRUE(record.handleSet()) << "a handle of 0 is told apart from no handle";
    EXPECT_GT(record.opId(), opIdBefore);
    keys->sdkEntryHandleIs(key, 0xABCD1234);
    EXPECT_EQ(recordOf(*keys, key).sdkEntryHandle(), 0xABCD1234u);

    EXPECT_THROW(keys->sdkEntryHandleIs(key + 1, 5), Zabro::KeyException);
    EXPECT_THROW(keys->sdkEntryHandleIs(0, 5), Zabro::KeyException);
}

TEST_F(KeyManagerTest, PopulateAfterRestartBindsMatchesAndDropsEntriesGoneFromHardware) {
    {
        const auto before = open();
        for (Kiv::U32 i = 0; i < 3; ++i) {
            const auto key = before->alloc(TestMatchSpec::TestMatchSpecIs(i), false);
            before->sdkEntryHandleIs(key, 100 + static_cast<Kiv::U32>(key));
        }
    }
    const auto keys = open();
    EXPECT_EQ(keys->recordCount(), 3u);
    EXPECT_EQ(keys->boundKeyCount(), 0u) << "match objects do not outlive their process";
    EXPECT_EQ(keys->highestAllocatedKey(), 3u);
    EXPECT_EQ(recordOf(*keys, 2).sdkEntryHandle(), 102u);

    const auto a = TestMatchSpec::TestMatchSpecIs(10);
    const auto c = TestMatchSpec::TestMatchSpecIs(30);
    keys->populate(1, a);
    keys->populate(2, nullptr);
    keys->populate(3, c);
    EXPECT_EQ(keys->key(a), 1u);
    EXPECT_EQ(keys->key(c), 3u);
    EXPECT_EQ(keys->recordCount(), 2u);
    EXPECT_EQ(walkKeys(*keys->mbbZabroTableConfig()), (std::vector<Kiv::U64>{1, 3}));

    EXPECT_THROW(keys->populate(2, a), Zabro::KeyException);
    EXPECT_EQ(keys->key(a), 1u) << "a refused populate leaves the binding alone";
    EXPECT_THROW(keys->populate(0, a), Zabro::KeyException);
    keys->free(1);
    EXPECT_EQ(a->references(), 1u);
}

TEST_F(KeyManagerTest, HighestAllocatedKeyPersistsAndDrivesTheNextKey) {
    {
        const auto keys = open();
        keys->alloc(TestMatchSpec::TestMatchSpecIs(1), false);
        keys->highestAllocatedKeyIs(10);
        EXPECT_EQ(keys->alloc(TestMatchSpec::TestMatchSpecIs(2), false), 11u);
    }
    const auto keys = open();
    EXPECT_EQ(keys->highestAllocatedKey(), 11u);
    EXPECT_EQ(keys->alloc(TestMatchSpec::TestMatchSpecIs(3), false), 12u);
    keys->highestAllocatedKeyIs(0);
    EXPECT_EQ(keys->alloc(TestMatchSpec::TestMatchSpecIs(4), false), 2u)
        << "key 1 is taken, so the lowest free key follows";
    EXPECT_EQ(keys->highestAllocatedKey(), 2u);
}

TEST_F(KeyManagerTest, PastTheLastKeyAllocTakesTheLowestFreeOneUntilFull) {
    const auto keys = open(4);
    for (Kiv::U32 i = 0; i < 4; ++i) keys->alloc(TestMatchSpec::TestMatchSpecIs(i), false);
    keys->free(3);
    keys->free(2);
    EXPECT_EQ(keys->alloc(TestMatchSpec::TestMatchSpecIs(7), false), 2u);
    EXPECT_EQ(recordOf(*keys, 2).generation(), 2u) << "the slot was allocated a second time";
    EXPECT_EQ(keys->alloc(TestMatchSpec::TestMatchSpecIs(8), false), 3u);
    try {
        keys->alloc(TestMatchSpec::TestMatchSpecIs(9), false);
        FAIL() << "a full table must refuse a key";
    } catch (const Zabro::TableFullException& e) {
        EXPECT_NE(e.message().find(segmentName()), std::string::npos) << e.message();
        EXPECT_NE(e.message().find("all 4 keys"), std::string::npos) << e.message();
    }
    EXPECT_EQ(keys->recordCount(), 4u);
}

TEST_F(KeyManagerTest, OperationsAreReachableByName) {
    const auto keys = open();
    const auto a = TestMatchSpec::TestMatchSpecIs(1);
    const Kiv::Value allocArgs[] = {Kiv::ObjectRef(a.ptr()), false};
    EXPECT_EQ(Kiv::genericCall(*keys, "alloc", allocArgs), Kiv::Value(Kiv::U64{1}));
    const Kiv::Value keyArgs[] = {Kiv::ObjectRef(a.ptr())};
    EXPECT_EQ(Kiv::genericCall(*keys, "key", keyArgs), Kiv::Value(Kiv::U64{1}));
    Kiv::genericSet(*keys, "highestAllocatedKey", Kiv::U64{41});
    EXPECT_EQ(keys->alloc(TestMatchSpec::TestMatchSpecIs(2), false), 42u);
    const Kiv::Value freeArgs[] = {Kiv::U64{1}};
    Kiv::genericCall(*keys, "free", freeArgs);
    EXPECT_EQ(keys->key(a), 0u);
}

TEST_F(KeyManagerTest, RecordsOutliveTheProcessThatWroteThem) {
    {
        const auto keys = open();
        for (Kiv::U32 i = 0; i < 3; ++i) {
            const auto key = keys->alloc(TestMatchSpec::TestMatchSpecIs(i), false);
            keys->sdkEntryHandleIs(key, 5000 + static_cast<Kiv::U32>(key));
        }
    }
    EXPECT_EQ(runChild({"count", "5000"}), 3) << "a second process finds our three records";

    EXPECT_EQ(runChild({"write", "2", "7000"}), 0);
    ASSERT_TRUE(segmentExists(segmentName())) << "the segment outlives its writer";
    const auto keys = open();
    EXPECT_EQ(walkKeys(*keys->mbbZabroTableConfig()), (std::vector<Kiv::U64>{1, 2, 3, 4, 5}));
    EXPECT_EQ(recordOf(*keys, 5).sdkEntryHandle(), 7005u);
    EXPECT_EQ(keys->highestAllocatedKey(), 5u);
}

}  // namespace
}  // namespace ZabroTest
