// The PD library as a test reaches it: loaded with dlopen, every function bound by name.
#pragma once

#include "ChipTestSupport.h"
#include "sdk/olvane_switch_pd.h"

namespace ChipTest {

// Full paths: under the address sanitizer dlopen runs from the sanitizer's runtime, so a
// bare name would not be looked up along the test executable's run path.
inline constexpr const char* kPdLibrary = OLVANE_PD_LIBRARY_DIR "/libolvane_switch_pd.so";
inline constexpr const char* kPdLibraryNoBfRt =
    OLVANE_PD_LIBRARY_DIR "/libolvane_switch_pd_nobfrt.so";

#define OLVANE_PD_BIND(function) \
    decltype(::function)* function = lib.symbol<decltype(::function)>(#function)

struct PdLibrary {
    explicit PdLibrary(const char* name = kPdLibrary) : lib(name) {}

    SharedLibrary lib;
    OLVANE_PD_BIND(p4_pd_olvane_switch_client_init);
    OLVANE_PD_BIND(p4_pd_olvane_switch_client_cleanup);
    OLVANE_PD_BIND(p4_pd_olvane_switch_twiceNatAddrPort_set_property);
    OLVANE_PD_BIND(p4_pd_olvane_switch_twiceNatAddrPort_table_add_with_onMiss);
    OLVANE_PD_BIND(p4_pd_olvane_switch_twiceNatAddrPort_table_add_with_twiceNatAddrPortHit);
    OLVANE_PD_BIND(p4_pd_olvane_switch_twiceNatAddrPort_table_add_with_twiceNatAddrPortHitDynamic);
    OLVANE_PD_BIND(p4_pd_olvane_switch_twiceNatAddrPort_table_add_with_twiceNatAddrPortHitEcmp);
    OLVANE_PD_BIND(
        p4_pd_olvane_switch_twiceNatAddrPort_table_add_with_twiceNatAddrPortHitEcmpDynamic);
    OLVANE_PD_BIND(p4_pd_olvane_switch_twiceNatAddrPort_table_modify_with_onMiss);
    OLVANE_PD_BIND(p4_pd_olvane_switch_twiceNatAddrPort_table_modify_with_twiceNatAddrPortHit);
    OLVANE_PD_BIND(
        p4_pd_olvane_switch_twiceNatAddrPort_table_modify_with_twiceNatAddrPortHitDynamic);
    OLVANE_PD_BIND(p4_pd_olvane_switch_twiceNatAddrPort_table_modify_with_twiceNatAddrPortHitEcmp);
    OLVANE_PD_BIND(
        p4_pd_olvane_switch_twiceNatAddrPort_table_modify_with_twiceNatAddrPortHitEcmpDynamic);
    OLVANE_PD_BIND(p4_pd_olvane_switch_twiceNatAddrPort_set_default_action_onMiss);
    OLVANE_PD_BIND(p4_pd_olvane_switch_twiceNatAddrPort_set_default_action_twiceNatAddrPortHit);
    OLVANE_PD_BIND(
        p4_pd_olvane_switch_twiceNatAddrPort_set_default_action_twiceNatAddrPortHitDynamic);
    OLVANE_PD_BIND(p4_pd_olvane_switch_twiceNatAddrPort_set_default_action_twiceNatAddrPortHitEcmp);
    OLVANE_PD_BIND(
        p4_pd_olvane_switch_twiceNatAddrPort_set_default_action_twiceNatAddrPortHitEcmpDynamic);
    OLVANE_PD_BIND(p4_pd_olvane_switch_twiceNatAddrPort_table_delete);
    OLVANE_PD_BIND(p4_pd_olvane_switch_twiceNatAddrPort_table_reset_default_entry);
    OLVANE_PD_BIND(p4_pd_olvane_switch_twiceNatAddrPort_get_entry);
    OLVANE_PD_BIND(p4_pd_olvane_switch_twiceNatAddrPort_get_entry_count);
    OLVANE_PD_BIND(p4_pd_olvane_switch_twiceNatAddrPort_get_first_entry_handle);
    OLVANE_PD_BIND(p4_pd_olvane_switch_twiceNatAddrPort_get_next_entry_handles);
    OLVANE_PD_BIND(p4_pd_olvane_switch_twiceNatAddrPort_table_get_default_entry_handle);
};

#undef OLVANE_PD_BIND

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

inline PdReadBack pdRead(const PdLibrary& pd, uint8_t dev, p4_pd_entry_hdl_t handle) {
    PdReadBack r;
    r.status = pd.p4_pd_olvane_switch_twiceNatAddrPort_get_entry(
        1, dev, handle, false, &r.match, r.actionName, r.actionSpec, &r.hitCount, &r.isDefault);
    return r;
}

}  // namespace ChipTest
