#include "ChipDevice.h"

#include <cstring>
#include <random>
#include <sstream>

namespace Chip {

namespace {

uint32_t recordChecksum(const EntryRecord& r) {
    uint32_t hash = 2166136261u;  // FNV-1a
    const auto* bytes = reinterpret_cast<const unsigned char*>(&r);
    for (std::size_t i = 0; i < offsetof(EntryRecord, checksum); ++i) {
        hash = (hash ^ bytes[i]) * 16777619u;
    }
    return hash;
}

void stamp(EntryRecord& r) {
    r.checksum = recordChecksum(r);
}

void writeAction(EntryRecord& r, const ActionData& data) {
    bool hasParams = data.action != Action::OnMiss;
    r.action = static_cast<uint8_t>(data.action);
    r.rwId = hasParams ? data.rwId : 0;
    r.prot = hasParams ? data.prot : 0;
    r.nextHop = hasParams ? data.nextHop : 0;
    stamp(r);
}

bool validAction(const ActionData& data) {
    return static_cast<uint8_t>(data.action) < kActionCount;
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
        h.recordsOffset != g.recordsOffset || h.freeRingOffset != g.freeRingOffset ||
        h.segmentSize != g.segmentSize) {
        refuse(name, "offsets do not match capacity " + std::to_string(h.capacity));
    }
    if (h.segmentSize != segment.size()) {
        refuse(name, "size " + std::to_string(segment.size()) + ", header says " +
                         std::to_string(h.segmentSize));
    }
    if (h.deviceId != deviceId) {
        refuse(name, "it belongs to device " + std::to_string(h.deviceId));
    }
    if (h.entryScope > 1 || h.freeHead >= h.capacity ||
        uint64_t{h.entryCount} + h.freeCount != h.capacity) {
        refuse(name, "entry bookkeeping is inconsistent");
    }
}

}  // namespace

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
    const bool created = segment.created();
    if (created) {
        auto* header = reinterpret_cast<SegmentHeader*>(segment.base());
        header->capacity = capacity;  // the mapping code needs it; magic stays 0 until
        header->deviceId = deviceId;  // initialize() has written everything else
    } else {
        checkHeader(segment, deviceId);
    }
    std::unique_ptr<Device> device(new Device(std::move(segment)));
    if (created) {
        device->initialize(deviceId, capacity);
    }
    return device;
}

Device::Device(Shm::Segment segment)
    : segment_(std::move(segment)),
      header_(reinterpret_cast<SegmentHeader*>(segment_.base())),
      records_(nullptr),
      freeRing_(nullptr),
      index_(nullptr, 0, nullptr, 0) {
    SegmentGeometry g = SegmentGeometry::forCapacity(header_->capacity);
    records_ = reinterpret_cast<EntryRecord*>(segment_.base() + g.recordsOffset);
    freeRing_ = reinterpret_cast<uint32_t*>(segment_.base() + g.freeRingOffset);
    uint64_t seed = header_->hashSeed;
    if (header_->magic != kSegmentMagic) {  // being created: pick this chip's hash seed
        seed = (uint64_t{std::random_device{}()} << 32) | std::random_device{}();
        header_->hashSeed = seed;
    }
    index_ = BucketIndex(reinterpret_cast<Bucket*>(segment_.base() + g.bucketsOffset),
                         g.bucketCount, records_, seed);
}

void Device::initialize(uint32_t deviceId, uint32_t capacity) {
    SegmentGeometry g = SegmentGeometry::forCapacity(capacity);
    SegmentHeader& h = *header_;
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
    h.freeRingOffset = g.freeRingOffset;
    h.entryCount = 0;
    h.freeHead = 0;
    h.freeCount = capacity;
    h.entryScope = static_cast<uint8_t>(EntryScope::AllPipes);
    for (uint32_t i = 0; i < capacity; ++i) {
        freeRing_[i] = i;
        stamp(records_[i]);
    }
    for (uint32_t p = 0; p < kDefaultRecordCount; ++p) {
        EntryRecord& r = records_[capacity + p];
        r.pipe = p < kPipeCount ? static_cast<uint16_t>(p) : kAllPipes;
        r.state = static_cast<uint8_t>(RecordState::Default);
        writeAction(r, ActionData{});
    }
    segment_.markComplete(kSegmentMagic);
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
    return capacity() + (entryPipe == kAllPipes ? kPipeCount : entryPipe);
}

std::vector<uint32_t> Device::entryHandles(uint16_t pipe) const {
    std::vector<uint32_t> handles;
    handles.reserve(entryCount());
    for (uint32_t i = 0; i < capacity(); ++i) {
        if (records_[i].state == static_cast<uint8_t>(RecordState::Entry) &&
            records_[i].pipe == pipe) {
            handles.push_back(handleOf(i));
        }
    }
    return handles;
}

