#pragma once
// Compares the chip's entries of the device's pipe with the key manager's
// records and, when the device has a table, with the table's handle map.
// The audit itself only reads; repair() fixes what an audit found.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "AgentDevice.h"

namespace NatAgent {

struct AuditFinding {
    enum class Kind {
        Orphan,              // a chip entry that no record names
        RecordWithoutEntry,  // a record whose handle names no chip entry, or no handle at all
        HandleNamedTwice,    // a record naming a handle that an earlier record names
        CorruptRecord,       // a record that fails its check; the walk stopped there
        Bookkeeping,         // the table's handle map disagrees with the records
    };
    Kind kind;
    std::uint32_t handle = 0;
    Kiv::U64 key = 0;  // the record's key, when a record is concerned
    std::string text;
};
const char* findingName(AuditFinding::Kind kind);

struct AuditReport {
    std::uint64_t chipEntries = 0;
    std::uint64_t records = 0;
    std::uint64_t unreadableChipRecords = 0;
    std::uint64_t handleMapPairs = 0;  // checked pairs, when the device has a table
    bool walkComplete = true;
    std::vector<AuditFinding> findings;
};

AuditReport audit(AgentDevice& device);

// The key of a chip entry, as the table's match spec fields make it.
MatchKey chipEntryKey(const TableSchema& schema, const SdkEntry& entry);

// Gives the orphans of `report` that `adopt` accepts key records of their
// own, so that the table's resync takes them over, and drops them from the
// findings; returns how many. Call it before the device has a table.
std::uint64_t adoptOrphans(AgentDevice& device, AuditReport& report,
                           const std::function<bool(const SdkEntry&)>& adopt);

// What a kill between a chip call and its key records left, finished before
// the table resyncs, each kind said with its count on stderr:
// - an entry that reached the chip before its handle was recorded is adopted;
// - when several records name the default entry (a default set records the
//   entry anew before it frees the earlier record), all but the first are freed.
// Nothing when the record walk is incomplete: a record after the corrupt one
// may name the entry.
void finishCrashedOperations(AgentDevice& device);

struct RepairReport {
    std::vector<std::string> done;
    std::vector<std::string> failed;
};

// Quarantines corrupt records, deletes orphans through the PD library and
// frees records without an entry. Run it on a device without a table: the
// records it frees must not be bound to a table's match objects.
RepairReport repair(AgentDevice& device, const AuditReport& report);

}  // namespace NatAgent
