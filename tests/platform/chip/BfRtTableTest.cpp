// The object runtime over the chip: ids, argument checks, entry calls, scope, and the
// same entries seen through the PD library.
#include <gmock/gmock.h>

#include <set>

#include "PdLibrary.h"
#include "chip/bfrt.h"

namespace {

using namespace ChipTest;
using namespace bfrt;
using ::testing::StrEq;

[[maybe_unused]] const bool kEnvironment = registerChipEnvironment();

constexpr uint32_t kDev = 3;
constexpr BfRtTarget kAllPipes{kDev, 0xFFFF};

struct ActionIds {
    uint32_t action = 0;
    uint32_t rwId = 0, prot = 0, param = 0;
};

class BfRtTableTest : public ChipFixture {
  protected:
    void SetUp() override {
        ChipFixture::SetUp();
        ASSERT_EQ(table.keyAllocate(&key), 0);
        ASSERT_EQ(table.dataAllocate(&data), 0);
    }

    ActionIds ids(const std::string& action, const char* param = "nextHop") const {
        ActionIds ids;
        EXPECT_EQ(table.actionIdGet(action, &ids.action), 0);
        if (action != "onMiss") {
            EXPECT_EQ(table.dataFieldIdGet("rwId", ids.action, &ids.rwId), 0);
            EXPECT_EQ(table.dataFieldIdGet("prot", ids.action, &ids.prot), 0);
            EXPECT_EQ(table.dataFieldIdGet(param, ids.action, &ids.param), 0);
        }
        return ids;
    }

    void keyIs(uint64_t natKeyId, uint64_t src, uint64_t dst) {
        ASSERT_EQ(key->setValue(1, natKeyId), 0);
        ASSERT_EQ(key->setValue(2, src), 0);
        ASSERT_EQ(key->setValue(3, dst), 0);
    }

    void dataIs(const ActionIds& a, uint64_t rwId, uint64_t prot, uint64_t param) {
        ASSERT_EQ(table.dataReset(a.action, data.get()), 0);
        if (a.rwId != 0) {
            ASSERT_EQ(data->setValue(a.rwId, rwId), 0);
            ASSERT_EQ(data->setValue(a.prot, prot), 0);
            ASSERT_EQ(data->setValue(a.param, param), 0);
        }
    }

    uint64_t keyField(uint32_t id) const {
        uint64_t value = 0;
        EXPECT_EQ(key->getValue(id, &value), 0);
        return value;
    }

    uint64_t dataField(uint32_t id) const {
        uint64_t value = 0;
        EXPECT_EQ(data->getValue(id, &value), 0);
        return value;
    }

    uint32_t actionRead() const {
        uint32_t id = 0;
        EXPECT_EQ(data->actionIdGet(&id), 0);
        return id;
    }

