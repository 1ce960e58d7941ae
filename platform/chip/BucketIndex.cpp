#include "BucketIndex.h"

#include <algorithm>
#include <initializer_list>

#include "ChipRecord.h"

namespace Chip {

namespace {

struct SearchNode {
    uint32_t bucket;
    int32_t parent;       // index of the node whose resident moves here, -1 for a root
    uint32_t parentSlot;  // slot of that resident in the parent bucket
};

}  // namespace

uint32_t BucketIndex::bucketOf(uint64_t hash) const {
    return static_cast<uint32_t>((hash >> 32) * bucketCount_ >> 32);  // no division
}

uint32_t BucketIndex::firstBucket(uint64_t key) const {
    return bucketOf(mixBits(key ^ seed_));  // repair() as well
}

uint32_t BucketIndex::secondBucket(uint64_t key, uint32_t first) const {
    uint32_t second = bucketOf(mixBits(key ^ ~seed_));
    return second != first ? second : first + 1 == bucketCount_ ? 0 : first + 1;
}

uint32_t BucketIndex::otherBucket(uint64_t key, uint32_t current) const {
    uint32_t first = firstBucket(key);
    return current == first ? secondBucket(key, first) : first;
}

const EntryRecord* BucketIndex::resident(uint32_t slot) const {
    if (slot == 0 || slot > recordCount_) {
        return nullptr;
    }
    const EntryRecord& r = records_[slot - 1];
    return sealOf(r).state == RecordState::Entry ? &r : nullptr;
}

uint32_t BucketIndex::find(uint64_t key) const {
    uint32_t first = firstBucket(key);
    for (uint32_t bucket : {first, secondBucket(key, first)}) {
        for (uint32_t slot : buckets_[bucket].slot) {
            const EntryRecord* r = resident(slot);
            if (r != nullptr && placementKey(*r) == key) {
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
            // Walk the path back to its root, copying each resident one step along it
            // before its old slot is reused: a kill leaves a resident twice, never lost.
            int32_t node = static_cast<int32_t>(i);
            while (nodes[node].parent >= 0) {
                const SearchNode& child = nodes[node];
                Bucket& from = buckets_[nodes[child.parent].bucket];
                buckets_[child.bucket].slot[freeSlot] = from.slot[child.parentSlot];
                storePoint();
                freeSlot = child.parentSlot;
                node = child.parent;
            }
            buckets_[nodes[node].bucket].slot[freeSlot] = recordIndex + 1;
            storePoint();
            return true;
        }
        for (uint32_t slot = 0; slot < kBucketWays && count < kMaxSearch; ++slot) {
            const EntryRecord* r = resident(bucket.slot[slot]);
            if (r == nullptr) {
                continue;  // a stray value: repair() clears it at the next open
            }
            uint32_t target = otherBucket(placementKey(*r), nodes[i].bucket);
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
                storePoint();
            }
        }
    }
}

BucketIndex::Repair BucketIndex::repair(std::vector<uint8_t>& marks) {
    Repair result;
    // Records are visited in order and look for their slot in their two buckets, which
    // fit in cache, rather than slots looking up records all over the segment. A
    // claimed slot keeps a 16-bit fingerprint of its key (0 while unclaimed), so that
    // a later record with the same key is found without reading other records.
    std::vector<uint16_t> prints(std::size_t{bucketCount_} * kBucketWays, 0);
    for (uint32_t i = 0; i < recordCount_; ++i) {
        if (marks[i] != kLive) {
            continue;
        }
        uint64_t key = placementKey(records_[i]);
        uint64_t hash = mixBits(key ^ seed_);
        uint32_t first = bucketOf(hash);
        const uint32_t pair[2] = {first, secondBucket(key, first)};
        auto print = static_cast<uint16_t>(hash | 1);  // low bits: the bucket uses the high ones
        bool duplicate = false;
        uint16_t* claim = nullptr;
        for (uint32_t b : pair) {
            for (uint32_t j = 0; j < kBucketWays; ++j) {
                uint16_t& held = prints[b * kBucketWays + j];
                uint32_t value = buckets_[b].slot[j];
                if (held == print && placementKey(records_[value - 1]) == key) {
                    duplicate = true;  // a lower record holds the key and keeps it
                } else if (held == 0 && value == i + 1 && claim == nullptr) {
                    claim = &held;
                }
            }
        }
        if (duplicate) {
            marks[i] = kNotLive;
            result.duplicates.push_back(i);
        } else if (claim != nullptr) {
            *claim = print;
            marks[i] = kIndexed;
        }
    }
    for (std::size_t k = 0; k < prints.size(); ++k) {
        uint32_t& slot = buckets_[k / kBucketWays].slot[k % kBucketWays];
        if (prints[k] == 0 && slot != 0) {
            slot = 0;
            ++result.slotsCleared;
        }
    }
    // Live records no slot names: normally none, or the one an add was placing.
    for (uint32_t i = 0; i < recordCount_; ++i) {
        if (marks[i] != kLive) {
            continue;
        }
        uint64_t key = placementKey(records_[i]);
        uint32_t holder = find(key);
        if (holder != kNotFound) {
            uint32_t later = std::max(holder, i);
            marks[later] = kNotLive;
            result.duplicates.push_back(later);
            if (later == i) {
                continue;
            }
            erase(key, holder);
            ++result.slotsCleared;
        }
        if (insert(key, i)) {
            marks[i] = kIndexed;
            ++result.slotsPlaced;
        } else {
            marks[i] = kNotLive;
            result.unplaced.push_back(i);
        }
    }
    return result;
}

}  // namespace Chip
