// The PD library as loaded with dlopen: each action's exact structure bytes, statuses
// from real table conditions, sessions, listing, and the fault injection that other
// suites rely on. Its object runtime: ids, argument checks, entry calls and scope. The
// table library's suites pin the call log's texts and read what either backend programs
// through the PD functions too; the crash and corruption harnesses, entries that outlive
// their process.
#include <gmock/gmock.h>

#include <array>
#include <cstring>
#include <tuple>

#include "PdLibrary.h"
#include "chip/SimBfRt.h"
#include "sdk/SimControl.h"

namespace {

using namespace ChipTest;
using namespace Chip::TestHooks;
using namespace bfrt;
using ::testing::ElementsAre;
using MatchSpec = p4_pd_olvane_switch_twiceNatAddrPort_match_spec_t;
using Handle = p4_pd_entry_hdl_t;

constexpr uint8_t kDev = 2;
constexpr p4_pd_dev_target_t kAll{kDev, 0xFFFF, 0};
constexpr MatchSpec kMatch{1, 2, 3};

using HitSpec = p4_pd_olvane_switch_twiceNatAddrPortHit_action_spec_t;

HitSpec hitSpec(Params p) {
    HitSpec spec;
    std::memset(&spec, 0x5C, sizeof spec);  // padding must not leak into the chip
    spec.action_rw_id = p.rwId;
    spec.action_prot = p.prot;
    spec.action_next_hop = p.param;
    return spec;
}

p4_pd_status_t addHit(const SharedLibrary& pd, const MatchSpec* match, Params p, Handle* handle,
                      p4_pd_dev_target_t target = kAll) {
    const auto spec = hitSpec(p);
    return PD(pd, table_add_with_twiceNatAddrPortHit)(1, target, match, &spec, handle);
}

class PdLibraryTest : public ChipFixture {
  protected:
    SharedLibrary pd{kPdLibrary};
};

TEST_F(PdLibraryTest, EntriesAndTheDefaultReadBackWithTheirExactBytes) {
    Handle handle = 0, refused = 0, defaultHandle = 0;
    ASSERT_EQ(addHit(pd, &kMatch, {0x0201, 6, 0x0403}, &handle), 0);
    PdReadBack r = pdRead(pd, kDev, handle);
    expectAction(r, "twiceNatAddrPortHit", {0x0201, 6, 0x0403});
    EXPECT_EQ(std::memcmp(&r.match, "\x01\0\x02\0\x03\0", 6), 0) << "little-endian fields";
    EXPECT_EQ(r.hitCount, 0u);
    EXPECT_EQ(r.isDefault, 0);
    ASSERT_EQ(PD(pd, table_modify_with_onMiss)(1, kDev, handle), 0);
    expectAction(pdRead(pd, kDev, handle), "onMiss", {});
    // Each action's own functions are the table library's action test; here the default
    // is one entry, flagged as the default, whichever action sets it.
    Handle first = 0;
    ASSERT_EQ(PD(pd, set_default_action_onMiss)(1, kAll, &first), 0);
    const auto hit = hitSpec({5, 6, 7});
    ASSERT_EQ(PD(pd, set_default_action_twiceNatAddrPortHit)(1, kAll, &hit, &defaultHandle), 0);
    EXPECT_EQ(defaultHandle, first) << "one default entry";
    r = pdRead(pd, kDev, defaultHandle);
    expectAction(r, "twiceNatAddrPortHit", {5, 6, 7});
    EXPECT_EQ(r.isDefault, 1);
    ASSERT_EQ(PD(pd, table_reset_default_entry)(1, kAll), 0);
    expectAction(pdRead(pd, kDev, defaultHandle), "onMiss", {});

    // The checks every action's functions share, through one template in the library.
    EXPECT_EQ(PD(pd, table_add_with_onMiss)(1, kAll, &kMatch, &refused), Chip::kAlreadyExists);
    EXPECT_EQ(refused, 0u) << "a refused add writes no handle";
    EXPECT_EQ(addHit(pd, nullptr, {}, &refused), Chip::kInvalidArg);
    EXPECT_EQ(addHit(pd, &kMatch, {}, nullptr), Chip::kInvalidArg);
    EXPECT_EQ(PD(pd, set_default_action_twiceNatAddrPortHit)(1, kAll, &hit, nullptr),
              Chip::kInvalidArg);
    EXPECT_EQ(addHit(pd, &kMatch, {}, &refused, {Chip::kMaxDevices, 0xFFFF, 0}), Chip::kInvalidArg);
    ASSERT_EQ(PD(pd, table_delete)(1, kDev, handle), 0);
    EXPECT_EQ(PD(pd, table_modify_with_onMiss)(1, kDev, handle), Chip::kObjectNotFound);
    EXPECT_EQ(PD(pd, table_delete)(1, kDev, handle), Chip::kObjectNotFound);
    EXPECT_EQ(pdRead(pd, kDev, handle).status, Chip::kObjectNotFound);
    EXPECT_EQ(PD(pd, set_property)(1, kDev, 2, 0), Chip::kNotSupported) << "only the scope";
    EXPECT_EQ(PD(pd, set_property)(1, kDev, 1, 2), Chip::kInvalidArg);
}

TEST_F(PdLibraryTest, InjectedFaultsLeaveTableAndOutputsUntouched) {
    const std::string addHitName =
        "p4_pd_olvane_switch_twiceNatAddrPort_table_add_with_twiceNatAddrPortHit";
    faultIs(addHitName, 2, Chip::kTryAgain);
    ScopedCallLog log;
    Handle handle = 0xDEAD;
    EXPECT_EQ(addHit(pd, &kMatch, {}, &handle), Chip::kTryAgain);
    EXPECT_EQ(PD(pd, set_default_action_onMiss)(1, kAll, &handle), 0) << "others are not";
    handle = 0xDEAD;
    EXPECT_EQ(addHit(pd, &kMatch, {}, &handle), Chip::kTryAgain);
    EXPECT_EQ(handle, 0xDEADu);
    EXPECT_EQ(Chip::open(kDev).entryCount(), 0u);
    EXPECT_EQ(addHit(pd, &kMatch, {}, &handle), 0) << "the fault is used up";
    EXPECT_EQ(log.texts().size(), 4u) << "faulted calls are logged too";
    faultIs("p4_pd_olvane_switch_twiceNatAddrPort_get_entry", 1, Chip::kObjectNotFound);
    const PdReadBack r = pdRead(pd, kDev, handle);
    EXPECT_EQ(r.status, Chip::kObjectNotFound);
    EXPECT_EQ(r.hitCount, 99u);
    EXPECT_EQ(r.actionName[0], '\0');
    EXPECT_EQ(pdRead(pd, kDev, handle).status, 0);
}

// A session is served from client_init to client_cleanup; every call with another
// handle is refused with 8 and changes nothing.
TEST_F(PdLibraryTest, OnlyOpenSessionsAreServed) {
    const auto init =
        pd.symbol<decltype(p4_pd_olvane_switch_client_init)>("p4_pd_olvane_switch_client_init");
    const auto cleanup = pd.symbol<decltype(p4_pd_olvane_switch_client_cleanup)>(
        "p4_pd_olvane_switch_client_cleanup");
    p4_pd_sess_hdl_t sess = 0;
    ASSERT_EQ(init(&sess), 0);
    const p4_pd_olvane_switch_twiceNatAddrPortHit_action_spec_t spec{1, 6, 2};
    Handle handle = 0, out = 0;
    ASSERT_EQ(PD(pd, table_add_with_twiceNatAddrPortHit)(sess, kAll, &kMatch, &spec, &handle), 0);
    ASSERT_EQ(cleanup(sess), 0);
    EXPECT_EQ(cleanup(sess), Chip::kSessionNotFound);
    uint32_t count = 0;
    PdReadBack r;
    const p4_pd_status_t statuses[] = {
        PD(pd, set_property)(sess, kDev, 1, 0),
        PD(pd, table_add_with_onMiss)(sess, kAll, &kMatch, &out),
        PD(pd, table_modify_with_onMiss)(sess, kDev, handle),
        PD(pd, set_default_action_onMiss)(sess, kAll, &out),
        PD(pd, table_delete)(sess, kDev, handle),
        PD(pd, table_reset_default_entry)(sess, kAll),
        PD(pd, get_entry)(sess, kDev, handle, false, &r.match, r.actionName, r.actionSpec, nullptr,
                          nullptr),
        PD(pd, get_entry_count)(sess, kAll, &count),
        PD(pd, get_entry_count)(0, kAll, &count),
    };
    EXPECT_THAT(statuses, ::testing::Each(Chip::kSessionNotFound));
    EXPECT_EQ(pdRead(pd, kDev, handle).actionSpec[0], 1) << "the entry is as it was";
    // The lowest free handle is opened again; when none is free, 7.
    std::vector<p4_pd_sess_hdl_t> opened(1);
    ASSERT_EQ(init(&opened[0]), 0);
    EXPECT_EQ(opened[0], sess);
    p4_pd_status_t st = 0;
    while (st == 0 && opened.size() <= Chip::kMaxSessions) st = init(&opened.emplace_back());
    EXPECT_EQ(st, Chip::kMaxSessionsExceeded);
    opened.pop_back();
    for (p4_pd_sess_hdl_t h : opened) EXPECT_EQ(cleanup(h), 0);
    EXPECT_EQ(init(nullptr), Chip::kInvalidArg);
}

// Listing walks one scope in record order, without the default entry or a deleted one,
// in chunks of the size asked for; the simulator's control sees the same device and
// counts the listing apart from the writes.
TEST_F(PdLibraryTest, ListsTheEntriesOfAScopeAndTheControlCountsTheCalls) {
    auto& control = *pd.symbol<SimControl::Control*()>(OLVANE_SWITCH_SIM_CONTROL_SYMBOL)();
    control.callCountingIs(true);
    std::vector<Handle> h(5);
    for (uint16_t i = 0; i < h.size(); ++i) {
        const MatchSpec m{i, i, i};
        ASSERT_EQ(PD(pd, table_add_with_onMiss)(1, kAll, &m, &h[i]), 0);
    }
    Handle defaultHandle = 0, found = 0;
    ASSERT_EQ(PD(pd, set_default_action_onMiss)(1, kAll, &defaultHandle), 0);
    ASSERT_EQ(PD(pd, table_delete)(1, kDev, h[2]), 0);

    uint32_t count = 0, returned = 0;
    ASSERT_EQ(PD(pd, get_entry_count)(1, kAll, &count), 0);
    EXPECT_EQ(count, 4u);
    ASSERT_EQ(PD(pd, get_first_entry_handle)(1, kAll, &found), 0);
    EXPECT_EQ(found, h[0]);
    std::vector<Handle> next(8, 0);
    const auto getNext = PD(pd, get_next_entry_handles);
    ASSERT_EQ(getNext(1, kAll, h[0], 2, next.data(), &returned), 0);
    EXPECT_EQ(returned, 2u);
    EXPECT_THAT(std::vector(next.begin(), next.begin() + 3), ElementsAre(h[1], h[3], 0u))
        << "n bounds the chunk";
    ASSERT_EQ(getNext(1, kAll, h[3], 8, next.data(), &returned), 0);
    EXPECT_EQ(std::tuple(returned, next[0]), std::tuple(1u, h[4]));
    EXPECT_EQ(getNext(1, kAll, h[2], 8, next.data(), &returned), Chip::kObjectNotFound)
        << "a deleted handle";
    ASSERT_EQ(PD(pd, table_get_default_entry_handle)(1, kAll, &found), 0);
    EXPECT_EQ(found, defaultHandle);
    EXPECT_EQ(PD(pd, get_first_entry_handle)(1, {kDev, 1, 0}, &found), Chip::kObjectNotFound)
        << "another scope";

    SimControl::DeviceInfo info;
    ASSERT_EQ(control.deviceInfo(kDev, &info), 0);
    EXPECT_EQ(info.entryCount, 4u);
    const SimControl::CallCounts calls = control.callCounts();
    EXPECT_EQ(std::tuple(calls.adds, calls.modifies, calls.deletes, calls.reads, calls.other),
              std::tuple(5u, 1u, 1u, 0u, 7u));
}

using Fields = std::array<uint64_t, 4>;  // action id, then rwId, prot and next hop or group

// The object runtime's device; action k (onMiss, then the hit actions in declaration
// order) has id 101 + k, and the fields of a hit action are 10k+1 to 10k+3.
constexpr uint32_t kBfRtDev = 3;
constexpr bfrt::BfRtTarget kBfRtAll{kBfRtDev, 0xFFFF};

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
    Chip::Status add(const BfRtTarget& target, uint32_t* handle) const {
        return table.tableEntryAdd(session, target, *key, *data, handle);
    }
    Chip::Status get(const BfRtTarget& target, uint32_t handle) const {
        return table.tableEntryGet(session, target, 0, handle, key.get(), data.get());
    }

