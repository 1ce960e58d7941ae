// The PD library as loaded with dlopen: each function, exact structure bytes, statuses
// from real table conditions, and entries shared between processes.
#include <gmock/gmock.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "PdLibrary.h"

namespace {

using namespace ChipTest;
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
    const char* readName;
    p4_pd_status_t (*add)(const PdLibrary&, p4_pd_dev_target_t, const MatchSpec*, Params,
                          p4_pd_entry_hdl_t*);
    p4_pd_status_t (*modify)(const PdLibrary&, uint8_t, p4_pd_entry_hdl_t, Params);
    p4_pd_status_t (*setDefault)(const PdLibrary&, p4_pd_dev_target_t, Params, p4_pd_entry_hdl_t*);
};

#define OLVANE_HIT_CASE(Action)                                                         \
    ActionCase {                                                                        \
#Action, "p4_pd_olvane_switch_" #Action,                                              \
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
    "onMiss", "p4_pd_olvane_switch_onMiss",
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
    bool hasParams() const { return GetParam().add != kOnMiss.add; }

    void expectAction(const PdReadBack& r, Params p) {
        ASSERT_EQ(r.status, 0);
        EXPECT_THAT(r.actionName, StrEq(GetParam().readName));
        if (hasParams()) {
            EXPECT_THAT(r.actionSpec,
                        ElementsAre(p.rwId & 0xff, p.rwId >> 8, p.prot, PdReadBack::kUntouched,
                                    p.param & 0xff, p.param >> 8))
                << "the padding byte is never written";
        } else {
            EXPECT_THAT(r.actionSpec, ::testing::Each(PdReadBack::kUntouched));
        }
    }
};

TEST_P(PdActionTest, AddReadsBackExactBytes) {
    p4_pd_entry_hdl_t handle = 0;
    ASSERT_EQ(GetParam().add(pd, kAllPipesTarget, &kMatch, {0x0201, 6, 0x0403}, &handle), 0);
    ASSERT_NE(handle, 0u);
    PdReadBack r = pdRead(pd, kDev, handle);
    expectAction(r, {0x0201, 6, 0x0403});
    uint8_t matchBytes[6];
    std::memcpy(matchBytes, &r.match, 6);
    EXPECT_THAT(matchBytes, ElementsAre(1, 0, 2, 0, 3, 0));
    EXPECT_EQ(r.hitCount, 0u);
    EXPECT_EQ(r.isDefault, 0);
}

TEST_P(PdActionTest, ModifyKeepsTheHandleAndReplacesTheAction) {
    p4_pd_entry_hdl_t handle = 0;
    ASSERT_EQ(kHitEcmp.add(pd, kAllPipesTarget, &kMatch, {9, 9, 9}, &handle), 0);
    ASSERT_EQ(GetParam().modify(pd, kDev, handle, {7, 17, 700}), 0);
    expectAction(pdRead(pd, kDev, handle), {7, 17, 700});
}

TEST_P(PdActionTest, DefaultActionKeepsOneHandle) {
    p4_pd_entry_hdl_t first = 0, second = 0;
    ASSERT_EQ(kHit.setDefault(pd, kAllPipesTarget, {1, 1, 1}, &first), 0);
    ASSERT_EQ(GetParam().setDefault(pd, kAllPipesTarget, {5, 6, 7}, &second), 0);
    EXPECT_EQ(second, first);
    PdReadBack r = pdRead(pd, kDev, second);
    expectAction(r, {5, 6, 7});
    EXPECT_EQ(r.isDefault, 1);
}

