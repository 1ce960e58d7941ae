#include "SdkView.h"

#include <cstring>
#include <string_view>
#include <type_traits>

#include "AgentError.h"

namespace NatAgent {

namespace {

constexpr const char* kActionPrefix = "p4_pd_olvane_switch_";
// Handles asked for per listing call.
constexpr std::uint32_t kHandlesPerCall = 1024;
constexpr p4_pd_status_t kObjectNotFound = 6;

template <class Function>
Function* bound(const SharedLibrary& library, const char* name) {
    return library.function<Function>(name);
}

void check(p4_pd_status_t status, const char* what) {
    if (status != 0) {
        throw AgentError(std::string("the PD library's ") + what + " failed with status " +
                         std::to_string(status));
    }
}

}  // namespace

#define OLVANE_PD_FUNCTION(member, name) \
    member(bound<std::remove_pointer_t<decltype(member)>>(pdLibrary, #name))

SdkView::SdkView(const SharedLibrary& pdLibrary, std::uint32_t sessionId, std::uint8_t deviceId)
    : sessionId_(sessionId),
      deviceId_(deviceId),
      OLVANE_PD_FUNCTION(entryCount_, p4_pd_olvane_switch_twiceNatAddrPort_get_entry_count),
      OLVANE_PD_FUNCTION(firstHandle_, p4_pd_olvane_switch_twiceNatAddrPort_get_first_entry_handle),
      OLVANE_PD_FUNCTION(nextHandles_, p4_pd_olvane_switch_twiceNatAddrPort_get_next_entry_handles),
      OLVANE_PD_FUNCTION(defaultHandle_,
                         p4_pd_olvane_switch_twiceNatAddrPort_table_get_default_entry_handle),
      OLVANE_PD_FUNCTION(getEntry_, p4_pd_olvane_switch_twiceNatAddrPort_get_entry) {
    // The SDK serves open sessions only: open the one the agent passes to every call.
    p4_pd_sess_hdl_t opened = 0;
    check(bound<decltype(p4_pd_olvane_switch_client_init)>(
              pdLibrary, "p4_pd_olvane_switch_client_init")(&opened),
          "client_init");
    if (opened != sessionId_) {
        throw AgentError("the PD library opened session " + std::to_string(opened) + ", not " +
                         std::to_string(sessionId_));
    }
}

#undef OLVANE_PD_FUNCTION

std::uint32_t SdkView::count(std::uint16_t pipe) const {
    std::uint32_t n = 0;
    check(entryCount_(sessionId_, target(pipe), &n), "get_entry_count");
    return n;
}

std::vector<std::uint32_t> SdkView::handles(std::uint16_t pipe) const {
    std::vector<std::uint32_t> found;
    p4_pd_entry_hdl_t handle = 0;
    const p4_pd_status_t first = firstHandle_(sessionId_, target(pipe), &handle);
    if (first == kObjectNotFound) {
        return found;
    }
    check(first, "get_first_entry_handle");
    found.push_back(handle);
    for (;;) {
        const std::size_t at = found.size();
        found.resize(at + kHandlesPerCall);
        std::uint32_t returned = 0;
        check(nextHandles_(sessionId_, target(pipe), found[at - 1], kHandlesPerCall, &found[at],
                           &returned),
              "get_next_entry_handles");
        found.resize(at + returned);
        if (returned < kHandlesPerCall) {
            return found;
        }
    }
}

std::vector<SdkEntry> SdkView::entries(std::uint16_t pipe, std::uint32_t* unreadable) const {
    std::vector<SdkEntry> found;
    std::uint32_t bad = 0;
    char action[P4_PD_OLVANE_SWITCH_ACTION_NAME_MAX];
    std::uint8_t spec[sizeof(p4_pd_olvane_switch_twiceNatAddrPortHit_action_spec_t)] = {};
    for (const std::uint32_t handle : handles(pipe)) {
        SdkEntry entry;
        entry.handle = handle;
        if (getEntry_(sessionId_, deviceId_, handle, false, &entry.match, action, spec, nullptr,
                      nullptr) != 0) {
            ++bad;
            continue;
        }
        p4_pd_olvane_switch_twiceNatAddrPortHit_action_spec_t params;
        std::memcpy(&params, spec, sizeof params);
        entry.rwId = params.action_rw_id;
        entry.prot = params.action_prot;
        entry.next = params.action_next_hop;
        const std::string_view name = action;
        entry.action = name.starts_with(kActionPrefix)
                           ? name.substr(std::string_view(kActionPrefix).size())
                           : name;
        found.push_back(std::move(entry));
    }
    if (unreadable != nullptr) {
        *unreadable = bad;
    }
    return found;
}

std::uint32_t SdkView::defaultHandle(std::uint16_t pipe) const {
    p4_pd_entry_hdl_t handle = 0;
    check(defaultHandle_(sessionId_, target(pipe), &handle), "table_get_default_entry_handle");
    return handle;
}

}  // namespace NatAgent