    OlvaneBfRtTable& table = *Chip::deviceObjects(kBfRtDev).table;
    const BfRtSession& session = *Chip::deviceObjects(kBfRtDev).tableIntf->bfRtSessionGet();
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
    EXPECT_EQ(add({kBfRtDev, 0x1FFFF}, &handle), Chip::kInvalidArg);
    ASSERT_EQ(table.dataReset(data.get()), 0);
    EXPECT_EQ(add(kBfRtAll, &handle), Chip::kInvalidArg) << "data without an action";
}

// Entry calls are refused, before the chip is touched, on a table that holds no
// entries (17); with a key or data object of another table or a flag bit the runtime
// does not define (3); with a session that is not open (8).
TEST_F(BfRtTableTest, RefusesEntryCallsItCannotServe) {
    const Chip::SimTable other(TableType::MatchDirect, "other");
    std::unique_ptr<BfRtTableKey> otherKey;
    std::unique_ptr<BfRtTableData> otherData;
    const auto before = allocationCounts().keys;  // other suites' leak checks count on these
    ASSERT_EQ(other.keyAllocate(&otherKey), 0);
    EXPECT_EQ(allocationCounts().keys.live, before.live + 1);
    ASSERT_EQ(other.dataAllocate(&otherData), 0);
    EXPECT_EQ(table.keyReset(otherKey.get()), Chip::kInvalidArg);
    EXPECT_EQ(table.dataReset(otherData.get()), Chip::kInvalidArg);
    EXPECT_EQ(table.dataReset(102, otherData.get()), Chip::kInvalidArg);
    ASSERT_EQ(other.dataReset(102, otherData.get()), 0) << "its own table takes it";
    keyIs({1, 2, 3});
    dataIs(1, {0, 4, 5, 6});
    uint32_t handle = 0, defaultHandle = 0;
    const Chip::SimTable selector(TableType::Selector, "selector");
    EXPECT_EQ(selector.tableEntryAdd(session, kBfRtAll, *key, *data, &handle), Chip::kNotSupported);
    EXPECT_EQ(table.tableEntryAdd(session, kBfRtAll, *otherKey, *data, &handle), Chip::kInvalidArg);
    EXPECT_EQ(table.tableEntryAdd(session, kBfRtAll, *key, *otherData, &handle), Chip::kInvalidArg);
    ASSERT_EQ(add(kBfRtAll, &handle), 0);
    EXPECT_EQ(table.tableEntryGet(session, kBfRtAll, 0, handle, otherKey.get(), data.get()),
              Chip::kInvalidArg);
    EXPECT_EQ(table.tableEntryMod(session, kBfRtAll, 0x20, handle, *otherData), Chip::kInvalidArg);
    for (const uint64_t flags : {uint64_t{0}, uint64_t{0x20}, uint64_t{0x21}, uint64_t{1} << 63}) {
        SCOPED_TRACE(flags);
        const Chip::Status expected = flags <= 0x20 ? 0 : Chip::kInvalidArg;
        EXPECT_EQ(table.tableEntryMod(session, kBfRtAll, flags, handle, *data), expected);
        EXPECT_EQ(table.tableDefaultEntrySet(session, kBfRtAll, flags, *data, &defaultHandle),
                  expected);
    }
    // A session object whose handle is not open, as after its session was closed.
    struct ClosedSession final : BfRtSession {
        uint32_t sessHandleGet() const override { return Chip::kMaxSessions + 1; }
    } closed;
    dataIs(3, {0, 7, 7, 7});
    EXPECT_EQ(table.tableEntryMod(closed, kBfRtAll, 0, handle, *data), Chip::kSessionNotFound);
    EXPECT_EQ(table.tableEntryGet(closed, kBfRtAll, 0, handle, key.get(), data.get()),
              Chip::kSessionNotFound);
    ASSERT_EQ(get(kBfRtAll, handle), 0);
    EXPECT_EQ(dataRead(), (Fields{102, 4, 5, 6})) << "no refused call changed the entry";
    otherKey.reset();
    const auto after = allocationCounts().keys;
    EXPECT_EQ(std::tuple(after.live, after.total), std::tuple(before.live, before.total + 1));
}

