// The PD library as loaded with dlopen: each function, exact structure bytes, statuses
// from real table conditions, entries shared between processes and libraries, and the
// call log and fault injection that other suites rely on.
#include <gmock/gmock.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <functional>

#include "PdLibrary.h"
#include "sdk/SimControl.h"

namespace {

using namespace ChipTest;
using namespace Chip::TestHooks;
using ::testing::ElementsAre;
using ::testing::StrEq;
using MatchSpec = p4_pd_olvane_switch_twiceNatAddrPort_match_spec_t;

[[maybe_unused]] const bool kEnvironment = registerChipEnvironment();

constexpr uint8_t kDev = 2;
constexpr p4_pd_dev_target_t kAllPipesTarget{kDev, 0xFFFF, 0};
constexpr MatchSpec kMatch{1, 2, 3};

struct Params {
    uint16_t rwId;
    uint8_t prot;
    uint16_t param;  // next hop or ECMP group
};

template <class Spec>
Spec specOf(Params p) {
    Spec spec;
    std::memset(&spec, 0x5C, sizeof spec);  // padding must not leak into the chip
    spec.action_rw_id = p.rwId;
    spec.action_prot = p.prot;
    if constexpr (requires { spec.action_next_hop; }) {
        spec.action_next_hop = p.param;
    } else {
        spec.action_ecmp_group = p.param;
    }
    return spec;
}

// The three programming functions of one action, called through the loaded library.
struct ActionCase {
    const char* action;
    p4_pd_status_t (*add)(const PdLibrary&, p4_pd_dev_target_t, const MatchSpec*, Params,
                          p4_pd_entry_hdl_t*);
    p4_pd_status_t (*modify)(const PdLibrary&, uint8_t, p4_pd_entry_hdl_t, Params);
    p4_pd_status_t (*setDefault)(const PdLibrary&, p4_pd_dev_target_t, Params, p4_pd_entry_hdl_t*);
};

#define OLVANE_HIT_CASE(Action)                                                             \
    ActionCase {                                                                            \
#Action,                                                                                  \
            [](const PdLibrary& pd, p4_pd_dev_target_t t, const MatchSpec* m, Params p,      \
               p4_pd_entry_hdl_t* h) {                                                        \
                auto spec = specOf<p4_pd_olvane_switch_##Action##_action_spec_t>(p);          \
                return pd.p4_pd_olvane_switch_twiceNatAddrPort_table_add_with_##Action(       \
                    1, t, m, &spec, h);                                                       \
            },                                                                                \
            [](const PdLibrary& pd, uint8_t d, p4_pd_entry_hdl_t h, Params p) {               \
                auto spec = specOf<p4_pd_olvane_switch_##Action##_action_spec_t>(p);          \
                return pd.p4_pd_olvane_switch_twiceNatAddrPort_table_modify_with_##Action(    \
                    1, d, h, &spec);                                                          \
            },                                                                                \
            [](const PdLibrary& pd, p4_pd_dev_target_t t, Params p, p4_pd_entry_hdl_t* h) {   \
                auto spec = specOf<p4_pd_olvane_switch_##Action##_action_spec_t>(p);          \
                return pd.p4_pd_olvane_switch_twiceNatAddrPort_set_default_action_##Action(   \
                    1, t, &spec, h);                                                          \
            } \
    }

const ActionCase kOnMiss{
    "onMiss",
    [](const PdLibrary& pd, p4_pd_dev_target_t t, const MatchSpec* m, Params,
       p4_pd_entry_hdl_t* h) {
        return pd.p4_pd_olvane_switch_twiceNatAddrPort_table_add_with_onMiss(1, t, m, h);
    },
    [](const PdLibrary& pd, uint8_t d, p4_pd_entry_hdl_t h, Params) {
        return pd.p4_pd_olvane_switch_twiceNatAddrPort_table_modify_with_onMiss(1, d, h);
    },
    [](const PdLibrary& pd, p4_pd_dev_target_t t, Params, p4_pd_entry_hdl_t* h) {
        return pd.p4_pd_olvane_switch_twiceNatAddrPort_set_default_action_onMiss(1, t, h);
    }};
