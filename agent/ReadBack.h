#pragma once
// The installed entries, read back through the table library by their SDK
// handles: what `show`, `stats` and the demo's check report.

#include <optional>
#include <vector>

#include "AgentDevice.h"

namespace NatAgent {

struct ReadBackEntry {
    bool isDefault = false;
    SdkHandle handle = 0;
    MatchKey key = 0;                   // the book's key; 0 for the default entry
    std::optional<EntryFields> fields;  // nothing when the entry could not be read
};

// The default entry first, when it has been set (in this run or an earlier
// one), then the entries in key order.
std::vector<ReadBackEntry> readBackEntries(AgentDevice& device);
// The installed entry with `key`, or nothing.
std::optional<ReadBackEntry> readBackEntry(AgentDevice& device, MatchKey key);

}  // namespace NatAgent