TEST_P(PdActionTest, NullPointersAreRefused) {
    p4_pd_entry_hdl_t handle = 0;
    EXPECT_EQ(GetParam().add(pd, kAllPipesTarget, nullptr, {}, &handle), Chip::kInvalidArg);
    EXPECT_EQ(GetParam().add(pd, kAllPipesTarget, &kMatch, {}, nullptr), Chip::kInvalidArg);
    EXPECT_EQ(GetParam().setDefault(pd, kAllPipesTarget, {}, nullptr), Chip::kInvalidArg);
    EXPECT_EQ(Chip::open(kDev).entryCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Actions, PdActionTest,
                         ::testing::Values(kOnMiss, kHit, kHitDynamic, kHitEcmp, kHitEcmpDynamic),
                         [](const auto& info) { return std::string(info.param.action); });

TEST_F(PdLibraryTest, DeleteLeavesAStaleHandle) {
    p4_pd_entry_hdl_t handle = 0;
    ASSERT_EQ(kHit.add(pd, kAllPipesTarget, &kMatch, {1, 6, 2}, &handle), 0);
    ASSERT_EQ(pd.p4_pd_olvane_switch_twiceNatAddrPort_table_delete(1, kDev, handle), 0);
    EXPECT_EQ(pdRead(pd, kDev, handle).status, Chip::kObjectNotFound);
    EXPECT_EQ(pd.p4_pd_olvane_switch_twiceNatAddrPort_table_delete(1, kDev, handle),
              Chip::kObjectNotFound);
    EXPECT_EQ(kHit.modify(pd, kDev, handle, {}), Chip::kObjectNotFound);
    p4_pd_entry_hdl_t again = 0;
    ASSERT_EQ(kHit.add(pd, kAllPipesTarget, &kMatch, {1, 6, 2}, &again), 0)
        << "the key is free again";
    EXPECT_NE(again, handle);
}

TEST_F(PdLibraryTest, DuplicateKeyGivesAlreadyExists) {
    p4_pd_entry_hdl_t handle = 0, duplicate = 0;
    ASSERT_EQ(kHit.add(pd, kAllPipesTarget, &kMatch, {1, 6, 2}, &handle), 0);
    EXPECT_EQ(kOnMiss.add(pd, kAllPipesTarget, &kMatch, {}, &duplicate), Chip::kAlreadyExists);
    EXPECT_EQ(duplicate, 0u) << "a refused add writes no handle";
}

TEST_F(PdLibraryTest, SmallChipRunsOutOfSpace) {
    Chip::open(kDev, 32);
    p4_pd_status_t st = 0;
    uint16_t n = 0;
    for (; st == 0 && n < 1000; ++n) {
        MatchSpec match{n, static_cast<uint16_t>(n * 31), 443};
        p4_pd_entry_hdl_t handle = 0;
        st = kHitEcmp.add(pd, kAllPipesTarget, &match, {1, 6, 2}, &handle);
    }
    EXPECT_EQ(st, Chip::kNoSpace);
    EXPECT_LE(n - 1, 32);
}

TEST_F(PdLibraryTest, ResetDefaultReturnsItToOnMissWithZeroParameters) {
    p4_pd_entry_hdl_t handle = 0;
    ASSERT_EQ(kHitEcmpDynamic.setDefault(pd, kAllPipesTarget, {3, 4, 5}, &handle), 0);
    ASSERT_EQ(pd.p4_pd_olvane_switch_twiceNatAddrPort_table_reset_default_entry(1, kAllPipesTarget),
              0);
    PdReadBack r = pdRead(pd, kDev, handle);
    ASSERT_EQ(r.status, 0);
    EXPECT_THAT(r.actionName, StrEq("p4_pd_olvane_switch_onMiss"));
    EXPECT_EQ(r.isDefault, 1);
    ASSERT_EQ(kHit.setDefault(pd, kAllPipesTarget, {}, &handle), 0);
    r = pdRead(pd, kDev, handle);
    EXPECT_THAT(r.actionSpec, ElementsAre(0, 0, 0, PdReadBack::kUntouched, 0, 0));
}

TEST_F(PdLibraryTest, EntryScopePropertyPlacesEntriesInTheirPipe) {
    auto setProperty = pd.p4_pd_olvane_switch_twiceNatAddrPort_set_property;
    EXPECT_EQ(setProperty(1, kDev, 2, 0), Chip::kNotSupported) << "only the entry scope exists";
    EXPECT_EQ(setProperty(1, kDev, 1, 2), Chip::kInvalidArg);
    p4_pd_entry_hdl_t handle = 0;
    EXPECT_EQ(kHit.add(pd, {kDev, 0, 0}, &kMatch, {}, &handle), Chip::kInvalidArg)
        << "an all-pipes table takes no single pipe";
    ASSERT_EQ(setProperty(1, kDev, 1, 1), 0);
    EXPECT_EQ(setProperty(1, kDev, 1, 1), 0) << "the same scope again";

    p4_pd_entry_hdl_t pipe0 = 0, pipe3 = 0;
    ASSERT_EQ(kHit.add(pd, {kDev, 0, 0}, &kMatch, {10, 6, 1}, &pipe0), 0);
    ASSERT_EQ(kHit.add(pd, {kDev, 3, 0}, &kMatch, {30, 6, 1}, &pipe3), 0);
    EXPECT_EQ(kHit.add(pd, {kDev, 3, 0}, &kMatch, {}, &handle), Chip::kAlreadyExists);
    EXPECT_EQ(kHit.add(pd, kAllPipesTarget, &kMatch, {}, &handle), Chip::kInvalidArg);
    EXPECT_EQ(setProperty(1, kDev, 1, 0), Chip::kInvalidArg) << "entries are installed";
    EXPECT_EQ(pdRead(pd, kDev, pipe0).actionSpec[0], 10);
    EXPECT_EQ(pdRead(pd, kDev, pipe3).actionSpec[0], 30);

    p4_pd_entry_hdl_t default0 = 0, default3 = 0;
    ASSERT_EQ(kOnMiss.setDefault(pd, {kDev, 0, 0}, {}, &default0), 0);
    ASSERT_EQ(kOnMiss.setDefault(pd, {kDev, 3, 0}, {}, &default3), 0);
    EXPECT_NE(default0, default3) << "each pipe has its own default entry";
}

TEST_F(PdLibraryTest, DevicesAreSeparateChips) {
    p4_pd_entry_hdl_t handle = 0;
    ASSERT_EQ(kHit.add(pd, kAllPipesTarget, &kMatch, {}, &handle), 0);
    ASSERT_EQ(kHit.add(pd, {kDev + 1, 0xFFFF, 0}, &kMatch, {}, &handle), 0);
    EXPECT_EQ(Chip::open(kDev).entryCount(), 1u);
    EXPECT_EQ(kHit.add(pd, {Chip::kMaxDevices, 0xFFFF, 0}, &kMatch, {}, &handle),
              Chip::kInvalidArg);
}

// Runs `body` in a child process that starts without this process's mappings, as a
// restarted agent would. The child's result comes back through a pipe; -1 if it died.
template <class Body>
int64_t inFreshChild(Body body) {
    int fds[2];
    if (::pipe(fds) != 0) {
        return -1;
    }
    pid_t pid = ::fork();
    if (pid == 0) {
        for (uint32_t dev = 0; dev < kDevicesUsedByTests; ++dev) {
            Chip::close(dev);
        }
        int64_t result = body();
        ::_exit(::write(fds[1], &result, sizeof result) == sizeof result ? 0 : 1);
    }
    ::close(fds[1]);
    int64_t result = -1;
    if (::read(fds[0], &result, sizeof result) != sizeof result) {
        result = -1;
    }
    ::close(fds[0]);
    ::waitpid(pid, nullptr, 0);
    return result;
}

TEST_F(PdLibraryTest, EntriesWrittenByOneProcessAreReadByTheNext) {
    p4_pd_entry_hdl_t parentEntry = 0;
    ASSERT_EQ(kHitDynamic.add(pd, kAllPipesTarget, &kMatch, {0x1234, 17, 0x0a0b}, &parentEntry), 0);
    Chip::close(kDev);

    // The child reads the parent's entry, adds its own and reports that entry's handle.
    int64_t childEntry = inFreshChild([&]() -> int64_t {
        PdReadBack r = pdRead(pd, kDev, parentEntry);
        if (r.status != 0 || std::strcmp(r.actionName, kHitDynamic.readName) != 0 ||
            r.actionSpec[2] != 17) {
            return -2;
        }
        MatchSpec other{4, 5, 6};
        p4_pd_entry_hdl_t handle = 0;
        p4_pd_status_t st = kHitEcmp.add(pd, kAllPipesTarget, &other, {2, 3, 4}, &handle);
        return st == 0 ? handle : -100 - st;
    });
    ASSERT_GT(childEntry, 0) << "the child failed to read or to write";
    EXPECT_EQ(Chip::open(kDev).entryCount(), 2u);
    PdReadBack r = pdRead(pd, kDev, static_cast<p4_pd_entry_hdl_t>(childEntry));
    ASSERT_EQ(r.status, 0);
    EXPECT_THAT(r.actionName, StrEq(kHitEcmp.readName));
    EXPECT_EQ(r.match.l4_port_hdr_dst_port, 6);
}

TEST(PdLibraryVariants, OnlyTheFullLibraryOffersTheObjectRuntime) {
    PdLibrary full(kPdLibrary);
    PdLibrary plain(kPdLibraryNoBfRt);
    EXPECT_TRUE(full.lib.has(OLVANE_SWITCH_BFRT_INFO_GET_SYMBOL));
    EXPECT_FALSE(plain.lib.has(OLVANE_SWITCH_BFRT_INFO_GET_SYMBOL));

    ChipTest::ChipEnvironment::wipeAll();
    p4_pd_entry_hdl_t handle = 0;
    ASSERT_EQ(kHit.add(plain, kAllPipesTarget, &kMatch, {8, 6, 1}, &handle), 0);
    EXPECT_EQ(pdRead(full, kDev, handle).actionSpec[0], 8) << "both program the same chip";
    ChipTest::ChipEnvironment::wipeAll();
}

}  // namespace