const ActionCase kHit = OLVANE_HIT_CASE(twiceNatAddrPortHit);
const ActionCase kHitDynamic = OLVANE_HIT_CASE(twiceNatAddrPortHitDynamic);
const ActionCase kHitEcmp = OLVANE_HIT_CASE(twiceNatAddrPortHitEcmp);
const ActionCase kHitEcmpDynamic = OLVANE_HIT_CASE(twiceNatAddrPortHitEcmpDynamic);

class PdLibraryTest : public ChipFixture {
  protected:
    PdLibrary pd;
};

class PdActionTest : public PdLibraryTest, public ::testing::WithParamInterface<ActionCase> {
  protected:
    // The read-back name and bytes of the action of the parameter with `p`.
    void expectAction(const PdReadBack& r, Params p) {
        ASSERT_EQ(r.status, 0);
        EXPECT_THAT(r.actionName, StrEq(std::string("p4_pd_olvane_switch_") + GetParam().action));
        if (GetParam().add != kOnMiss.add) {
            EXPECT_THAT(r.actionSpec,
                        ElementsAre(p.rwId & 0xff, p.rwId >> 8, p.prot, PdReadBack::kUntouched,
                                    p.param & 0xff, p.param >> 8))
                << "the padding byte is never written";
        } else {
            EXPECT_THAT(r.actionSpec, ::testing::Each(PdReadBack::kUntouched));
        }
    }
};

