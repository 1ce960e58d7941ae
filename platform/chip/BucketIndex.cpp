#include "BucketIndex.h"

#include <initializer_list>

namespace Chip {

namespace {

uint64_t mix(uint64_t x) {
    x ^= x >> 33;
    x *= 0xff51afd7ed558ccdULL;
    x ^= x >> 33;
    x *= 0xc4ceb9fe1a85ec53ULL;
    x ^= x >> 33;
    return x;
}

struct SearchNode {
    uint32_t bucket;
    int32_t parent;       // index of the node whose resident moves here, -1 for a root
    uint32_t parentSlot;  // slot of that resident in the parent bucket
};

}  // namespace

uint32_t BucketIndex::firstBucket(uint64_t key) const {
    return static_cast<uint32_t>(mix(key ^ seed_) % bucketCount_);
}

uint32_t BucketIndex::secondBucket(uint64_t key, uint32_t first) const {
    auto second = static_cast<uint32_t>(mix(key ^ ~seed_) % bucketCount_);
    return second != first ? second : (first + 1) % bucketCount_;
}

uint32_t BucketIndex::otherBucket(uint64_t key, uint32_t current) const {
    uint32_t first = firstBucket(key);
    return current == first ? secondBucket(key, first) : first;
}

uint32_t BucketIndex::find(uint64_t key) const {
    uint32_t first = firstBucket(key);
    for (uint32_t bucket : {first, secondBucket(key, first)}) {
        for (uint32_t slot : buckets_[bucket].slot) {
            if (slot != 0 && placementKey(records_[slot - 1]) == key) {
                return slot - 1;
            }
        }
    }
    return kNotFound;
}

bool BucketIndex::insert(uint64_t key, uint32_t recordIndex) {
    SearchNode nodes[kMaxSearch];
    uint32_t first = firstBucket(key);
    nodes[0] = {first, -1, 0};
    nodes[1] = {secondBucket(key, first), -1, 0};
    uint32_t count = 2;
    for (uint32_t i = 0; i < count; ++i) {
        Bucket& bucket = buckets_[nodes[i].bucket];
        for (uint32_t freeSlot = 0; freeSlot < kBucketWays; ++freeSlot) {
            if (bucket.slot[freeSlot] != 0) {
                continue;
            }
            // Walk the path back to its root, moving each resident one step along it.
            int32_t node = static_cast<int32_t>(i);
            while (nodes[node].parent >= 0) {
                const SearchNode& child = nodes[node];
                Bucket& from = buckets_[nodes[child.parent].bucket];
                buckets_[child.bucket].slot[freeSlot] = from.slot[child.parentSlot];
                from.slot[child.parentSlot] = 0;
                freeSlot = child.parentSlot;
                node = child.parent;
            }
            buckets_[nodes[node].bucket].slot[freeSlot] = recordIndex + 1;
            return true;
        }
        for (uint32_t slot = 0; slot < kBucketWays && count < kMaxSearch; ++slot) {
            uint32_t target =
                otherBucket(placementKey(records_[bucket.slot[slot] - 1]), nodes[i].bucket);
            // A bucket may appear only once on a path, or a move would undo an earlier one.
            bool onPath = false;
            for (int32_t n = static_cast<int32_t>(i); n >= 0 && !onPath; n = nodes[n].parent) {
                onPath = nodes[n].bucket == target;
            }
            if (!onPath) {
                nodes[count++] = {target, static_cast<int32_t>(i), slot};
            }
        }
    }
    return false;
}

void BucketIndex::erase(uint64_t key, uint32_t recordIndex) {
    uint32_t first = firstBucket(key);
    for (uint32_t bucket : {first, secondBucket(key, first)}) {
        for (uint32_t& slot : buckets_[bucket].slot) {
            if (slot == recordIndex + 1) {
                slot = 0;
                return;
            }
        }
    }
}

}  // namespace Chip
