// Cuckoo placement of entry records: every key may sit in one of two buckets of
// kBucketWays slots. An insert whose buckets are full moves residents to their other
// bucket along the shortest path found by a bounded breadth-first search, so the
// table refuses an entry only when real collisions leave no path, as hardware does.
//
// The buckets live in shared memory but only speed up lookups: a slot counts only when
// it names a live entry record whose key hashes to that bucket. repair() makes them
// agree with the records again after a kill or stray write.
#pragma once

#include <cstdint>
#include <vector>

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

    BucketIndex(Bucket* buckets, uint32_t bucketCount, const EntryRecord* records,
                uint32_t recordCount, uint64_t seed)
        : buckets_(buckets),
          bucketCount_(bucketCount),
          records_(records),
          recordCount_(recordCount),
          seed_(seed) {}

    // Record index of the live entry holding `key`, or kNotFound.
    uint32_t find(uint64_t key) const;
    // Places a record whose key is not present yet; false when no slot can be freed.
    bool insert(uint64_t key, uint32_t recordIndex);
    void erase(uint64_t key, uint32_t recordIndex);

    enum Mark : uint8_t { kNotLive = 0, kLive = 1, kIndexed = 2 };
    struct Repair {
        uint32_t slotsCleared = 0;
        uint32_t slotsPlaced = 0;
        std::vector<uint32_t> duplicates;  // live records whose key a lower one holds
        std::vector<uint32_t> unplaced;    // live records no slot could be freed for
    };
    // Clears every slot that is out of range, names a record not marked kLive, sits in
    // a bucket its key does not hash to or repeats a record; then places each live
    // record no slot holds. `marks` has one entry per entry record, kLive for the live
    // ones; on return the records that are indexed are marked kIndexed.
    Repair repair(std::vector<uint8_t>& marks);

  private:
    uint32_t bucketOf(uint64_t hash) const;
    uint32_t firstBucket(uint64_t key) const;
    uint32_t secondBucket(uint64_t key, uint32_t first) const;
    uint32_t otherBucket(uint64_t key, uint32_t current) const;
    // The live entry record a slot value names, or nullptr for an empty or bad slot.
    const EntryRecord* resident(uint32_t slot) const;

    Bucket* buckets_;
    uint32_t bucketCount_;
    const EntryRecord* records_;
    uint32_t recordCount_;  // entry records a slot may name
    uint64_t seed_;
};

}  // namespace Chip
