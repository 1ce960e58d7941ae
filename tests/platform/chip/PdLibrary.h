// The PD library as a test reaches it: loaded with dlopen, each function found by name.
#pragma once

#include <gmock/gmock.h>

#include <string>

#include "ChipTestSupport.h"
#include "sdk/olvane_switch_pd.h"

namespace ChipTest {

// Full paths: under the address sanitizer dlopen runs from the sanitizer's runtime, so a
// bare name would not be looked up along the test executable's run path.
inline constexpr const char* kPdLibrary = OLVANE_PD_LIBRARY_DIR "/libolvane_switch_pd.so";
inline constexpr const char* kPdLibraryNoBfRt =
    OLVANE_PD_LIBRARY_DIR "/libolvane_switch_pd_nobfrt.so";

// PD(lib, table_delete) is lib's p4_pd_olvane_switch_twiceNatAddrPort_table_delete.
#define PD(lib, function)                                                      \
    (lib).symbol<decltype(::p4_pd_olvane_switch_twiceNatAddrPort_##function)>( \
        "p4_pd_olvane_switch_twiceNatAddrPort_" #function)

// What get_entry wrote, with the buffers pre-filled so untouched bytes show.
struct PdReadBack {
    static constexpr uint8_t kUntouched = 0xAA;

    p4_pd_status_t status = -1;
    p4_pd_olvane_switch_twiceNatAddrPort_match_spec_t match{};
    char actionName[P4_PD_OLVANE_SWITCH_ACTION_NAME_MAX] = {};
    uint8_t actionSpec[6] = {kUntouched, kUntouched, kUntouched,
                             kUntouched, kUntouched, kUntouched};
    uint64_t hitCount = 99;
    uint8_t isDefault = kUntouched;
};

// A hit action's fields as the PD action specs hold them.
struct Params {
    uint16_t rwId;
    uint8_t prot;
    uint16_t param;  // next hop or ECMP group
};

// The read-back name and bytes of `action` with `p`.
inline void expectAction(const PdReadBack& r, const std::string& action, Params p) {
    ASSERT_EQ(r.status, 0);
    EXPECT_THAT(r.actionName, ::testing::StrEq("p4_pd_olvane_switch_" + action));
    if (action != "onMiss") {
        EXPECT_THAT(r.actionSpec,
                    ::testing::ElementsAre(p.rwId & 0xff, p.rwId >> 8, p.prot,
                                           PdReadBack::kUntouched, p.param & 0xff, p.param >> 8))
            << "the padding byte is never written";
    } else {
        EXPECT_THAT(r.actionSpec, ::testing::Each(PdReadBack::kUntouched));
    }
}

inline PdReadBack pdRead(const SharedLibrary& pd, uint8_t dev, p4_pd_entry_hdl_t handle) {
    PdReadBack r;
    r.status = PD(pd, get_entry)(1, dev, handle, false, &r.match, r.actionName, r.actionSpec,
                                 &r.hitCount, &r.isDefault);
    return r;
}

}  // namespace ChipTest
