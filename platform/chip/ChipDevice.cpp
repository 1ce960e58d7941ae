#include "ChipDevice.h"

#include <algorithm>
#include <csignal>
#include <cstddef>
#include <random>
#include <sstream>

#include "ChipRecord.h"
#include "shm/Crc32c.h"

namespace Chip {

uint64_t storeKillCountdown = 0;

void storeKillNow() {
    if (--storeKillCountdown == 0) {
        std::raise(SIGKILL);
    }
}

namespace {

ActionSlot slotOf(const ActionData& data) {
    bool hasParams = data.action != Action::OnMiss;
    return {static_cast<uint8_t>(data.action), hasParams ? data.prot : uint8_t{0},
            hasParams ? data.rwId : uint16_t{0}, hasParams ? data.nextHop : uint16_t{0}, 0};
}

bool validAction(const ActionData& data) {
    return static_cast<uint8_t>(data.action) < kActionCount;
}

uint16_t defaultPipeOf(uint32_t defaultNumber) {
    return defaultNumber < kPipeCount ? static_cast<uint16_t>(defaultNumber) : kAllPipes;
}

uint32_t headerChecksum(const SegmentHeader& h) {
    constexpr std::size_t from = offsetof(SegmentHeader, layoutVersion);
    return Shm::crc32c(reinterpret_cast<const std::byte*>(&h) + from,
                       offsetof(SegmentHeader, hashSeed) - from);
}

[[noreturn]] void refuse(const std::string& name, const std::string& why) {
    throw SegmentError("chip segment " + name + " refused: " + why);
}

void checkHeader(const Shm::Segment& segment, uint32_t deviceId) {
    const std::string& name = segment.name();
    if (segment.size() < sizeof(SegmentHeader)) {
        refuse(name, "size " + std::to_string(segment.size()) + " is smaller than a header");
    }
    const auto& h = *reinterpret_cast<const SegmentHeader*>(segment.base());
    if (h.magic != kSegmentMagic) {
        std::ostringstream why;
        why << "bad magic 0x" << std::hex << h.magic << ", not a chip segment";
        refuse(name, why.str());
    }
    if (h.layoutVersion != kLayoutVersion) {
        refuse(name, "layout version " + std::to_string(h.layoutVersion) + ", expected " +
                         std::to_string(kLayoutVersion));
    }
    if (h.headerSize != sizeof(SegmentHeader) || h.recordSize != sizeof(EntryRecord) ||
        h.bucketWays != kBucketWays || h.pipeCount != kPipeCount) {
        refuse(name, "header, record, bucket or pipe sizes differ from this build");
    }
    if (h.capacity < kMinCapacity || h.capacity > kMaxCapacity) {
        refuse(name, "capacity " + std::to_string(h.capacity) + " out of range");
    }
    SegmentGeometry g = SegmentGeometry::forCapacity(h.capacity);
    if (h.bucketCount != g.bucketCount || h.bucketsOffset != g.bucketsOffset ||
        h.recordsOffset != g.recordsOffset || h.segmentSize != g.segmentSize) {
        refuse(name, "offsets do not match capacity " + std::to_string(h.capacity));
    }
    if (h.segmentSize != segment.size()) {
        refuse(name, "size " + std::to_string(segment.size()) + ", header says " +
                         std::to_string(h.segmentSize));
    }
    if (h.deviceId != deviceId) {
        refuse(name, "it belongs to device " + std::to_string(h.deviceId));
    }
    if (h.checksum != headerChecksum(h)) {
        refuse(name, "header checksum mismatch");
    }
}

// Lays out a blank chip in a zero-filled segment; the completion marker (the
// magic) goes in last, so a segment whose creation was cut short never reads
// as a chip and is made anew by the next opener.
void initialize(Shm::Segment& segment, uint32_t deviceId, uint32_t capacity) {
    SegmentGeometry g = SegmentGeometry::forCapacity(capacity);
    auto& h = *reinterpret_cast<SegmentHeader*>(segment.base());
    h.layoutVersion = kLayoutVersion;
    h.headerSize = sizeof(SegmentHeader);
    h.recordSize = sizeof(EntryRecord);
    h.bucketWays = kBucketWays;
    h.segmentSize = g.segmentSize;
    h.deviceId = deviceId;
    h.pipeCount = kPipeCount;
    h.capacity = capacity;
    h.bucketCount = g.bucketCount;
    h.bucketsOffset = g.bucketsOffset;
    h.recordsOffset = g.recordsOffset;
    h.hashSeed = (uint64_t{std::random_device{}()} << 32) | std::random_device{}();
    h.entryScope = static_cast<uint8_t>(EntryScope::AllPipes);
    h.checksum = headerChecksum(h);
    auto* records = reinterpret_cast<EntryRecord*>(segment.base() + g.recordsOffset);
    for (uint32_t i = 0; i < capacity; ++i) {
        sealStore(records[i], Seal{});
    }
    for (uint32_t p = 0; p < kDefaultRecordCount; ++p) {
        EntryRecord& r = records[capacity + p];
        r.pipe = defaultPipeOf(p);
        r.slot[0] = slotOf(ActionData{});
        sealStore(r, Seal{RecordState::Default});
    }
    segment.markComplete(kSegmentMagic);
}

}  // namespace

const char* badReasonText(BadReason reason) {
    switch (reason) {
        case BadReason::Checksum:
            return "checksum mismatch";
        case BadReason::State:
            return "invalid state";
        case BadReason::Action:
            return "invalid action";
        case BadReason::Pipe:
            return "invalid pipe";
        case BadReason::DuplicateKey:
            return "duplicate key";
        case BadReason::NoSlot:
            return "no bucket slot";
    }
    return "unknown";
}

std::unique_ptr<Device> Device::open(uint32_t deviceId, const std::string& segmentName,
                                     uint32_t capacity) {
    const bool canCreate = capacity >= kMinCapacity && capacity <= kMaxCapacity;
    Shm::Segment segment;
    try {
        segment = Shm::Segment::openOrCreate(
            segmentName, {"chip segment", sizeof(SegmentHeader),
                          canCreate ? SegmentGeometry::forCapacity(capacity).segmentSize : 0});
    } catch (const Shm::Error& e) {
        throw SegmentError(e.what() + (canCreate ? std::string()
                                                 : "; chip capacity " + std::to_string(capacity) +
                                                       " is out of range"));
    }
    if (segment.created()) {
        initialize(segment, deviceId, capacity);
    }
    checkHeader(segment, deviceId);
    std::unique_ptr<Device> device(new Device(std::move(segment)));
    device->recover();
    return device;
}

Device::Device(Shm::Segment segment)
    : segment_(std::move(segment)),
      header_(reinterpret_cast<SegmentHeader*>(segment_.base())),
      records_(reinterpret_cast<EntryRecord*>(segment_.base() + header_->recordsOffset)),
      capacity_(header_->capacity),
      index_(reinterpret_cast<Bucket*>(segment_.base() + header_->bucketsOffset),
             header_->bucketCount, records_, capacity_, header_->hashSeed),
      free_(capacity_),
      isBad_(capacity_ + kDefaultRecordCount) {}

void Device::recordBad(uint32_t index, BadReason reason) {
    bad_.push_back({index, reason, handleOf(index)});
    isBad_[index] = true;
}

void Device::recover() {
    std::vector<uint8_t> marks(capacity_, BucketIndex::kNotLive);
    uint32_t fits[2] = {0, 0};  // live entries that fit the all-pipes and single-pipe scopes
    for (uint32_t i = 0; i < capacity_ + kDefaultRecordCount; ++i) {
        const EntryRecord& r = records_[i];
        Seal s = sealOf(r);
        bool isEntry = i < capacity_;
        RecordState expected = isEntry ? RecordState::Entry : RecordState::Default;
        if (!sealIntact(r, s)) {
            recordBad(i, BadReason::Checksum);
        } else if (isEntry && s.state == RecordState::Free) {
            free_.insert(i);
        } else if (s.state != expected) {
            recordBad(i, BadReason::State);
        } else if (r.slot[s.activeSlot].action >= kActionCount) {
            recordBad(i, BadReason::Action);
        } else if (isEntry ? r.pipe >= kPipeCount && r.pipe != kAllPipes
                           : r.pipe != defaultPipeOf(i - capacity_)) {
            recordBad(i, BadReason::Pipe);
        } else if (isEntry) {
            marks[i] = BucketIndex::kLive;
            ++fits[r.pipe == kAllPipes ? 0 : 1];
        }
    }
    // The scope byte changes only on an empty table, so live entries outvote it.
    uint8_t scope = header_->entryScope;
    if (scope > 1 || (fits[scope] == 0 && fits[1 - scope] != 0)) {
        scope = fits[1] > fits[0] ? 1 : 0;
        header_->entryScope = scope;
        recovery_.scopeRepaired = true;
    }
    for (uint32_t i = 0; i < capacity_; ++i) {
        if (marks[i] == BucketIndex::kLive && (records_[i].pipe == kAllPipes) != (scope == 0)) {
            marks[i] = BucketIndex::kNotLive;
            recordBad(i, BadReason::Pipe);
        }
    }
    BucketIndex::Repair repair = index_.repair(marks);
    recovery_.slotsCleared = repair.slotsCleared;
    recovery_.slotsPlaced = repair.slotsPlaced;
    for (uint32_t i : repair.duplicates) {
        recordBad(i, BadReason::DuplicateKey);
    }
    for (uint32_t i : repair.unplaced) {
        recordBad(i, BadReason::NoSlot);
    }
    std::sort(bad_.begin(), bad_.end(),
              [](const BadRecord& a, const BadRecord& b) { return a.index < b.index; });
    entryCount_ = static_cast<uint32_t>(
        std::count(marks.begin(), marks.end(), uint8_t{BucketIndex::kIndexed}));
}

Status Device::badRecordClear(uint32_t index) {
    auto found = std::find_if(bad_.begin(), bad_.end(),
                              [index](const BadRecord& b) { return b.index == index; });
    if (found == bad_.end()) {
        return kObjectNotFound;
    }
    EntryRecord& r = records_[index];
    if (index < capacity_) {
        Seal old = sealOf(r);
        sealStore(r, Seal{RecordState::Free, 0,
                          static_cast<uint16_t>((old.generation + 1) & kGenerationMask)});
        free_.insert(index);
    } else {
        r.natKeyId = r.srcPort = r.dstPort = 0;
        r.pipe = defaultPipeOf(index - capacity_);
        r.slot[0] = slotOf(ActionData{});
        storePoint();
        sealStore(r, Seal{RecordState::Default});
    }
    isBad_[index] = false;
    bad_.erase(found);
    return kSuccess;
}

Status Device::entryPipe(uint32_t pipe, uint16_t* entryPipe) const {
    if (entryScope() == EntryScope::AllPipes) {
        if (pipe != kAllPipes) {
            return kInvalidArg;
        }
    } else if (pipe >= kPipeCount) {
        return kInvalidArg;
    }
    *entryPipe = static_cast<uint16_t>(pipe);
    return kSuccess;
}

uint32_t Device::defaultRecordIndex(uint16_t entryPipe) const {
    return capacity_ + (entryPipe == kAllPipes ? kPipeCount : entryPipe);
}

bool Device::listed(uint16_t pipe, uint32_t i) const {
    const EntryRecord& r = records_[i];
    return r.pipe == pipe && sealOf(r).state == RecordState::Entry && !isBad_[i];
}

std::vector<uint32_t> Device::entryHandles(uint16_t pipe) const {
    std::vector<uint32_t> handles;
    handles.reserve(entryCount());
    for (uint32_t i = 0; i < capacity_; ++i) {
        if (listed(pipe, i)) {
            handles.push_back(handleOf(i));
        }
    }
    return handles;
}

uint32_t Device::entryHandlesAfter(uint16_t pipe, uint32_t handle, uint32_t n,
                                   uint32_t* out) const {
    uint32_t count = 0;
    for (uint32_t i = handle; i < capacity_ && count < n; ++i) {
        if (listed(pipe, i)) {
            out[count++] = handleOf(i);
        }
    }
    return count;
}

Status Device::liveRecord(uint32_t handle, uint32_t pipe, EntryRecord** out) const {
    const uint32_t slot = handle;
    if (slot == 0 || slot > capacity_ + kDefaultRecordCount) {
        return kObjectNotFound;
    }
    EntryRecord& r = records_[slot - 1];
    Seal s = sealOf(r);
    if (s.state == RecordState::Free) {
        return kObjectNotFound;
    }
    uint16_t scopePipe = 0;
    if (s.state == RecordState::Default && entryPipe(r.pipe, &scopePipe) != kSuccess) {
        return kObjectNotFound;  // default entry of the other scope
    }
    if (pipe != kAnyPipe && pipe != r.pipe) {
        return kObjectNotFound;
    }
    if (damaged(slot - 1)) {
        return kHwAccessFails;
    }
    *out = &r;
    return kSuccess;
}

bool Device::damaged(uint32_t recordIndex) const {
    const EntryRecord& r = records_[recordIndex];
    return isBad_[recordIndex] || !sealIntact(r, sealOf(r));
}

void Device::actionCommit(EntryRecord& r, const ActionData& data) {
    Seal s = sealOf(r);
    s.activeSlot ^= 1;
    r.slot[s.activeSlot] = slotOf(data);
    storePoint();
    sealStore(r, s);
}

Status Device::entryScopeIs(EntryScope scope) {
    if (scope == entryScope()) {
        return kSuccess;
    }
    if (static_cast<uint8_t>(scope) > 1 || entryCount() != 0) {
        return kInvalidArg;
    }
    header_->entryScope = static_cast<uint8_t>(scope);
    storePoint();
    return kSuccess;
}

Status Device::entryAdd(uint32_t pipe, const EntryKey& key, const ActionData& data,
                        uint32_t* handle) {
    uint16_t livePipe = 0;
    if (handle == nullptr || !validAction(data) || entryPipe(pipe, &livePipe) != kSuccess) {
        return kInvalidArg;
    }
    uint64_t placement = placementKey(key.natKeyId, key.srcPort, key.dstPort, livePipe);
    if (index_.find(placement) != BucketIndex::kNotFound) {
        return kAlreadyExists;
    }
    uint32_t recordIndex = free_.lowest();
    if (recordIndex == FreeRecords::kNone) {
        return kNoSpace;
    }
    // A free record's bytes are scratch until its seal says otherwise, and a bucket
    // slot naming a free record is ignored, so only the seal store commits the add.
    EntryRecord& r = records_[recordIndex];
    r.natKeyId = key.natKeyId;
    r.srcPort = key.srcPort;
    r.dstPort = key.dstPort;
    r.pipe = livePipe;
    r.slot[0] = slotOf(data);
    storePoint();
    if (!index_.insert(placement, recordIndex)) {
        return kNoSpace;
    }
    sealStore(r, Seal{RecordState::Entry, 0, sealOf(r).generation});
    free_.erase(recordIndex);
    ++entryCount_;
    *handle = handleOf(recordIndex);
    return kSuccess;
}

Status Device::entryModify(uint32_t handle, uint32_t pipe, const ActionData& data) {
    if (!validAction(data)) {
        return kInvalidArg;
    }
    EntryRecord* r = nullptr;
    if (Status st = liveRecord(handle, pipe, &r)) {
        return st;
    }
    actionCommit(*r, data);
    return kSuccess;
}

Status Device::entryDelete(uint32_t handle, uint32_t pipe) {
    EntryRecord* r = nullptr;
    if (Status st = liveRecord(handle, pipe, &r)) {
        return st;
    }
    Seal s = sealOf(*r);
    if (s.state == RecordState::Default) {
        return kInvalidArg;  // the default entry is reset, never deleted
    }
    auto recordIndex = static_cast<uint32_t>(r - records_);
    sealStore(*r, Seal{RecordState::Free, 0,
                       static_cast<uint16_t>((s.generation + 1) & kGenerationMask)});
    index_.erase(placementKey(*r), recordIndex);
    free_.insert(recordIndex);
    --entryCount_;
    return kSuccess;
}

Status Device::entryGet(uint32_t handle, uint32_t pipe, EntryView* out) const {
    if (out == nullptr) {
        return kInvalidArg;
    }
    EntryRecord* r = nullptr;
    if (Status st = liveRecord(handle, pipe, &r)) {
        return st;
    }
    Seal s = sealOf(*r);
    const ActionSlot& a = r->slot[s.activeSlot];
    out->key = {r->natKeyId, r->srcPort, r->dstPort};
    out->data = {static_cast<Action>(a.action), a.prot, a.rwId, a.nextHop};
    out->pipe = r->pipe;
    out->isDefault = s.state == RecordState::Default;
    return kSuccess;
}

Status Device::defaultEntrySet(uint32_t pipe, const ActionData& data, uint32_t* handle) {
    uint16_t livePipe = 0;
    if (handle == nullptr || !validAction(data) || entryPipe(pipe, &livePipe) != kSuccess) {
        return kInvalidArg;
    }
    uint32_t recordIndex = defaultRecordIndex(livePipe);
    if (damaged(recordIndex)) {
        return kHwAccessFails;
    }
    actionCommit(records_[recordIndex], data);
    *handle = handleOf(recordIndex);
    return kSuccess;
}

Status Device::defaultEntryReset(uint32_t pipe) {
    uint16_t livePipe = 0;
    if (entryPipe(pipe, &livePipe) != kSuccess) {
        return kInvalidArg;
    }
    uint32_t recordIndex = defaultRecordIndex(livePipe);
    if (damaged(recordIndex)) {
        return kHwAccessFails;
    }
    actionCommit(records_[recordIndex], ActionData{});
    return kSuccess;
}

}  // namespace Chip
