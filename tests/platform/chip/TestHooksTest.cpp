// Call log and fault injection, as other suites rely on them: exact record texts and
// faults that leave the table and every output untouched.
#include <gmock/gmock.h>

#include <cstring>

#include "PdLibrary.h"
#include "chip/bfrt.h"

namespace {

using namespace ChipTest;
using namespace Chip::TestHooks;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

[[maybe_unused]] const bool kEnvironment = registerChipEnvironment();

constexpr uint8_t kDev = 0;
constexpr p4_pd_dev_target_t kTarget{kDev, 0xFFFF, 0};
constexpr p4_pd_olvane_switch_twiceNatAddrPort_match_spec_t kMatch{1, 2, 3};
constexpr const char* kAddHit =
    "p4_pd_olvane_switch_twiceNatAddrPort_table_add_with_twiceNatAddrPortHit";

p4_pd_olvane_switch_twiceNatAddrPortHit_action_spec_t hitSpec(uint16_t rw, uint8_t prot,
                                                              uint16_t nextHop) {
    p4_pd_olvane_switch_twiceNatAddrPortHit_action_spec_t spec;
    std::memset(&spec, 0x77, sizeof spec);
    spec.action_rw_id = rw;
    spec.action_prot = prot;
    spec.action_next_hop = nextHop;
    return spec;
}

std::string pd(const std::string& suffix) {
    return "p4_pd_olvane_switch_twiceNatAddrPort_" + suffix;
}

class TestHooksTest : public ChipFixture {
  protected:
    PdLibrary lib;
};

TEST_F(TestHooksTest, PdCallsAreLoggedWithCanonicalArguments) {
    ScopedCallLog log;
    auto spec = hitSpec(1, 6, 2);
    p4_pd_entry_hdl_t handle = 0, defaultHandle = 0;
    ASSERT_EQ(lib.p4_pd_olvane_switch_twiceNatAddrPort_set_property(7, kDev, 1, 0), 0);
    ASSERT_EQ(lib.p4_pd_olvane_switch_twiceNatAddrPort_table_add_with_twiceNatAddrPortHit(
                  7, kTarget, &kMatch, &spec, &handle),
              0);
    ASSERT_EQ(lib.p4_pd_olvane_switch_twiceNatAddrPort_table_modify_with_onMiss(7, kDev, handle),
              0);
    p4_pd_olvane_switch_twiceNatAddrPortHitEcmp_action_spec_t ecmp{0x0102, 0xff, 0x0a0b};
    ASSERT_EQ(lib.p4_pd_olvane_switch_twiceNatAddrPort_set_default_action_twiceNatAddrPortHitEcmp(
                  7, kTarget, &ecmp, &defaultHandle),
              0);
    PdReadBack r;
    ASSERT_EQ(lib.p4_pd_olvane_switch_twiceNatAddrPort_get_entry(
                  7, kDev, handle, true, &r.match, r.actionName, r.actionSpec, nullptr, nullptr),
              0);
    ASSERT_EQ(lib.p4_pd_olvane_switch_twiceNatAddrPort_table_delete(7, kDev, handle), 0);
    ASSERT_EQ(lib.p4_pd_olvane_switch_twiceNatAddrPort_table_reset_default_entry(8, kTarget), 0);
    EXPECT_EQ(lib.p4_pd_olvane_switch_twiceNatAddrPort_table_add_with_onMiss(7, kTarget, nullptr,
                                                                             &handle),
              Chip::kInvalidArg);

    std::string h = std::to_string(handle);
    EXPECT_THAT(
        log.texts(),
        ElementsAre(
            pd("set_property(sess=7, dev_id=0, property=1, value=0)"),
            std::string(kAddHit) +
                "(sess=7, dev_tgt=[00 00 00 00 ff ff 00 00], match=[01 00 02 00 03 00], "
                "action=[01 00 06 -- 02 00])",
            pd("table_modify_with_onMiss(sess=7, dev_id=0, hdl=" + h + ")"),
            pd("set_default_action_twiceNatAddrPortHitEcmp(sess=7, dev_tgt=[00 00 00 00 ff ff "
               "00 00], action=[02 01 ff -- 0b 0a])"),
            pd("get_entry(sess=7, dev_id=0, hdl=" + h + ", read_from_hw=1, hit_count=null)"),
            pd("table_delete(sess=7, dev_id=0, hdl=" + h + ")"),
            pd("table_reset_default_entry(sess=8, dev_tgt=[00 00 00 00 ff ff 00 00])"),
            pd("table_add_with_onMiss(sess=7, dev_tgt=[00 00 00 00 ff ff 00 00], match=null)")));
    EXPECT_EQ(callLog()[1].function, kAddHit);
}

TEST_F(TestHooksTest, ObjectCallsAreLoggedWithKeysAndData) {
    using namespace bfrt;
    OlvaneBfRtTable& table = *deviceObjects(kDev).table;
    const BfRtSession& session = *deviceObjects(kDev).tableIntf->bfRtSessionGet();
    std::unique_ptr<BfRtTableKey> key;
    std::unique_ptr<BfRtTableData> data;
    std::unique_ptr<BfRtTableAttributes> scope;
    ASSERT_EQ(table.keyAllocate(&key), 0);
    ASSERT_EQ(table.dataAllocate(&data), 0);

    ScopedCallLog log;
    ASSERT_EQ(table.attributeAllocate(TableAttributesType::EntryScope, &scope), 0);
    ASSERT_EQ(scope->entryScopeParamsSet(TableEntryScope::SinglePipeline), 0);
    ASSERT_EQ(table.tableAttributesSet(session, {kDev, 1}, *scope), 0);
    ASSERT_EQ(key->setValue(1, 1), 0);
    ASSERT_EQ(table.dataReset(102, data.get()), 0);
    ASSERT_EQ(data->setValue(12, 6), 0);
    uint32_t handle = 0;
    ASSERT_EQ(table.tableEntryAdd(session, {kDev, 1}, *key, *data, &handle), 0);
    ASSERT_EQ(table.dataReset(101, data.get()), 0);
    ASSERT_EQ(table.tableEntryMod(session, {kDev, 1}, 0x20, handle, *data), 0);
    ASSERT_EQ(table.tableEntryGet(session, {kDev, 1}, 0, handle, key.get(), data.get()), 0);
    uint32_t actionId = 0;
    uint64_t value = 0;
    ASSERT_EQ(data->actionIdGet(&actionId), 0);
    ASSERT_EQ(key->getValue(1, &value), 0);
    ASSERT_EQ(table.tableEntryDel(session, {kDev, 1}, handle), 0);

    std::string s = std::to_string(session.sessHandleGet());
    std::string h = std::to_string(handle);
    std::string t = "OlvaneBfRtTable::";
    std::string pipe1 = "target=[00 00 00 00 01 00 00 00]";
    EXPECT_THAT(log.texts(),
                ElementsAre(t + "attributeAllocate(table=twiceNatAddrPort, type=0)",
                            "BfRtTableAttributes::entryScopeParamsSet(scope=1)",
                            t + "tableAttributesSet(table=twiceNatAddrPort, sess=" + s + ", " +
                                pipe1 + ", scope=1)",
                            "BfRtTableKey::setValue(field=1, value=1)",
                            t + "dataReset(table=twiceNatAddrPort, action=102)",
                            "BfRtTableData::setValue(field=12, value=6)",
                            t + "tableEntryAdd(table=twiceNatAddrPort, sess=" + s + ", " + pipe1 +
                                ", key=[1:1 2:0 3:0], data=[action=102 11:0 12:6 13:0])",
                            t + "dataReset(table=twiceNatAddrPort, action=101)",
                            t + "tableEntryMod(table=twiceNatAddrPort, sess=" + s + ", " + pipe1 +
                                ", flags=32, hdl=" + h + ", data=[action=101])",
                            t + "tableEntryGet(table=twiceNatAddrPort, sess=" + s + ", " + pipe1 +
                                ", flags=0, hdl=" + h + ")",
                            "BfRtTableData::actionIdGet()", "BfRtTableKey::getValue(field=1)",
                            t + "tableEntryDel(table=twiceNatAddrPort, sess=" + s + ", " + pipe1 +
                                ", hdl=" + h + ")"));
}

TEST_F(TestHooksTest, NothingIsLoggedWhileTheLogIsOff) {
    p4_pd_entry_hdl_t handle = 0;
    ASSERT_FALSE(callLogEnabled());
    ASSERT_EQ(lib.p4_pd_olvane_switch_twiceNatAddrPort_table_add_with_onMiss(7, kTarget, &kMatch,
                                                                             &handle),
              0);
    EXPECT_THAT(callLog(), IsEmpty());
    {
        ScopedCallLog log;
        ASSERT_EQ(lib.p4_pd_olvane_switch_twiceNatAddrPort_table_delete(7, kDev, handle), 0);
        EXPECT_EQ(log.texts().size(), 1u);
    }
    ASSERT_EQ(lib.p4_pd_olvane_switch_twiceNatAddrPort_table_add_with_onMiss(7, kTarget, &kMatch,
                                                                             &handle),
              0);
    EXPECT_THAT(callLog(), IsEmpty());
}

TEST_F(TestHooksTest, InjectedFaultsLeaveTableAndOutputsUntouched) {
    auto spec = hitSpec(1, 6, 2);
    faultIs(kAddHit, 2, Chip::kTryAgain);
    EXPECT_EQ(faultsPending(kAddHit), 2u);
    ScopedCallLog log;
    p4_pd_entry_hdl_t handle = 0;
    ASSERT_EQ(lib.p4_pd_olvane_switch_twiceNatAddrPort_table_add_with_onMiss(1, kTarget, &kMatch,
                                                                             &handle),
              0)
        << "other functions are not faulted";
    ASSERT_EQ(lib.p4_pd_olvane_switch_twiceNatAddrPort_table_delete(1, kDev, handle), 0);
    handle = 0xDEAD;
    for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_EQ(lib.p4_pd_olvane_switch_twiceNatAddrPort_table_add_with_twiceNatAddrPortHit(
                      1, kTarget, &kMatch, &spec, &handle),
                  Chip::kTryAgain);
        EXPECT_EQ(handle, 0xDEADu);
    }
    EXPECT_EQ(Chip::open(kDev).entryCount(), 0u);
    EXPECT_EQ(faultsPending(kAddHit), 0u);
    EXPECT_EQ(lib.p4_pd_olvane_switch_twiceNatAddrPort_table_add_with_twiceNatAddrPortHit(
                  1, kTarget, &kMatch, &spec, &handle),
              0)
        << "the fault is used up";
    EXPECT_EQ(log.texts().size(), 5u) << "faulted calls are logged too";

