// Layout of a chip segment in shared memory. Every process that maps the segment
// reads these structures in place, so they hold fixed-width integers and offsets,
// never pointers. Bump kLayoutVersion whenever any structure here changes.
//
//   [SegmentHeader][Bucket x bucketCount][EntryRecord x recordCount]
//                                         entries, then defaults
//
// The records are the truth. Each carries a 64-bit seal (state, generation, active
// action slot, checksum) and every operation becomes visible through one aligned store
// of that seal, after everything it covers has been written. The buckets only speed up
// lookups: they are checked against the records at open and repaired from them. Which
// records are free and how many are live is derived at open, never stored.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Chip {

inline constexpr uint64_t kSegmentMagic = 0x3150494843564c4fULL;  // "OLVCHIP1"
inline constexpr uint32_t kLayoutVersion = 3;

inline constexpr uint32_t kPipeCount = 4;
inline constexpr uint16_t kAllPipes = 0xFFFF;
inline constexpr uint32_t kDefaultCapacity = 65536;
inline constexpr uint32_t kBucketWays = 4;

// Handle = record index + 1: never 0, and, as with an SDK, the handle of a deleted
// entry is handed out again with the record (lowest free record first). The seal's
// generation still changes with every reuse, for the crash-safety checks only.
inline constexpr uint32_t kHandleIndexBits = 20;
inline constexpr uint32_t kHandleIndexMask = (1u << kHandleIndexBits) - 1;
inline constexpr uint32_t kGenerationMask = (1u << (32 - kHandleIndexBits)) - 1;
// One default record per pipe plus one for the all-pipes scope.
inline constexpr uint32_t kDefaultRecordCount = kPipeCount + 1;
inline constexpr uint32_t kMinCapacity = 8;
inline constexpr uint32_t kMaxCapacity = kHandleIndexMask - kDefaultRecordCount;

enum class EntryScope : uint8_t { AllPipes = 0, SinglePipe = 1 };

enum class RecordState : uint8_t { Free = 0, Entry = 1, Default = 2 };

// One version of an entry's action. A record holds two so that a modify writes the
// inactive one and switches to it with the seal store.
struct ActionSlot {
    uint8_t action;
    uint8_t prot;
    uint16_t rwId;
    uint16_t nextHop;  // next hop or ECMP group, by action
    uint16_t reserved;
};
static_assert(sizeof(ActionSlot) == 8);

struct alignas(8) EntryRecord {
    // Match key and pipe, fixed while the record is live.
    uint16_t natKeyId;
    uint16_t srcPort;
    uint16_t dstPort;
    uint16_t pipe;
    ActionSlot slot[2];
    // Low 32 bits: checksum (see Seal); high 32 bits: state | active slot << 8 |
    // generation << 16. Written only as one 64-bit store.
    uint64_t seal;
};
static_assert(sizeof(EntryRecord) == 32);
static_assert(offsetof(EntryRecord, seal) == 24);

struct Bucket {
    uint32_t slot[kBucketWays];  // entry record index + 1, 0 when empty
};
static_assert(sizeof(Bucket) == 16);

// Written once at creation, magic last; only entryScope changes afterwards (one byte).
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
    uint64_t hashSeed;
    uint8_t entryScope;
    uint8_t reserved[3];
    // crc32c of the words from layoutVersion up to the hash seed: damage that leaves
    // them consistent with one another (a capacity with the same geometry) still shows.
    uint32_t checksum;
};
static_assert(sizeof(SegmentHeader) == 80);

inline constexpr uint64_t alignUp(uint64_t value, uint64_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

// Where each part lives for a given capacity; the creator stores it, an opener checks it.
struct SegmentGeometry {
    uint32_t bucketCount;
    uint64_t bucketsOffset;
    uint64_t recordsOffset;
    uint64_t segmentSize;

    static constexpr SegmentGeometry forCapacity(uint32_t capacity) {
        SegmentGeometry g{};
        g.bucketCount = (capacity + kBucketWays - 1) / kBucketWays;
        g.bucketsOffset = alignUp(sizeof(SegmentHeader), 64);
        g.recordsOffset = alignUp(g.bucketsOffset + uint64_t{g.bucketCount} * sizeof(Bucket), 64);
        uint64_t records = uint64_t{capacity} + kDefaultRecordCount;
        g.segmentSize = alignUp(g.recordsOffset + records * sizeof(EntryRecord), 4096);
        return g;
    }
};

}  // namespace Chip
