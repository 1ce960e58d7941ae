// The object runtime over the chip: ids, argument checks, entry calls, scope, and the
// same entries seen through the PD library. The table library's suites pin the call
// log's texts; no client lists entries through the object runtime.
#include <gmock/gmock.h>

#include <array>

#include "PdLibrary.h"
#include "chip/SimBfRt.h"

namespace {

using namespace ChipTest;
using namespace bfrt;
using ::testing::ElementsAre;
using Fields = std::array<uint64_t, 4>;  // action id, then rwId, prot and next hop or group

constexpr uint32_t kDev = 3;
constexpr BfRtTarget kAllPipes{kDev, 0xFFFF};
// Action k has id 101 + k; the fields of a hit action are 10k+1 to 10k+3.
constexpr const char* kActions[] = {"onMiss", "twiceNatAddrPortHit", "twiceNatAddrPortHitDynamic",
                                    "twiceNatAddrPortHitEcmp", "twiceNatAddrPortHitEcmpDynamic"};

class BfRtTableTest : public ChipFixture {
  protected:
    void SetUp() override {
        ChipFixture::SetUp();
        ASSERT_EQ(table.keyAllocate(&key), 0);
        ASSERT_EQ(table.dataAllocate(&data), 0);
    }
    void keyIs(std::array<uint64_t, 3> fields) {
        for (uint32_t i = 0; i < 3; ++i) ASSERT_EQ(key->setValue(i + 1, fields[i]), 0);
    }
    // Binds action k with the three fields of `f` (ignored for onMiss).
    void dataIs(uint32_t k, Fields f) {
        ASSERT_EQ(table.dataReset(101 + k, data.get()), 0);
        for (uint32_t i = 1; k > 0 && i <= 3; ++i) ASSERT_EQ(data->setValue(10 * k + i, f[i]), 0);
    }
    Fields dataRead() const {
        uint32_t action = 0;
        EXPECT_EQ(data->actionIdGet(&action), 0);
        Fields f{action};
        for (uint32_t i = 1; action > 101 && i <= 3; ++i)
            EXPECT_EQ(data->getValue(10 * (action - 101) + i, &f[i]), 0);
        return f;
    }
    std::array<uint64_t, 3> keyRead() const {
        std::array<uint64_t, 3> fields{};
        for (uint32_t i = 0; i < 3; ++i) EXPECT_EQ(key->getValue(i + 1, &fields[i]), 0);
        return fields;
    }
    Chip::Status add(const BfRtTarget& target, uint32_t* handle) const {
        return table.tableEntryAdd(session, target, *key, *data, handle);
    }
    Chip::Status get(const BfRtTarget& target, uint32_t handle) const {
        return table.tableEntryGet(session, target, 0, handle, key.get(), data.get());
    }

