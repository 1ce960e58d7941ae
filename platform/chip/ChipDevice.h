// One chip: the twiceNatAddrPort exact-match table of a device, kept in a shared-memory
// segment so that its entries outlive the agent process, as hardware does.
//
// Concurrency: one agent process drives a device at a time, and calls into one Device
// are made one at a time. The segment has no cross-process lock; a second process may
// map it only to read it or after the first has stopped (a restarted agent).
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "BucketIndex.h"
#include "ChipLayout.h"
#include "ChipStatus.h"
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
};

struct EntryView {
    EntryKey key;
    ActionData data;
    uint16_t pipe = 0;
    bool isDefault = false;
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
    uint32_t capacity() const { return header_->capacity; }
    uint32_t entryCount() const { return header_->entryCount; }
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
    uint32_t defaultEntryHandle(uint16_t pipe) const { return handleOf(defaultRecordIndex(pipe)); }

  private:
    explicit Device(Shm::Segment segment);

    // Pipe an entry of `pipe` lives in under the current scope, or kInvalidArg.
    Status entryPipe(uint32_t pipe, uint16_t* entryPipe) const;
    EntryRecord* liveRecord(uint32_t handle, uint32_t pipe) const;
    uint32_t defaultRecordIndex(uint16_t entryPipe) const;
    uint32_t handleOf(uint32_t recordIndex) const;
    void initialize(uint32_t deviceId, uint32_t capacity);

    Shm::Segment segment_;
    SegmentHeader* header_;
    EntryRecord* records_;
    uint32_t* freeRing_;
    BucketIndex index_;
};

}  // namespace Chip
