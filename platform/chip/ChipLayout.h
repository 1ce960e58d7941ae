// Layout of a chip segment in shared memory. Every process that maps the segment
// reads these structures in place, so they hold fixed-width integers and offsets,
// never pointers. Bump kLayoutVersion whenever any structure here changes.
//
//   [SegmentHeader][Bucket x bucketCount][EntryRecord x recordCount][uint32 x capacity]
//                                         entries, then defaults     FIFO of free records
#pragma once

#include <cstddef>
#include <cstdint>

namespace Chip {

inline constexpr uint64_t kSegmentMagic = 0x3150494843564c4fULL;  // "OLVCHIP1"
inline constexpr uint32_t kLayoutVersion = 1;

inline constexpr uint32_t kPipeCount = 4;
inline constexpr uint16_t kAllPipes = 0xFFFF;
inline constexpr uint32_t kDefaultCapacity = 65536;
inline constexpr uint32_t kBucketWays = 4;

// Handle = generation << kHandleIndexBits | (record index + 1): never 0, and a record
// freed and reused carries a new generation, so the old handle no longer resolves.
inline constexpr uint32_t kHandleIndexBits = 20;
inline constexpr uint32_t kHandleIndexMask = (1u << kHandleIndexBits) - 1;
inline constexpr uint32_t kGenerationMask = (1u << (32 - kHandleIndexBits)) - 1;
// One default record per pipe plus one for the all-pipes scope.
inline constexpr uint32_t kDefaultRecordCount = kPipeCount + 1;
inline constexpr uint32_t kMinCapacity = 8;
inline constexpr uint32_t kMaxCapacity = kHandleIndexMask - kDefaultRecordCount;

enum class EntryScope : uint8_t { AllPipes = 0, SinglePipe = 1 };

enum class RecordState : uint8_t { Free = 0, Entry = 1, Default = 2 };

struct EntryRecord {
    uint16_t natKeyId;
    uint16_t srcPort;
    uint16_t dstPort;
    uint16_t pipe;
    uint16_t rwId;
    uint16_t nextHop;  // next hop or ECMP group, by action
    uint8_t action;
    uint8_t prot;
    uint8_t state;
    uint8_t reserved;
    uint32_t generation;
    uint32_t checksum;  // over every byte before it
};
static_assert(sizeof(EntryRecord) == 24);
static_assert(offsetof(EntryRecord, checksum) == 20);

struct Bucket {
    uint32_t slot[kBucketWays];  // record index + 1, 0 when empty
};
static_assert(sizeof(Bucket) == 16);

struct SegmentHeader {
    uint64_t magic;
    uint32_t layoutVersion;
    uint32_t headerSize;
    uint32_t recordSize;
    uint32_t bucketWays;
    uint64_t segmentSize;
    uint32_t deviceId;
    uint32_t pipeCount;
    uint32_t capacity;  // entry records, defaults excluded
    uint32_t bucketCount;
    uint64_t bucketsOffset;
    uint64_t recordsOffset;
    uint64_t freeRingOffset;
    uint64_t hashSeed;
    uint32_t entryCount;
    uint32_t freeHead;  // index into the free ring of the oldest free record
    uint32_t freeCount;
    uint8_t entryScope;
    uint8_t reserved[3];
};
static_assert(sizeof(SegmentHeader) == 96);

inline constexpr uint64_t alignUp(uint64_t value, uint64_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

// Where each part lives for a given capacity; the creator stores it, an opener checks it.
struct SegmentGeometry {
    uint32_t bucketCount;
    uint64_t bucketsOffset;
    uint64_t recordsOffset;
    uint64_t freeRingOffset;
    uint64_t segmentSize;

    static constexpr SegmentGeometry forCapacity(uint32_t capacity) {
        SegmentGeometry g{};
        g.bucketCount = (capacity + kBucketWays - 1) / kBucketWays;
        g.bucketsOffset = alignUp(sizeof(SegmentHeader), 64);
        g.recordsOffset = alignUp(g.bucketsOffset + uint64_t{g.bucketCount} * sizeof(Bucket), 64);
        uint64_t records = uint64_t{capacity} + kDefaultRecordCount;
        g.freeRingOffset = alignUp(g.recordsOffset + records * sizeof(EntryRecord), 64);
        g.segmentSize = alignUp(g.freeRingOffset + uint64_t{capacity} * sizeof(uint32_t), 4096);
        return g;
    }
};

}  // namespace Chip