    OlvaneBfRtTable& table = *Chip::deviceObjects(kDev).table;
    const BfRtSession& session = *Chip::deviceObjects(kDev).tableIntf->bfRtSessionGet();
    std::unique_ptr<BfRtTableKey> key;
    std::unique_ptr<BfRtTableData> data;
};

// Names resolve to the ids the other cases use (action k is 101 + k, its fields 10k+1
// to 10k+3); unknown names and wrong ids or widths are refused.
TEST_F(BfRtTableTest, IdsResolveByNameAndKeyAndDataRefuseWrongIdsAndWideValues) {
    uint32_t id = 0;
    ASSERT_EQ(table.keyFieldIdGet("l4PortHdrDstPort", &id), 0);
    EXPECT_EQ(id, 3u);
    ASSERT_EQ(table.actionIdGet("twiceNatAddrPortHitEcmpDynamic", &id), 0);
    EXPECT_EQ(id, 105u);
    ASSERT_EQ(table.dataFieldIdGet("ecmpGroup", 105, &id), 0);
    EXPECT_EQ(id, 43u);
    EXPECT_EQ(table.dataFieldIdGet("rwId", 101, &id), Chip::kObjectNotFound) << "onMiss has none";
    EXPECT_EQ(table.keyFieldIdGet("nextHop", &id), Chip::kObjectNotFound);
    EXPECT_EQ(table.actionIdGet("hit", &id), Chip::kObjectNotFound);
    EXPECT_EQ(table.dataFieldIdGet("nextHop", 104, &id), Chip::kObjectNotFound);
    EXPECT_EQ(key->setValue(0, 1), Chip::kInvalidArg);
    EXPECT_EQ(key->setValue(4, 1), Chip::kInvalidArg);
    EXPECT_EQ(key->setValue(2, 0x10000), Chip::kInvalidArg);
    EXPECT_EQ(key->setValue(2, 0xFFFF), 0);
    EXPECT_EQ(data->setValue(11, 1), Chip::kInvalidArg) << "no action bound yet";
    ASSERT_EQ(table.dataReset(102, data.get()), 0);
    EXPECT_EQ(data->setValue(12, 0x100), Chip::kInvalidArg);
    EXPECT_EQ(data->setValue(12, 0xFF), 0);
    EXPECT_EQ(data->setValue(13, 0x10000), Chip::kInvalidArg);
    EXPECT_EQ(data->setValue(21, 1), Chip::kInvalidArg) << "another action's field";
    uint64_t value = 0;
    EXPECT_EQ(data->getValue(22, &value), Chip::kInvalidArg);
    EXPECT_EQ(table.dataReset(999, data.get()), Chip::kInvalidArg);
    uint32_t handle = 0;
    EXPECT_EQ(add({kDev, 0x1FFFF}, &handle), Chip::kInvalidArg);
    ASSERT_EQ(table.dataReset(data.get()), 0);
    EXPECT_EQ(add(kAllPipes, &handle), Chip::kInvalidArg) << "data without an action";
}

// Each action is read back through the PD library too, so that fields swapped both on
// the way in and on the way out still show.
TEST_F(BfRtTableTest, EveryActionIsAddedReadModifiedAndDeleted) {
    SharedLibrary pd(kPdLibrary);
    for (uint32_t k = 0; k < 5; ++k) {
        SCOPED_TRACE(kActions[k]);
        keyIs({0xFFFF, 2, 3});
        dataIs(k, {0, 0x1234, 6, 0xBEEF});
        uint32_t handle = 0;
        ASSERT_EQ(add(kAllPipes, &handle), 0);
        const PdReadBack r = pdRead(pd, kDev, handle);
        EXPECT_EQ(r.actionName, std::string("p4_pd_olvane_switch_") + kActions[k]);
        EXPECT_EQ(r.match.l4_port_hdr_src_port, 2);
        if (k > 0) {
            EXPECT_THAT(r.actionSpec,
                        ElementsAre(0x34, 0x12, 6, PdReadBack::kUntouched, 0xEF, 0xBE));
        }
        keyIs({1, 1, 1});  // a reset must clear every field that the read then fills
        ASSERT_EQ(table.keyReset(key.get()), 0);
        ASSERT_EQ(table.dataReset(data.get()), 0);
        ASSERT_EQ(get(kAllPipes, handle), 0);
        EXPECT_EQ(keyRead(), (std::array<uint64_t, 3>{0xFFFF, 2, 3}));
        EXPECT_EQ(dataRead(), (k ? Fields{101 + k, 0x1234, 6, 0xBEEF} : Fields{101}));
        dataIs(3, {0, 1, 2, 3});
        ASSERT_EQ(table.tableEntryMod(session, kAllPipes, 0x20, handle, *data), 0);
        dataIs(k, {});
        ASSERT_EQ(get(kAllPipes, handle), 0);
        EXPECT_EQ(dataRead(), (Fields{104, 1, 2, 3}));
        uint32_t defaultHandle = 0;  // one default entry, whichever interface sets it
        ASSERT_EQ(table.tableDefaultEntrySet(session, kAllPipes, 0x20, *data, &defaultHandle), 0);
        p4_pd_entry_hdl_t pdDefault = 0;
        ASSERT_EQ(PD(pd, table_get_default_entry_handle)(1, {kDev, 0xFFFF, 0}, &pdDefault), 0);
        EXPECT_EQ(defaultHandle, pdDefault);
        EXPECT_EQ(pdRead(pd, kDev, defaultHandle).isDefault, 1);
        ASSERT_EQ(table.tableDefaultEntryReset(session, kAllPipes), 0);
        EXPECT_EQ(pdRead(pd, kDev, defaultHandle).actionName,
                  std::string("p4_pd_olvane_switch_onMiss"));
        ASSERT_EQ(table.tableEntryDel(session, kAllPipes, handle), 0);
        EXPECT_EQ(get(kAllPipes, handle), Chip::kObjectNotFound);
        EXPECT_EQ(table.tableEntryDel(session, kAllPipes, handle), Chip::kObjectNotFound);
    }
}

// Entry calls are refused, before the chip is touched, on a table that holds no
// entries (17); with a key or data object of another table or a flag bit the runtime
// does not define (3); with a session that is not open (8).
TEST_F(BfRtTableTest, RefusesEntryCallsItCannotServe) {
    const Chip::SimTable other(TableType::MatchDirect, "other");
    std::unique_ptr<BfRtTableKey> otherKey;
    std::unique_ptr<BfRtTableData> otherData;
    ASSERT_EQ(other.keyAllocate(&otherKey), 0);
    ASSERT_EQ(other.dataAllocate(&otherData), 0);
    EXPECT_EQ(table.keyReset(otherKey.get()), Chip::kInvalidArg);
    EXPECT_EQ(table.dataReset(otherData.get()), Chip::kInvalidArg);
    EXPECT_EQ(table.dataReset(102, otherData.get()), Chip::kInvalidArg);
    ASSERT_EQ(other.dataReset(102, otherData.get()), 0) << "its own table takes it";
    keyIs({1, 2, 3});
    dataIs(1, {0, 4, 5, 6});
    uint32_t handle = 0, defaultHandle = 0;
    const Chip::SimTable selector(TableType::Selector, "selector");
    EXPECT_EQ(selector.tableEntryAdd(session, kAllPipes, *key, *data, &handle),
              Chip::kNotSupported);
    EXPECT_EQ(table.tableEntryAdd(session, kAllPipes, *otherKey, *data, &handle),
              Chip::kInvalidArg);
    EXPECT_EQ(table.tableEntryAdd(session, kAllPipes, *key, *otherData, &handle),
              Chip::kInvalidArg);
    ASSERT_EQ(add(kAllPipes, &handle), 0);
    EXPECT_EQ(table.tableEntryGet(session, kAllPipes, 0, handle, otherKey.get(), data.get()),
              Chip::kInvalidArg);
    EXPECT_EQ(table.tableEntryMod(session, kAllPipes, 0x20, handle, *otherData), Chip::kInvalidArg);
    for (const uint64_t flags : {uint64_t{0}, uint64_t{0x20}, uint64_t{0x21}, uint64_t{1} << 63}) {
        SCOPED_TRACE(flags);
        const Chip::Status expected = flags <= 0x20 ? 0 : Chip::kInvalidArg;
        EXPECT_EQ(table.tableEntryMod(session, kAllPipes, flags, handle, *data), expected);
        EXPECT_EQ(table.tableDefaultEntrySet(session, kAllPipes, flags, *data, &defaultHandle),
                  expected);
    }
    // A session object whose handle is not open, as after its session was closed.
    struct ClosedSession final : BfRtSession {
        uint32_t sessHandleGet() const override { return Chip::kMaxSessions + 1; }
    } closed;
    dataIs(3, {0, 7, 7, 7});
    EXPECT_EQ(table.tableEntryMod(closed, kAllPipes, 0, handle, *data), Chip::kSessionNotFound);
    EXPECT_EQ(table.tableEntryGet(closed, kAllPipes, 0, handle, key.get(), data.get()),
              Chip::kSessionNotFound);
    ASSERT_EQ(get(kAllPipes, handle), 0);
    EXPECT_EQ(dataRead(), (Fields{102, 4, 5, 6})) << "no refused call changed the entry";
}

// Other suites' leak checks count on these counts.
TEST_F(BfRtTableTest, AllocationsAreCounted) {
    const auto before = Chip::TestHooks::allocationCounts().keys;
    std::unique_ptr<BfRtTableKey> extra;
    ASSERT_EQ(table.keyAllocate(&extra), 0);
    EXPECT_EQ(Chip::TestHooks::allocationCounts().keys.live, before.live + 1);
    extra.reset();
    const auto after = Chip::TestHooks::allocationCounts().keys;
    EXPECT_EQ(std::tuple(after.live, after.total), std::tuple(before.live, before.total + 1));
}

// The call log's texts are pinned by the table library's own suites.
TEST_F(BfRtTableTest, EntryScopeSplitsThePipesWhileTheTableIsEmpty) {
    std::unique_ptr<BfRtTableAttributes> scope;
    ASSERT_EQ(table.attributeAllocate(TableAttributesType::EntryScope, &scope), 0);
    ASSERT_EQ(scope->entryScopeParamsSet(TableEntryScope::SinglePipeline), 0);
    ASSERT_EQ(table.tableAttributesSet(session, {kDev, 1}, *scope), 0);
    EXPECT_EQ(Chip::open(kDev).entryScope(), Chip::EntryScope::SinglePipe);
    keyIs({1, 0, 0});
    dataIs(1, {0, 0, 6, 0});
    uint32_t handle = 0;
    ASSERT_EQ(add({kDev, 1}, &handle), 0);
    EXPECT_EQ(table.tableEntryDel(session, {kDev, 2}, handle), Chip::kObjectNotFound)
        << "found in its own pipe only";
    ASSERT_EQ(scope->entryScopeParamsSet(TableEntryScope::AllPipelines), 0);
    EXPECT_EQ(table.tableAttributesSet(session, kAllPipes, *scope), Chip::kInvalidArg)
        << "entries are installed";
}

}  // namespace
