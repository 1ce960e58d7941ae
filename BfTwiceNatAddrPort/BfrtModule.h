#pragma once
// The BfRt key and data objects that belong to the loaded library as a whole:
// shared by every BfRt table, replaced by each table binding, reused by every
// entry operation so that steady state allocates nothing.

#include <array>
#include <memory>

#include "Export.h"
#include "sdk/bfrt.h"

namespace BfTwiceNatAddrPort {

struct BfRtModuleObjects {
    static constexpr std::size_t kActions = 5;

    std::unique_ptr<bfrt::BfRtTableKey> entryBfRtKey;
    std::unique_ptr<bfrt::BfRtTableKey> readBfRtKey;
    std::unique_ptr<bfrt::BfRtTableData> readBfRtData;
    // One per action type, bound to its action on first use after a binding.
    std::array<std::unique_ptr<bfrt::BfRtTableData>, kActions> actionBfRtData;
    std::array<bool, kActions> actionBfRtDataBound{};
    std::unique_ptr<bfrt::BfRtTableKey> actionProfileBfRtKey;
    std::unique_ptr<bfrt::BfRtTableData> actionProfileBfRtData;
    std::unique_ptr<bfrt::BfRtTableKey> selectorBfRtKey;
    std::unique_ptr<bfrt::BfRtTableData> selectorBfRtData;
};

// Empty when the library is loaded; released when it is unloaded. Exported for
// the library's own tests, which reset and inspect it.
BF_TWICE_NAT_ADDR_PORT_API BfRtModuleObjects& bfRtModuleObjects() noexcept;

}  // namespace BfTwiceNatAddrPort