uint32_t Device::handleOf(uint32_t recordIndex) const {
    return (records_[recordIndex].generation & kGenerationMask) << kHandleIndexBits |
           (recordIndex + 1);
}

EntryRecord* Device::liveRecord(uint32_t handle, uint32_t pipe) const {
    uint32_t slot = handle & kHandleIndexMask;
    if (slot == 0 || slot > capacity() + kDefaultRecordCount) {
        return nullptr;
    }
    EntryRecord& r = records_[slot - 1];
    if (r.state == static_cast<uint8_t>(RecordState::Free) ||
        (r.generation & kGenerationMask) != handle >> kHandleIndexBits) {
        return nullptr;
    }
    uint16_t scopePipe = 0;
    if (r.state == static_cast<uint8_t>(RecordState::Default) &&
        entryPipe(r.pipe, &scopePipe) != kSuccess) {
        return nullptr;  // default entry of the other scope
    }
    if (pipe != kAnyPipe && pipe != r.pipe) {
        return nullptr;
    }
    return &r;
}

Status Device::entryScopeIs(EntryScope scope) {
    if (scope == entryScope()) {
        return kSuccess;
    }
    if (static_cast<uint8_t>(scope) > 1 || entryCount() != 0) {
        return kInvalidArg;
    }
    header_->entryScope = static_cast<uint8_t>(scope);
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
    SegmentHeader& h = *header_;
    if (h.freeCount == 0) {
        return kNoSpace;
    }
    uint32_t recordIndex = freeRing_[h.freeHead];
    EntryRecord& r = records_[recordIndex];
    r.natKeyId = key.natKeyId;
    r.srcPort = key.srcPort;
    r.dstPort = key.dstPort;
    r.pipe = livePipe;
    r.state = static_cast<uint8_t>(RecordState::Entry);
    writeAction(r, data);
    if (!index_.insert(placement, recordIndex)) {
        r.state = static_cast<uint8_t>(RecordState::Free);
        stamp(r);
        return kNoSpace;
    }
    h.freeHead = (h.freeHead + 1) % h.capacity;
    --h.freeCount;
    ++h.entryCount;
    *handle = handleOf(recordIndex);
    return kSuccess;
}

Status Device::entryModify(uint32_t handle, uint32_t pipe, const ActionData& data) {
    if (!validAction(data)) {
        return kInvalidArg;
    }
    EntryRecord* r = liveRecord(handle, pipe);
    if (r == nullptr) {
        return kObjectNotFound;
    }
    writeAction(*r, data);
    return kSuccess;
}

Status Device::entryDelete(uint32_t handle, uint32_t pipe) {
    EntryRecord* r = liveRecord(handle, pipe);
    if (r == nullptr) {
        return kObjectNotFound;
    }
    if (r->state == static_cast<uint8_t>(RecordState::Default)) {
        return kInvalidArg;  // the default entry is reset, never deleted
    }
    auto recordIndex = static_cast<uint32_t>(r - records_);
    index_.erase(placementKey(*r), recordIndex);
    r->state = static_cast<uint8_t>(RecordState::Free);
    r->generation = (r->generation + 1) & kGenerationMask;
    stamp(*r);
    SegmentHeader& h = *header_;
    freeRing_[(h.freeHead + h.freeCount) % h.capacity] = recordIndex;
    ++h.freeCount;
    --h.entryCount;
    return kSuccess;
}

Status Device::entryGet(uint32_t handle, uint32_t pipe, EntryView* out) const {
    if (out == nullptr) {
        return kInvalidArg;
    }
    const EntryRecord* r = liveRecord(handle, pipe);
    if (r == nullptr) {
        return kObjectNotFound;
    }
    if (r->checksum != recordChecksum(*r)) {
        return kHwAccessFails;
    }
    out->key = {r->natKeyId, r->srcPort, r->dstPort};
    out->data = {static_cast<Action>(r->action), r->prot, r->rwId, r->nextHop};
    out->pipe = r->pipe;
    out->isDefault = r->state == static_cast<uint8_t>(RecordState::Default);
    return kSuccess;
}

Status Device::defaultEntrySet(uint32_t pipe, const ActionData& data, uint32_t* handle) {
    uint16_t livePipe = 0;
    if (handle == nullptr || !validAction(data) || entryPipe(pipe, &livePipe) != kSuccess) {
        return kInvalidArg;
    }
    uint32_t recordIndex = defaultRecordIndex(livePipe);
    writeAction(records_[recordIndex], data);
    *handle = handleOf(recordIndex);
    return kSuccess;
}

Status Device::defaultEntryReset(uint32_t pipe) {
    uint16_t livePipe = 0;
    if (entryPipe(pipe, &livePipe) != kSuccess) {
        return kInvalidArg;
    }
    writeAction(records_[defaultRecordIndex(livePipe)], ActionData{});
    return kSuccess;
}

}  // namespace Chip