TEST_P(PdActionTest, AddModifySetAndResetDefaultReadBackExactBytes) {
    p4_pd_entry_hdl_t handle = 0;
    ASSERT_EQ(GetParam().add(pd, kAllPipesTarget, &kMatch, {0x0201, 6, 0x0403}, &handle), 0);
    PdReadBack r = pdRead(pd, kDev, handle);
    expectAction(r, {0x0201, 6, 0x0403});
    EXPECT_EQ(std::memcmp(&r.match, "\x01\0\x02\0\x03\0", 6), 0) << "little-endian fields";
    EXPECT_EQ(r.hitCount, 0u);
    EXPECT_EQ(r.isDefault, 0);
    const MatchSpec other{4, 5, 6};
    ASSERT_EQ(kHitEcmp.add(pd, kAllPipesTarget, &other, {9, 9, 9}, &handle), 0);
    ASSERT_EQ(GetParam().modify(pd, kDev, handle, {7, 17, 700}), 0);
    expectAction(pdRead(pd, kDev, handle), {7, 17, 700});
    p4_pd_entry_hdl_t first = 0, second = 0;
    ASSERT_EQ(kHit.setDefault(pd, kAllPipesTarget, {1, 1, 1}, &first), 0);
    ASSERT_EQ(GetParam().setDefault(pd, kAllPipesTarget, {5, 6, 7}, &second), 0);
    EXPECT_EQ(second, first);
    r = pdRead(pd, kDev, second);
    expectAction(r, {5, 6, 7});
    EXPECT_EQ(r.isDefault, 1);
    ASSERT_EQ(pd.p4_pd_olvane_switch_twiceNatAddrPort_table_reset_default_entry(1, kAllPipesTarget),
              0);
    r = pdRead(pd, kDev, second);
    EXPECT_THAT(r.actionName, StrEq("p4_pd_olvane_switch_onMiss")) << "reset to onMiss";
    EXPECT_EQ(r.isDefault, 1);
    p4_pd_entry_hdl_t refused = 0;
    EXPECT_EQ(GetParam().add(pd, kAllPipesTarget, &kMatch, {}, &refused), Chip::kAlreadyExists);
    EXPECT_EQ(refused, 0u) << "a refused add writes no handle";
    EXPECT_EQ(GetParam().add(pd, kAllPipesTarget, nullptr, {}, &handle), Chip::kInvalidArg);
    EXPECT_EQ(GetParam().add(pd, kAllPipesTarget, &kMatch, {}, nullptr), Chip::kInvalidArg);
    EXPECT_EQ(GetParam().setDefault(pd, kAllPipesTarget, {}, nullptr), Chip::kInvalidArg);
    EXPECT_EQ(GetParam().add(pd, {Chip::kMaxDevices, 0xFFFF, 0}, &other, {}, &handle),
              Chip::kInvalidArg);
    ASSERT_EQ(pd.p4_pd_olvane_switch_twiceNatAddrPort_table_delete(1, kDev, handle), 0);
    EXPECT_EQ(GetParam().modify(pd, kDev, handle, {}), Chip::kObjectNotFound);
    EXPECT_EQ(pd.p4_pd_olvane_switch_twiceNatAddrPort_table_delete(1, kDev, handle),
              Chip::kObjectNotFound);
    EXPECT_EQ(pdRead(pd, kDev, handle).status, Chip::kObjectNotFound);
    EXPECT_EQ(Chip::open(kDev).entryCount(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Actions, PdActionTest,
                         ::testing::Values(kOnMiss, kHit, kHitDynamic, kHitEcmp, kHitEcmpDynamic),
                         [](const auto& info) { return std::string(info.param.action); });

TEST_F(PdLibraryTest, CallsAreLoggedWithCanonicalArgumentsWhileTheLogIsOn) {
    p4_pd_entry_hdl_t handle = 0, defaultHandle = 0;
    ScopedCallLog log;
    ASSERT_EQ(pd.p4_pd_olvane_switch_twiceNatAddrPort_set_property(7, kDev, 1, 0), 0);
    ASSERT_EQ(kHit.add(pd, kAllPipesTarget, &kMatch, {1, 6, 2}, &handle), 0);
    ASSERT_EQ(kOnMiss.modify(pd, kDev, handle, {}), 0);
    ASSERT_EQ(kHitEcmp.setDefault(pd, kAllPipesTarget, {0x0102, 0xff, 0x0a0b}, &defaultHandle), 0);
    PdReadBack r;
    ASSERT_EQ(pd.p4_pd_olvane_switch_twiceNatAddrPort_get_entry(
                  7, kDev, handle, true, &r.match, r.actionName, r.actionSpec, nullptr, nullptr),
              0);
    ASSERT_EQ(pd.p4_pd_olvane_switch_twiceNatAddrPort_table_delete(7, kDev, handle), 0);
    ASSERT_EQ(pd.p4_pd_olvane_switch_twiceNatAddrPort_table_reset_default_entry(8, kAllPipesTarget),
              0);
    EXPECT_EQ(kOnMiss.add(pd, kAllPipesTarget, nullptr, {}, &handle), Chip::kInvalidArg);
    const std::string h = std::to_string(handle), p = "p4_pd_olvane_switch_twiceNatAddrPort_";
    const std::string all = "dev_tgt=[02 00 00 00 ff ff 00 00]";
    EXPECT_THAT(log.texts(),
                ElementsAre(p + "set_property(sess=7, dev_id=2, property=1, value=0)",
                            p + "table_add_with_twiceNatAddrPortHit(sess=1, " + all +
                                ", match=[01 00 02 00 03 00], action=[01 00 06 -- 02 00])",
                            p + "table_modify_with_onMiss(sess=1, dev_id=2, hdl=" + h + ")",
                            p + "set_default_action_twiceNatAddrPortHitEcmp(sess=1, " + all +
                                ", action=[02 01 ff -- 0b 0a])",
                            p + "get_entry(sess=7, dev_id=2, hdl=" + h +
                                ", read_from_hw=1, hit_count=null)",
                            p + "table_delete(sess=7, dev_id=2, hdl=" + h + ")",
                            p + "table_reset_default_entry(sess=8, " + all + ")",
                            p + "table_add_with_onMiss(sess=1, " + all + ", match=null)"));
    EXPECT_EQ(callLog()[1].function, p + "table_add_with_twiceNatAddrPortHit");
}

TEST_F(PdLibraryTest, InjectedFaultsLeaveTableAndOutputsUntouched) {
    const std::string addHit =
        "p4_pd_olvane_switch_twiceNatAddrPort_table_add_with_twiceNatAddrPortHit";
    EXPECT_THROW(faultIs("p4_pd_olvane_switch_twiceNatAddrPort_table_add", 1, 9),
                 std::invalid_argument);
    EXPECT_THROW(faultIs(addHit, 1, 0), std::invalid_argument);
    faultIs(addHit, 2, Chip::kTryAgain);
    EXPECT_EQ(faultsPending(addHit), 2u);
    ScopedCallLog log;
    p4_pd_entry_hdl_t handle = 0xDEAD;
    EXPECT_EQ(kHit.add(pd, kAllPipesTarget, &kMatch, {}, &handle), Chip::kTryAgain);
    EXPECT_EQ(kHitEcmp.setDefault(pd, kAllPipesTarget, {}, &handle), 0) << "others are not";
    handle = 0xDEAD;
    EXPECT_EQ(kHit.add(pd, kAllPipesTarget, &kMatch, {}, &handle), Chip::kTryAgain);
    EXPECT_EQ(handle, 0xDEADu);
    EXPECT_EQ(Chip::open(kDev).entryCount(), 0u);
    EXPECT_EQ(kHit.add(pd, kAllPipesTarget, &kMatch, {}, &handle), 0) << "the fault is used up";
    EXPECT_EQ(log.texts().size(), 4u) << "faulted calls are logged too";
    faultIs("p4_pd_olvane_switch_twiceNatAddrPort_get_entry", 1, Chip::kObjectNotFound);
    const PdReadBack r = pdRead(pd, kDev, handle);
    EXPECT_EQ(r.status, Chip::kObjectNotFound);
    EXPECT_EQ(r.hitCount, 99u);
    EXPECT_EQ(r.actionName[0], '\0');
    EXPECT_EQ(pdRead(pd, kDev, handle).status, 0);
    faultIs(addHit, 3, Chip::kNoSpace);
    faultIs(addHit, 0, Chip::kNoSpace);
    EXPECT_EQ(faultsPending(addHit), 0u) << "a count of 0 disarms the fault";
    faultIs(addHit, 1, Chip::kNoSpace);
    reset();
    EXPECT_EQ(faultsPending(addHit), 0u);
}

// Runs `body` in a forked child without this process's chip mappings, as a restarted
// agent would, and hands back what it returns; -1 when it died.
int64_t inFreshChild(const std::function<int64_t()>& body) {
    int fds[2];
    EXPECT_EQ(::pipe(fds), 0);
    if (::fork() == 0) {
        for (uint32_t dev = 0; dev < kDevicesUsedByTests; ++dev) Chip::close(dev);
        const int64_t result = body();
        ::_exit(::write(fds[1], &result, sizeof result) == sizeof result ? 0 : 1);
    }
    ::close(fds[1]);
    int64_t result = -1;
    const bool read = ::read(fds[0], &result, sizeof result) == sizeof result;
    ::close(fds[0]);
    ::wait(nullptr);
    return read ? result : -1;
}

// A session is served from client_init to client_cleanup; every call with another
// handle is refused with 8 and changes nothing.
TEST_F(PdLibraryTest, OnlyOpenSessionsAreServed) {
    p4_pd_sess_hdl_t sess = 0;
    ASSERT_EQ(pd.p4_pd_olvane_switch_client_init(&sess), 0);
    const p4_pd_olvane_switch_twiceNatAddrPortHit_action_spec_t spec{1, 6, 2};
    p4_pd_entry_hdl_t handle = 0, out = 0;
    ASSERT_EQ(pd.p4_pd_olvane_switch_twiceNatAddrPort_table_add_with_twiceNatAddrPortHit(
                  sess, kAllPipesTarget, &kMatch, &spec, &handle),
              0);
    ASSERT_EQ(pd.p4_pd_olvane_switch_client_cleanup(sess), 0);
    EXPECT_EQ(pd.p4_pd_olvane_switch_client_cleanup(sess), Chip::kSessionNotFound);
    uint32_t count = 0;
    MatchSpec match{};
    char name[P4_PD_OLVANE_SWITCH_ACTION_NAME_MAX];
    uint8_t bytes[6];
    const p4_pd_status_t statuses[] = {
        pd.p4_pd_olvane_switch_twiceNatAddrPort_set_property(sess, kDev, 1, 0),
        pd.p4_pd_olvane_switch_twiceNatAddrPort_table_add_with_onMiss(sess, kAllPipesTarget,
                                                                      &kMatch, &out),
        pd.p4_pd_olvane_switch_twiceNatAddrPort_table_modify_with_onMiss(sess, kDev, handle),
        pd.p4_pd_olvane_switch_twiceNatAddrPort_set_default_action_onMiss(sess, kAllPipesTarget,
                                                                          &out),
        pd.p4_pd_olvane_switch_twiceNatAddrPort_table_delete(sess, kDev, handle),
        pd.p4_pd_olvane_switch_twiceNatAddrPort_table_reset_default_entry(sess, kAllPipesTarget),
        pd.p4_pd_olvane_switch_twiceNatAddrPort_get_entry(sess, kDev, handle, false, &match, name,
                                                          bytes, nullptr, nullptr),
        pd.p4_pd_olvane_switch_twiceNatAddrPort_get_entry_count(sess, kAllPipesTarget, &count),
        pd.p4_pd_olvane_switch_twiceNatAddrPort_get_entry_count(0, kAllPipesTarget, &count),
    };
    EXPECT_THAT(statuses, ::testing::Each(Chip::kSessionNotFound));
    EXPECT_EQ(pdRead(pd, kDev, handle).actionSpec[0], 1) << "the entry is as it was";
    // The lowest free handle is opened again; when none is free, 7.
    std::vector<p4_pd_sess_hdl_t> opened(1);
    ASSERT_EQ(pd.p4_pd_olvane_switch_client_init(&opened[0]), 0);
    EXPECT_EQ(opened[0], sess);
    p4_pd_status_t st = 0;
    while (st == 0 && opened.size() <= Chip::kMaxSessions) {
        st = pd.p4_pd_olvane_switch_client_init(&opened.emplace_back());
    }
    EXPECT_EQ(st, Chip::kMaxSessionsExceeded);
    opened.pop_back();
    for (p4_pd_sess_hdl_t h : opened) EXPECT_EQ(pd.p4_pd_olvane_switch_client_cleanup(h), 0);
    EXPECT_EQ(pd.p4_pd_olvane_switch_client_init(nullptr), Chip::kInvalidArg);
}

// The chip keeps its capacity, scope, entries and placement index in the segment, and
// the child uses the library without the object runtime: both program the same chip.
TEST_F(PdLibraryTest, EntriesWrittenByOneProcessAreReadByTheNext) {
    constexpr p4_pd_dev_target_t kPipe2{kDev, 2, 0};
    Chip::open(kDev, 4 * Chip::kMinCapacity);
    const auto setProperty = pd.p4_pd_olvane_switch_twiceNatAddrPort_set_property;
    EXPECT_EQ(setProperty(1, kDev, 2, 0), Chip::kNotSupported) << "only the entry scope exists";
    EXPECT_EQ(setProperty(1, kDev, 1, 2), Chip::kInvalidArg);
    ASSERT_EQ(setProperty(1, kDev, 1, 1), 0);
    p4_pd_entry_hdl_t parentEntry = 0;
    ASSERT_EQ(kHit.add(pd, kPipe2, &kMatch, {0x1234, 17, 0x0a0b}, &parentEntry), 0);
    Chip::close(kDev);
    // The child reads the parent's entry, finds its key taken, adds an entry of its own
    // and reports that entry's handle.
    const int64_t childEntry = inFreshChild([&]() -> int64_t {
        const PdLibrary plain(kPdLibraryNoBfRt);
        p4_pd_entry_hdl_t handle = 0;
        if (pdRead(plain, kDev, parentEntry).actionSpec[2] != 17 ||
            Chip::open(kDev).capacity() != 4 * Chip::kMinCapacity ||
            kHit.add(plain, kPipe2, &kMatch, {}, &handle) != Chip::kAlreadyExists) {
            return -2;
        }
        const MatchSpec other{4, 5, 6};
        const p4_pd_status_t st = kHitEcmp.add(plain, kPipe2, &other, {2, 3, 4}, &handle);
        return st == 0 ? handle : -100 - st;
    });
    ASSERT_GT(childEntry, 0) << "the child failed to read or to write";
    EXPECT_EQ(Chip::open(kDev).entryCount(), 2u);
    const PdReadBack r = pdRead(pd, kDev, static_cast<p4_pd_entry_hdl_t>(childEntry));
    EXPECT_THAT(r.actionName, StrEq("p4_pd_olvane_switch_twiceNatAddrPortHitEcmp"));
    EXPECT_EQ(r.match.l4_port_hdr_dst_port, 6);
}

}  // namespace

namespace {

// Listing walks one scope in record order, without the default entry or a deleted one,
// in chunks of the size asked for; the simulator's control sees the same device and
// counts the listing apart from the writes.
TEST_F(PdLibraryTest, ListsTheEntriesOfAScopeAndTheControlCountsAndFaultsCalls) {
    auto& control = *pd.lib.symbol<SimControl::Control*()>(OLVANE_SWITCH_SIM_CONTROL_SYMBOL)();
    control.callCountingIs(true);
    std::vector<p4_pd_entry_hdl_t> h(5);
    for (uint16_t i = 0; i < h.size(); ++i) {
        const MatchSpec m{i, i, i};
        ASSERT_EQ(pd.p4_pd_olvane_switch_twiceNatAddrPort_table_add_with_onMiss(1, kAllPipesTarget,
                                                                                &m, &h[i]),
                  0);
    }
    p4_pd_entry_hdl_t defaultHandle = 0, found = 0;
    ASSERT_EQ(pd.p4_pd_olvane_switch_twiceNatAddrPort_set_default_action_onMiss(1, kAllPipesTarget,
                                                                                &defaultHandle),
              0);
    ASSERT_EQ(pd.p4_pd_olvane_switch_twiceNatAddrPort_table_delete(1, kDev, h[2]), 0);

    uint32_t count = 0, returned = 0;
    ASSERT_EQ(pd.p4_pd_olvane_switch_twiceNatAddrPort_get_entry_count(1, kAllPipesTarget, &count),
              0);
    EXPECT_EQ(count, 4u);
    ASSERT_EQ(
        pd.p4_pd_olvane_switch_twiceNatAddrPort_get_first_entry_handle(1, kAllPipesTarget, &found),
        0);
    EXPECT_EQ(found, h[0]);
    std::vector<p4_pd_entry_hdl_t> next(8, 0);
    ASSERT_EQ(pd.p4_pd_olvane_switch_twiceNatAddrPort_get_next_entry_handles(
                  1, kAllPipesTarget, h[0], 2, next.data(), &returned),
              0);
    EXPECT_EQ(returned, 2u);
    EXPECT_THAT(std::vector(next.begin(), next.begin() + 3), ElementsAre(h[1], h[3], 0u))
        << "n bounds the chunk";
    ASSERT_EQ(pd.p4_pd_olvane_switch_twiceNatAddrPort_get_next_entry_handles(
                  1, kAllPipesTarget, h[3], 8, next.data(), &returned),
              0);
    EXPECT_EQ(returned, 1u);
    EXPECT_EQ(next[0], h[4]);
    EXPECT_EQ(pd.p4_pd_olvane_switch_twiceNatAddrPort_get_next_entry_handles(
                  1, kAllPipesTarget, h[2], 8, next.data(), &returned),
              Chip::kObjectNotFound)
        << "a deleted handle";
    ASSERT_EQ(pd.p4_pd_olvane_switch_twiceNatAddrPort_table_get_default_entry_handle(
                  1, kAllPipesTarget, &found),
              0);
    EXPECT_EQ(found, defaultHandle);
    const p4_pd_dev_target_t pipe1{kDev, 1, 0};
    EXPECT_EQ(pd.p4_pd_olvane_switch_twiceNatAddrPort_get_first_entry_handle(1, pipe1, &found),
              Chip::kObjectNotFound)
        << "another scope";

    SimControl::DeviceInfo info;
    ASSERT_EQ(control.deviceInfo(kDev, &info), 0);
    EXPECT_EQ(info.entryCount, 4u);
    const SimControl::CallCounts calls = control.callCounts();
    control.callCountingIs(false);
    EXPECT_EQ(calls.adds, 5u);
    EXPECT_EQ(calls.modifies, 1u);
    EXPECT_EQ(calls.deletes, 1u);
    EXPECT_EQ(calls.reads, 0u);
    EXPECT_EQ(calls.other, 7u);

    EXPECT_FALSE(control.faultIs("no_such_call", 1, Chip::kNoSpace));
    ASSERT_TRUE(
        control.faultIs("p4_pd_olvane_switch_twiceNatAddrPort_get_entry_count", 1, Chip::kNoSpace));
    EXPECT_EQ(pd.p4_pd_olvane_switch_twiceNatAddrPort_get_entry_count(1, kAllPipesTarget, &count),
              Chip::kNoSpace);
    EXPECT_EQ(pd.p4_pd_olvane_switch_twiceNatAddrPort_get_entry_count(1, kAllPipesTarget, &count),
              0);
}

}  // namespace
