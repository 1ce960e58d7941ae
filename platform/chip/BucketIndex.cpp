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

uint32_t BucketIndex::firstBucket(uint64_t key) const {
    return static_cast<uint32_t>(mixBits(key ^ seed_) % bucketCount_);
}

uint32_t BucketIndex::secondBucket(uint64_t key, uint32_t first) const {
    auto second = static_cast<uint32_t>(mixBits(key ^ ~seed_) % bucketCount_);
    return second != first ? second : (first + 1) % bucketCount_;
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
    for (uint32_t b = 0; b < bucketCount_; ++b) {
        for (uint32_t& slot : buckets_[b].slot) {
            if (slot == 0) {
                continue;
            }
            uint32_t index = slot - 1;
            bool keep = index < recordCount_ && marks[index] == kLive;
            if (keep) {
                uint64_t key = placementKey(records_[index]);
                uint32_t first = firstBucket(key);
                keep = b == first || b == secondBucket(key, first);
            }
            if (keep) {
                marks[index] = kIndexed;
            } else {
                slot = 0;
                ++result.slotsCleared;
            }
        }
    }
    for (uint32_t i = 0; i < recordCount_; ++i) {
        if (marks[i] == kNotLive) {
            continue;
        }
        uint64_t key = placementKey(records_[i]);
        uint32_t holder = find(key);
        if (holder != kNotFound && holder != i) {
            // Of two records with one key, the lower index keeps it.
            uint32_t later = std::max(holder, i);
            if (marks[later] == kIndexed) {
                erase(key, later);
                ++result.slotsCleared;
            }
            marks[later] = kNotLive;
            result.duplicates.push_back(later);
        }
        if (marks[i] != kLive) {
            continue;
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
