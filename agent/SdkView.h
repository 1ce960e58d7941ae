#pragma once
// The table's installed entries as the SDK lists them, through the PD
// library's listing functions and its entry reader: what audit and stats
// compare with the agent's own bookkeeping.

#include <cstdint>
#include <string>
#include <vector>

#include "SharedLibrary.h"
#include "sdk/olvane_switch_pd.h"

namespace NatAgent {

struct SdkEntry {
    std::uint32_t handle = 0;
    p4_pd_olvane_switch_twiceNatAddrPort_match_spec_t match{};
    std::string action;  // without the program's prefix, e.g. "twiceNatAddrPortHit"
    // Every action spec of the table lays out its parameters alike: rewrite id,
    // protocol, then next hop or ECMP group. Zero for the miss action.
    std::uint16_t rwId = 0;
    std::uint8_t prot = 0;
    std::uint16_t next = 0;
};

class SdkView {
  public:
    // Binds the functions from `pdLibrary` and opens session `sessionId`, which must be
    // the first the process opens; throws AgentError naming a function it lacks.
    SdkView(const SharedLibrary& pdLibrary, std::uint32_t sessionId, std::uint8_t deviceId);

    // The entries of `pipe` (0xFFFF: the all-pipes scope), default entries
    // excluded, in the SDK's order. An entry that cannot be read is left out
    // and counted in `unreadable`. Throws AgentError when listing fails.
    std::vector<SdkEntry> entries(std::uint16_t pipe, std::uint32_t* unreadable = nullptr) const;
    std::vector<std::uint32_t> handles(std::uint16_t pipe) const;
    std::uint32_t count(std::uint16_t pipe) const;
    // The handle of the default entry of `pipe`'s scope.
    std::uint32_t defaultHandle(std::uint16_t pipe) const;

  private:
    p4_pd_dev_target_t target(std::uint16_t pipe) const { return {deviceId_, pipe, 0}; }

    std::uint32_t sessionId_;
    std::uint8_t deviceId_;
    decltype(&p4_pd_olvane_switch_twiceNatAddrPort_get_entry_count) entryCount_;
    decltype(&p4_pd_olvane_switch_twiceNatAddrPort_get_first_entry_handle) firstHandle_;
    decltype(&p4_pd_olvane_switch_twiceNatAddrPort_get_next_entry_handles) nextHandles_;
    decltype(&p4_pd_olvane_switch_twiceNatAddrPort_table_get_default_entry_handle) defaultHandle_;
    decltype(&p4_pd_olvane_switch_twiceNatAddrPort_get_entry) getEntry_;
};

}  // namespace NatAgent
