// Cuckoo placement of entry records: every key may sit in one of two buckets of
// kBucketWays slots. An insert whose buckets are full moves residents to their other
// bucket along the shortest path found by a bounded breadth-first search, so the
// table refuses an entry only when real collisions leave no path, as hardware does.
#pragma once

#include <cstdint>

#include "ChipLayout.h"

namespace Chip {

// 48-bit match key and the pipe the entry lives in, packed for hashing and compare.
inline uint64_t placementKey(uint16_t natKeyId, uint16_t srcPort, uint16_t dstPort, uint16_t pipe) {
    return uint64_t{natKeyId} | uint64_t{srcPort} << 16 | uint64_t{dstPort} << 32 |
           uint64_t{pipe} << 48;
}

inline uint64_t placementKey(const EntryRecord& r) {
    return placementKey(r.natKeyId, r.srcPort, r.dstPort, r.pipe);
}

class BucketIndex {
  public:
    static constexpr uint32_t kNotFound = UINT32_MAX;
    // Buckets visited by one insert at most; bounds the displacement work near full.
    static constexpr uint32_t kMaxSearch = 512;

    BucketIndex(Bucket* buckets, uint32_t bucketCount, const EntryRecord* records, uint64_t seed)
        : buckets_(buckets), bucketCount_(bucketCount), records_(records), seed_(seed) {}

    // Record index holding `key`, or kNotFound.
    uint32_t find(uint64_t key) const;
    // Places a record whose key is not present yet; false when no slot can be freed.
    bool insert(uint64_t key, uint32_t recordIndex);
    void erase(uint64_t key, uint32_t recordIndex);

  private:
    uint32_t firstBucket(uint64_t key) const;
    uint32_t secondBucket(uint64_t key, uint32_t first) const;
    uint32_t otherBucket(uint64_t key, uint32_t current) const;

    Bucket* buckets_;
    uint32_t bucketCount_;
    const EntryRecord* records_;
    uint64_t seed_;
};

}  // namespace Chip