    faultIs(pd("get_entry"), 1, Chip::kObjectNotFound);
    PdReadBack r = pdRead(lib, kDev, handle);
    EXPECT_EQ(r.status, Chip::kObjectNotFound);
    EXPECT_EQ(r.hitCount, 99u);
    EXPECT_EQ(r.actionName[0], '\0');
    EXPECT_EQ(pdRead(lib, kDev, handle).status, 0);
}

TEST_F(TestHooksTest, ObjectCallsCanBeFaulted) {
    using namespace bfrt;
    OlvaneBfRtTable& table = *deviceObjects(kDev).table;
    std::unique_ptr<BfRtTableKey> key;
    ASSERT_EQ(table.keyAllocate(&key), 0);
    ASSERT_EQ(key->setValue(2, 5), 0);
    faultIs("BfRtTableKey::setValue", 1, Chip::kNoSpace);
    EXPECT_EQ(key->setValue(2, 9), Chip::kNoSpace);
    uint64_t value = 0;
    ASSERT_EQ(key->getValue(2, &value), 0);
    EXPECT_EQ(value, 5u) << "a faulted setValue stores nothing";

    faultIs("OlvaneBfRtTable::keyAllocate", 1, Chip::kNoSysResources);
    BfRtTableKey* held = key.get();
    EXPECT_EQ(table.keyAllocate(&key), Chip::kNoSysResources);
    EXPECT_EQ(key.get(), held);

    faultIs("OlvaneBfRtTable::deviceTargetIs", 3, Chip::kTryAgain);
    faultIs("OlvaneBfRtTable::deviceTargetIs", 0, Chip::kTryAgain);
    EXPECT_EQ(table.deviceTargetIs({kDev, 0xFFFF}), 0) << "a count of 0 disarms the fault";
}

TEST_F(TestHooksTest, FaultsNeedAKnownFunctionAndAFailure) {
    EXPECT_THROW(faultIs("p4_pd_olvane_switch_twiceNatAddrPort_table_add", 1, 9),
                 std::invalid_argument);
    EXPECT_THROW(faultIs(kAddHit, 1, 0), std::invalid_argument);
    faultIs(kAddHit, 1, Chip::kNoSpace);
    reset();
    EXPECT_EQ(faultsPending(kAddHit), 0u);
}

}  // namespace