// The call log's texts are pinned by the table library's own suites.
TEST_F(BfRtTableTest, EntryScopeSplitsThePipesWhileTheTableIsEmpty) {
    std::unique_ptr<BfRtTableAttributes> scope;
    ASSERT_EQ(table.attributeAllocate(TableAttributesType::EntryScope, &scope), 0);
    ASSERT_EQ(scope->entryScopeParamsSet(TableEntryScope::SinglePipeline), 0);
    ASSERT_EQ(table.tableAttributesSet(session, {kBfRtDev, 1}, *scope), 0);
    EXPECT_EQ(Chip::open(kBfRtDev).entryScope(), Chip::EntryScope::SinglePipe);
    keyIs({1, 0, 0});
    dataIs(1, {0, 0, 6, 0});
    uint32_t handle = 0;
    ASSERT_EQ(add({kBfRtDev, 1}, &handle), 0);
    EXPECT_EQ(table.tableEntryDel(session, {kBfRtDev, 2}, handle), Chip::kObjectNotFound)
        << "found in its own pipe only";
    ASSERT_EQ(scope->entryScopeParamsSet(TableEntryScope::AllPipelines), 0);
    EXPECT_EQ(table.tableAttributesSet(session, kBfRtAll, *scope), Chip::kInvalidArg)
        << "entries are installed";
}

}  // namespace
