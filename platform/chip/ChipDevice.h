// One chip: the twiceNatAddrPort exact-match table of a device, kept in a shared-memory
// segment so that its entries outlive the agent process, as hardware does.
//
// Concurrency: one agent process drives a device at a time, and calls into one Device
// are made one at a time. The segment has no cross-process lock; a second process may
// map it only to read it or after the first has stopped (a restarted agent).
//
// Crash safety: every operation becomes visible through one store of a record's seal
// (see ChipRecord.h), so a kill at any instruction leaves each entry fully there or not
// there. Opening checks every record, reports the bad ones (they are quarantined until
// cleared), derives the free records and the entry count, and repairs the buckets.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "BucketIndex.h"
#include "ChipLayout.h"
#include "ChipStatus.h"
#include "FreeRecords.h"
#include "shm/Segment.h"

namespace Chip {

enum class Action : uint8_t {
    OnMiss = 0,
    Hit = 1,
    HitDynamic = 2,
    HitEcmp = 3,
    HitEcmpDynamic = 4
};
inline constexpr uint8_t kActionCount = 5;

struct EntryKey {
    uint16_t natKeyId = 0;
    uint16_t srcPort = 0;
    uint16_t dstPort = 0;
};

struct ActionData {
    Action action = Action::OnMiss;
    uint8_t prot = 0;
    uint16_t rwId = 0;
    uint16_t nextHop = 0;  // next hop for the plain hit actions, ECMP group for the others

    bool operator==(const ActionData&) const = default;
};

struct EntryView {
    EntryKey key;
    ActionData data;
    uint16_t pipe = 0;
    bool isDefault = false;
};

// Why a record found at open cannot be used.
enum class BadReason : uint8_t {
    Checksum,      // the seal does not match the record's bytes
    State,         // a state that cannot be in this position
    Action,        // an action id out of range
    Pipe,          // a pipe that does not exist or does not fit the table's scope
    DuplicateKey,  // another live record already holds the key in that pipe
    NoSlot,        // no bucket slot could be freed for it
};
const char* badReasonText(BadReason reason);

struct BadRecord {
    uint32_t index;  // record index; capacity() and above are the default records
    BadReason reason;
    uint32_t handle;  // the handle it answers to
};

// What opening had to put right in the derived structures.
struct Recovery {
    uint32_t slotsCleared = 0;  // bucket slots that named no live record, or a wrong one
    uint32_t slotsPlaced = 0;   // live records no bucket slot named
    bool scopeRepaired = false;
};

// PD calls address an entry by handle alone; object-runtime calls also name its pipe.
inline constexpr uint32_t kAnyPipe = UINT32_MAX;

// A segment that exists but cannot be this chip: wrong magic, version, sizes or device.
class SegmentError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class Device {
  public:
    // Maps the device's segment, creating it with `capacity` entries when it is absent;
    // an existing segment keeps its own capacity. Throws SegmentError for a bad segment.
    static std::unique_ptr<Device> open(uint32_t deviceId, const std::string& segmentName,
                                        uint32_t capacity);

    uint32_t deviceId() const { return header_->deviceId; }
    uint32_t capacity() const { return capacity_; }
    uint32_t entryCount() const { return entryCount_; }
    EntryScope entryScope() const { return static_cast<EntryScope>(header_->entryScope); }
    const std::string& segmentName() const { return segment_.name(); }

    // Setting the current scope again always succeeds; changing it needs an empty table.
    Status entryScopeIs(EntryScope scope);
    Status entryAdd(uint32_t pipe, const EntryKey& key, const ActionData& data, uint32_t* handle);
    Status entryModify(uint32_t handle, uint32_t pipe, const ActionData& data);
    Status entryDelete(uint32_t handle, uint32_t pipe);
    Status entryGet(uint32_t handle, uint32_t pipe, EntryView* out) const;
    // The default entry of the scope the pipe selects; its handle never changes.
    Status defaultEntrySet(uint32_t pipe, const ActionData& data, uint32_t* handle);
    Status defaultEntryReset(uint32_t pipe);

    // For tools that audit the table: the handles of the entries installed in `pipe`
    // (kAllPipes for the all-pipes scope), default entries excluded, in record order,
    // and the handle of the default entry of that pipe's scope.
    std::vector<uint32_t> entryHandles(uint16_t pipe) const;
    // Up to `n` handles of the listed entries of `pipe` after `handle` (from
    // the first when 0), in record order, into `out`; how many were written.
    uint32_t entryHandlesAfter(uint16_t pipe, uint32_t handle, uint32_t n, uint32_t* out) const;
    // Whether `handle` is a listed entry of `pipe`: live, not damaged, not a default.
    bool listedEntry(uint16_t pipe, uint32_t handle) const {
        return handle != 0 && handle <= capacity_ && listed(pipe, handle - 1);
    }
    uint32_t defaultEntryHandle(uint16_t pipe) const { return handleOf(defaultRecordIndex(pipe)); }

    // Records found bad at open, in record order. Their handles read as kHwAccessFails,
    // their keys may be added anew, and the records stay out of use until cleared.
    const std::vector<BadRecord>& badRecords() const { return bad_; }
    // Frees a bad entry record (its handle resolves again once the record is reused) or resets a
    // bad default record to the miss action. kObjectNotFound when `index` is not bad.
    Status badRecordClear(uint32_t index);
    const Recovery& recovery() const { return recovery_; }

  private:
    bool listed(uint16_t pipe, uint32_t recordIndex) const;
    explicit Device(Shm::Segment segment);
    // Derives the free records and entry count, finds bad records and repairs the
    // buckets and the scope.
    void recover();
    void recordBad(uint32_t index, BadReason reason);

    // Pipe an entry of `pipe` lives in under the current scope, or kInvalidArg.
    Status entryPipe(uint32_t pipe, uint16_t* entryPipe) const;
    // The live record `handle` names in `pipe`: kObjectNotFound when there is none,
    // kHwAccessFails when its bytes are damaged.
    Status liveRecord(uint32_t handle, uint32_t pipe, EntryRecord** out) const;
    // Found bad at open, or its bytes no longer match its seal.
    bool damaged(uint32_t recordIndex) const;
    // Writes `data` to the record's inactive action slot and switches to it.
    void actionCommit(EntryRecord& r, const ActionData& data);
    uint32_t defaultRecordIndex(uint16_t entryPipe) const;
    static uint32_t handleOf(uint32_t recordIndex) { return recordIndex + 1; }

    Shm::Segment segment_;
    SegmentHeader* header_;
    EntryRecord* records_;
    uint32_t capacity_;  // read once: the header is checked at open only
    BucketIndex index_;
    FreeRecords free_;
    uint32_t entryCount_ = 0;
    std::vector<BadRecord> bad_;
    std::vector<bool> isBad_;
    Recovery recovery_;
};

}  // namespace Chip
