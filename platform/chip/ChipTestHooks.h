// Test hooks of the chip, process-local and off by default. When neither the call log
// nor a fault is armed, a chip call pays one predictable branch for them.
//
// Call log. Each PD function and object-runtime call appends one record, before it
// runs, with the function name and a canonical text of its input arguments:
//
//   text() = function + "(" + args + ")",  args = "name=value" joined by ", "
//
//   integers         decimal                             sess=7, hdl=3, flags=32
//   C structures     bytes in memory order, lower-case   dev_tgt=[00 00 00 00 ff ff 00 00]
//                    hex; padding that callers never     action=[01 00 06 -- 02 00]
//                    write is shown as "--"
//   null pointer     null                                match=null
//   optional output  null or ptr (whether it was given)  hit_count=null
//   object key       [id:value ...] in field id order    key=[1:1 2:2 3:3]
//   object data      [action=id id:value ...], the       data=[action=102 11:1 12:6 13:2]
//                    fields of the bound action
//
// Output arguments that must be given are not shown. Object-runtime table calls
// start with "table=<name>" (the type-0 table is "twiceNatAddrPort"). Function names
// are those of ChipCalls.h: the full PD function name, "OlvaneBfRtTable::<method>",
// "BfRtTableKey::<method>", "BfRtTableData::<method>" and
// "BfRtTableAttributes::<method>". Arguments in order, per call:
//
//   PD set_property                 sess, dev_id, property, value
//   PD table_add_with_<action>      sess, dev_tgt, match[, action]   (no action for onMiss)
//   PD table_modify_with_<action>   sess, dev_id, hdl[, action]
//   PD set_default_action_<action>  sess, dev_tgt[, action]
//   PD table_delete                 sess, dev_id, hdl
//   PD table_reset_default_entry    sess, dev_tgt
//   PD get_entry                    sess, dev_id, hdl, read_from_hw (0/1), hit_count
//   PD get_entry_count, get_first_entry_handle, table_get_default_entry_handle
//                                   sess, dev_tgt
//   PD get_next_entry_handles       sess, dev_tgt, hdl, n
//   tableTypeGet, keyAllocate, keyReset, dataAllocate, dataReset   table
//   dataReset with an action id     table, action
//   keyFieldIdGet, actionIdGet      table, name
//   dataFieldIdGet                  table, name, action
//   deviceTargetIs                  table, target
//   attributeAllocate               table, type
//   tableAttributesSet              table, sess, target, scope
//   tableEntryAdd                   table, sess, target, key, data
//   tableEntryMod                   table, sess, target, flags, hdl, data
//   tableDefaultEntrySet            table, sess, target, flags, data
//   tableEntryDel                   table, sess, target, hdl
//   tableDefaultEntryReset          table, sess, target
//   tableEntryGet                   table, sess, target, flags, hdl
//   tableUsageGet, tableEntryGetFirst   table, sess, target, flags
//   tableEntryGetNext_n             table, sess, target, hdl, n
//   BfRtTableKey/Data::setValue     field, value
//   BfRtTableKey/Data::getValue     field
//   BfRtTableData::actionIdGet      (no arguments)
//   BfRtTableAttributes::entryScopeParamsSet   scope
//
// Example: p4_pd_olvane_switch_twiceNatAddrPort_table_add_with_twiceNatAddrPortHit(sess=7,
//   dev_tgt=[00 00 00 00 ff ff 00 00], match=[01 00 02 00 03 00], action=[01 00 06 -- 02 00])
//
// Fault injection. faultIs(name, n, status) makes the next n calls of that function
// return `status` without touching the table or any output argument. Faulted calls
// are still logged.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ChipCalls.h"
#include "ChipStatus.h"

namespace Chip::TestHooks {

struct CallRecord {
    std::string function;
    std::string args;

    std::string text() const { return function + "(" + args + ")"; }
    bool operator==(const CallRecord&) const = default;
};

void callLogEnable(bool on);
bool callLogEnabled();
void callLogClear();
std::vector<CallRecord> callLog();
// The text() of every record, in call order.
std::vector<std::string> callLogTexts();

// Calls made while counting is on, by call; turning it on starts from zero. Cheaper
// than the log when only the numbers matter.
using CallCounts = std::array<uint64_t, static_cast<std::size_t>(Call::Count)>;
void callCountingEnable(bool on);
CallCounts callCounts();

// Throws std::invalid_argument for a name that is no chip call or a status of 0.
void faultIs(std::string_view function, uint32_t count, Status status);
uint32_t faultsPending(std::string_view function);
void faultsClear();

// Key, data and attributes objects of the object runtime: alive now, and ever made.
struct ObjectCounts {
    uint64_t live = 0;
    uint64_t total = 0;
};
struct AllocationCounts {
    ObjectCounts keys;
    ObjectCounts data;
    ObjectCounts attributes;
};
AllocationCounts allocationCounts();

// Log and counting off and empty, no fault pending. Allocation counts are never reset.
void reset();

}  // namespace Chip::TestHooks