    OlvaneBfRtTable& table = *deviceObjects(kDev).table;
    const BfRtSession& session = *deviceObjects(kDev).tableIntf->bfRtSessionGet();
    std::unique_ptr<BfRtTableKey> key;
    std::unique_ptr<BfRtTableData> data;
};

TEST_F(BfRtTableTest, IdsResolveByNameAndAreAllDistinct) {
    uint32_t id = 0;
    const char* keyNames[] = {"ingMdNatKeyId", "l4PortHdrSrcPort", "l4PortHdrDstPort"};
    for (uint32_t i = 0; i < 3; ++i) {
        ASSERT_EQ(table.keyFieldIdGet(keyNames[i], &id), 0);
        EXPECT_EQ(id, i + 1);
    }
    std::set<uint32_t> actions, fields;
    actions.insert(ids("onMiss").action);
    for (auto [name, param] : {std::pair{"twiceNatAddrPortHit", "nextHop"},
                               {"twiceNatAddrPortHitDynamic", "nextHop"},
                               {"twiceNatAddrPortHitEcmp", "ecmpGroup"},
                               {"twiceNatAddrPortHitEcmpDynamic", "ecmpGroup"}}) {
        ActionIds a = ids(name, param);
        actions.insert(a.action);
        fields.insert({a.rwId, a.prot, a.param});
    }
    EXPECT_EQ(actions.size(), 5u);
    EXPECT_EQ(fields.size(), 12u);
    EXPECT_EQ(table.keyFieldIdGet("nextHop", &id), Chip::kObjectNotFound);
    EXPECT_EQ(table.actionIdGet("hit", &id), Chip::kObjectNotFound);
    EXPECT_EQ(
        table.dataFieldIdGet("nextHop", ids("twiceNatAddrPortHitEcmp", "ecmpGroup").action, &id),
        Chip::kObjectNotFound)
        << "ECMP actions carry a group, not a next hop";
    EXPECT_EQ(table.dataFieldIdGet("rwId", ids("onMiss").action, &id), Chip::kObjectNotFound);
}

TEST_F(BfRtTableTest, KeyAndDataRefuseWrongIdsAndWideValues) {
    ActionIds hit = ids("twiceNatAddrPortHit");
    ActionIds dynamic = ids("twiceNatAddrPortHitDynamic");
    EXPECT_EQ(key->setValue(0, 1), Chip::kInvalidArg);
    EXPECT_EQ(key->setValue(4, 1), Chip::kInvalidArg);
    EXPECT_EQ(key->setValue(2, 0x10000), Chip::kInvalidArg);
    EXPECT_EQ(key->setValue(2, 0xFFFF), 0);
    EXPECT_EQ(data->setValue(hit.rwId, 1), Chip::kInvalidArg) << "no action bound yet";
    ASSERT_EQ(table.dataReset(hit.action, data.get()), 0);
    EXPECT_EQ(data->setValue(hit.prot, 0x100), Chip::kInvalidArg);
    EXPECT_EQ(data->setValue(hit.prot, 0xFF), 0);
    EXPECT_EQ(data->setValue(hit.param, 0x10000), Chip::kInvalidArg);
    EXPECT_EQ(data->setValue(dynamic.rwId, 1), Chip::kInvalidArg) << "another action's field";
    uint64_t value = 0;
    EXPECT_EQ(data->getValue(dynamic.prot, &value), Chip::kInvalidArg);
    EXPECT_EQ(table.dataReset(999, data.get()), Chip::kInvalidArg);
    uint32_t handle = 0;
    ASSERT_EQ(table.dataReset(data.get()), 0);
    EXPECT_EQ(table.tableEntryAdd(session, kAllPipes, *key, *data, &handle), Chip::kInvalidArg)
        << "data without an action";
    EXPECT_EQ(table.tableEntryAdd(session, {kDev, 0x1FFFF}, *key, *data, &handle),
              Chip::kInvalidArg);
}

struct ObjectActionCase {
    const char* action;
    const char* param;
};

class BfRtActionTest : public BfRtTableTest,
                       public ::testing::WithParamInterface<ObjectActionCase> {};

TEST_P(BfRtActionTest, EntryIsAddedModifiedReadAndDeleted) {
    ActionIds a = ids(GetParam().action, GetParam().param);
    ActionIds ecmp = ids("twiceNatAddrPortHitEcmp", "ecmpGroup");
    keyIs(0xFFFF, 2, 3);
    dataIs(a, 0x1234, 6, 0xBEEF);
    uint32_t handle = 0;
    ASSERT_EQ(table.tableEntryAdd(session, kAllPipes, *key, *data, &handle), 0);
    ASSERT_NE(handle, 0u);

    ASSERT_EQ(table.keyReset(key.get()), 0);
    ASSERT_EQ(table.dataReset(data.get()), 0);
    ASSERT_EQ(table.tableEntryGet(session, kAllPipes, 0, handle, key.get(), data.get()), 0);
    EXPECT_EQ(keyField(1), 0xFFFFu);
    EXPECT_EQ(keyField(2), 2u);
    EXPECT_EQ(keyField(3), 3u);
    EXPECT_EQ(actionRead(), a.action);
    if (a.rwId != 0) {
        EXPECT_EQ(dataField(a.rwId), 0x1234u);
        EXPECT_EQ(dataField(a.prot), 6u);
        EXPECT_EQ(dataField(a.param), 0xBEEFu);
    }

    dataIs(ecmp, 1, 2, 3);
    ASSERT_EQ(table.tableEntryMod(session, kAllPipes, 0x20, handle, *data), 0);
    dataIs(a, 0, 0, 0);
    ASSERT_EQ(table.tableEntryGet(session, kAllPipes, 0, handle, key.get(), data.get()), 0);
    EXPECT_EQ(actionRead(), ecmp.action);
    EXPECT_EQ(dataField(ecmp.param), 3u);

    ASSERT_EQ(table.tableEntryDel(session, kAllPipes, handle), 0);
    EXPECT_EQ(table.tableEntryGet(session, kAllPipes, 0, handle, key.get(), data.get()),
              Chip::kObjectNotFound);
    EXPECT_EQ(table.tableEntryMod(session, kAllPipes, 0x20, handle, *data), Chip::kObjectNotFound);
    EXPECT_EQ(table.tableEntryDel(session, kAllPipes, handle), Chip::kObjectNotFound);
}

TEST_P(BfRtActionTest, DefaultEntryKeepsItsHandleAndResets) {
    ActionIds a = ids(GetParam().action, GetParam().param);
    ActionIds onMiss = ids("onMiss");
    dataIs(a, 9, 8, 7);
    uint32_t first = 0, second = 0;
    ASSERT_EQ(table.tableDefaultEntrySet(session, kAllPipes, 0x20, *data, &first), 0);
    ASSERT_EQ(table.tableDefaultEntrySet(session, kAllPipes, 0x20, *data, &second), 0);
    EXPECT_EQ(first, second);
    ASSERT_EQ(table.tableEntryGet(session, kAllPipes, 0, first, key.get(), data.get()), 0);
    EXPECT_EQ(actionRead(), a.action);
    ASSERT_EQ(table.tableDefaultEntryReset(session, kAllPipes), 0);
    ASSERT_EQ(table.tableEntryGet(session, kAllPipes, 0, first, key.get(), data.get()), 0);
    EXPECT_EQ(actionRead(), onMiss.action);
    EXPECT_EQ(table.tableEntryDel(session, kAllPipes, first), Chip::kInvalidArg);
}

INSTANTIATE_TEST_SUITE_P(
    Actions, BfRtActionTest,
    ::testing::Values(ObjectActionCase{"onMiss", ""},
                      ObjectActionCase{"twiceNatAddrPortHit", "nextHop"},
                      ObjectActionCase{"twiceNatAddrPortHitDynamic", "nextHop"},
                      ObjectActionCase{"twiceNatAddrPortHitEcmp", "ecmpGroup"},
                      ObjectActionCase{"twiceNatAddrPortHitEcmpDynamic", "ecmpGroup"}),
    [](const auto& info) { return std::string(info.param.action); });

TEST_F(BfRtTableTest, DuplicateAndFullComeFromTheChip) {
    Chip::open(kDev, 16);
    keyIs(1, 2, 3);
    dataIs(ids("onMiss"), 0, 0, 0);
    uint32_t handle = 0;
    ASSERT_EQ(table.tableEntryAdd(session, kAllPipes, *key, *data, &handle), 0);
    EXPECT_EQ(table.tableEntryAdd(session, kAllPipes, *key, *data, &handle), Chip::kAlreadyExists);
    Chip::Status st = 0;
    for (uint64_t n = 10; st == 0 && n < 100; ++n) {
        keyIs(n, n * 3, 3);
        st = table.tableEntryAdd(session, kAllPipes, *key, *data, &handle);
    }
    EXPECT_EQ(st, Chip::kNoSpace);
}

TEST_F(BfRtTableTest, EntryScopeAttributeSplitsThePipes) {
    std::unique_ptr<BfRtTableAttributes> scope;
    ASSERT_EQ(table.attributeAllocate(TableAttributesType::EntryScope, &scope), 0);
    ASSERT_EQ(scope->entryScopeParamsSet(TableEntryScope::SinglePipeline), 0);
    ASSERT_EQ(table.tableAttributesSet(session, {kDev, 1}, *scope), 0);
    EXPECT_EQ(Chip::open(kDev).entryScope(), Chip::EntryScope::SinglePipe);

    keyIs(1, 2, 3);
    dataIs(ids("twiceNatAddrPortHit"), 1, 6, 2);
    uint32_t pipe1 = 0, pipe2 = 0;
    ASSERT_EQ(table.tableEntryAdd(session, {kDev, 1}, *key, *data, &pipe1), 0);
    ASSERT_EQ(table.tableEntryAdd(session, {kDev, 2}, *key, *data, &pipe2), 0);
    EXPECT_EQ(table.tableEntryGet(session, {kDev, 2}, 0, pipe1, key.get(), data.get()),
              Chip::kObjectNotFound)
        << "an entry is found in its own pipe only";
    EXPECT_EQ(table.tableEntryDel(session, {kDev, 1}, pipe2), Chip::kObjectNotFound);
    EXPECT_EQ(table.tableEntryAdd(session, kAllPipes, *key, *data, &pipe1), Chip::kInvalidArg);

    ASSERT_EQ(scope->entryScopeParamsSet(TableEntryScope::AllPipelines), 0);
    EXPECT_EQ(table.tableAttributesSet(session, kAllPipes, *scope), Chip::kInvalidArg)
        << "entries are installed";
}

TEST_F(BfRtTableTest, EntriesAreSharedWithThePdLibrary) {
    PdLibrary pd;
    p4_pd_olvane_switch_twiceNatAddrPortHitEcmp_action_spec_t spec{};
    spec.action_rw_id = 0x0102;
    spec.action_prot = 17;
    spec.action_ecmp_group = 0x0304;
    p4_pd_olvane_switch_twiceNatAddrPort_match_spec_t match{10, 20, 30};
    p4_pd_entry_hdl_t pdHandle = 0;
    ASSERT_EQ(pd.p4_pd_olvane_switch_twiceNatAddrPort_table_add_with_twiceNatAddrPortHitEcmp(
                  1, {kDev, 0xFFFF, 0}, &match, &spec, &pdHandle),
              0);
    ActionIds ecmp = ids("twiceNatAddrPortHitEcmp", "ecmpGroup");
    ASSERT_EQ(table.tableEntryGet(session, kAllPipes, 0, pdHandle, key.get(), data.get()), 0);
    EXPECT_EQ(keyField(2), 20u);
    EXPECT_EQ(actionRead(), ecmp.action);
    EXPECT_EQ(dataField(ecmp.rwId), 0x0102u);
    EXPECT_EQ(dataField(ecmp.prot), 17u);
    EXPECT_EQ(dataField(ecmp.param), 0x0304u);

    keyIs(11, 21, 31);
    dataIs(ids("twiceNatAddrPortHitDynamic"), 5, 6, 7);
    uint32_t objectHandle = 0;
    ASSERT_EQ(table.tableEntryAdd(session, kAllPipes, *key, *data, &objectHandle), 0);
    PdReadBack r = pdRead(pd, kDev, objectHandle);
    ASSERT_EQ(r.status, 0);
    EXPECT_THAT(r.actionName, StrEq("p4_pd_olvane_switch_twiceNatAddrPortHitDynamic"));
    EXPECT_EQ(r.match.l4_port_hdr_src_port, 21);
    EXPECT_EQ(r.actionSpec[4], 7);

    p4_pd_entry_hdl_t pdDefault = 0;
    uint32_t objectDefault = 0;
    ASSERT_EQ(pd.p4_pd_olvane_switch_twiceNatAddrPort_set_default_action_onMiss(
                  1, {kDev, 0xFFFF, 0}, &pdDefault),
              0);
    ASSERT_EQ(table.tableDefaultEntrySet(session, kAllPipes, 0x20, *data, &objectDefault), 0);
    EXPECT_EQ(objectDefault, pdDefault) << "one default entry, whichever interface sets it";
}

class OtherTableTypeTest : public ChipFixture, public ::testing::WithParamInterface<TableType> {};

TEST_P(OtherTableTypeTest, BuildsKeysAndDataButHoldsNoEntries) {
    OlvaneBfRtTable other(GetParam(), "other");
    const BfRtSession& session = *deviceObjects(kDev).tableIntf->bfRtSessionGet();
    TableType type{};
    ASSERT_EQ(other.tableTypeGet(&type), 0);
    EXPECT_EQ(type, GetParam());
    std::unique_ptr<BfRtTableKey> key;
    std::unique_ptr<BfRtTableData> data;
    std::unique_ptr<BfRtTableAttributes> attributes;
    EXPECT_EQ(other.keyAllocate(&key), 0);
    EXPECT_EQ(other.dataAllocate(&data), 0);
    EXPECT_EQ(other.deviceTargetIs({kDev, 2}), 0);
    EXPECT_EQ(other.deviceTarget().pipe_id, 2u);
    ASSERT_EQ(other.attributeAllocate(TableAttributesType::EntryScope, &attributes), 0);
    EXPECT_EQ(other.tableAttributesSet(session, kAllPipes, *attributes), Chip::kNotSupported);
    ASSERT_EQ(other.dataReset(101, data.get()), 0);
    uint32_t handle = 0;
    EXPECT_EQ(other.tableEntryAdd(session, kAllPipes, *key, *data, &handle), Chip::kNotSupported);
    EXPECT_EQ(other.tableDefaultEntrySet(session, kAllPipes, 0, *data, &handle),
              Chip::kNotSupported);
    EXPECT_EQ(Chip::open(kDev).entryCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Types, OtherTableTypeTest,
                         ::testing::Values(TableType::ActionProfile, TableType::Selector,
                                           TableType::Register),
                         [](const auto& info) {
                             return "Type" + std::to_string(static_cast<uint32_t>(info.param));
                         });

TEST_F(BfRtTableTest, EntryCallsAllocateNoObjects) {
    auto before = Chip::TestHooks::allocationCounts();
    std::unique_ptr<BfRtTableKey> extraKey;
    std::unique_ptr<BfRtTableAttributes> attributes;
    ASSERT_EQ(table.keyAllocate(&extraKey), 0);
    ASSERT_EQ(table.attributeAllocate(TableAttributesType::EntryScope, &attributes), 0);
    auto allocated = Chip::TestHooks::allocationCounts();
    EXPECT_EQ(allocated.keys.live, before.keys.live + 1);
    EXPECT_EQ(allocated.keys.total, before.keys.total + 1);
    EXPECT_EQ(allocated.attributes.live, before.attributes.live + 1);
    extraKey.reset();
    attributes.reset();
    auto released = Chip::TestHooks::allocationCounts();
    EXPECT_EQ(released.keys.live, before.keys.live);
    EXPECT_EQ(released.keys.total, before.keys.total + 1);
    EXPECT_EQ(released.attributes.live, before.attributes.live);

    ActionIds hit = ids("twiceNatAddrPortHit");
    for (uint64_t n = 0; n < 50; ++n) {
        keyIs(n, 1, 1);
        dataIs(hit, n, 6, n);
        uint32_t handle = 0;
        ASSERT_EQ(table.tableEntryAdd(session, kAllPipes, *key, *data, &handle), 0);
        ASSERT_EQ(table.tableEntryMod(session, kAllPipes, 0x20, handle, *data), 0);
        ASSERT_EQ(table.tableEntryGet(session, kAllPipes, 0, handle, key.get(), data.get()), 0);
        ASSERT_EQ(table.tableEntryDel(session, kAllPipes, handle), 0);
    }
    auto after = Chip::TestHooks::allocationCounts();
    EXPECT_EQ(after.keys.total, released.keys.total);
    EXPECT_EQ(after.data.total, released.data.total);
}

TEST_F(BfRtTableTest, PdLibraryHandsOutTheDeviceObjects) {
    PdLibrary pd;
    auto infoGet =
        pd.lib.symbol<decltype(olvane_switch_bfrt_info_get)>(OLVANE_SWITCH_BFRT_INFO_GET_SYMBOL);
    DeviceObjects& objects = deviceObjects(kDev);
    objects.secondTable = std::make_unique<OlvaneBfRtTable>(TableType::Selector, "selector");
    olvane_switch_bfrt_info_t info{};
    ASSERT_EQ(infoGet(kDev, &info), 0);
    EXPECT_EQ(info.table, objects.table.get());
    EXPECT_EQ(info.table_intf, objects.tableIntf.get());
    EXPECT_EQ(info.second_table, objects.secondTable.get());
    EXPECT_EQ(info.third_table, nullptr);
    ASSERT_EQ(infoGet(kDev + 1, &info), 0);
    EXPECT_NE(info.table, objects.table.get()) << "each device has its own objects";
    auto* intf = static_cast<BfRt::BfRtTableIntf*>(info.table_intf);
    EXPECT_NE(intf->bfRtSessionGet(), nullptr);
    EXPECT_EQ(infoGet(kDev, nullptr), Chip::kInvalidArg);
    objects.secondTable.reset();
}

}  // namespace
