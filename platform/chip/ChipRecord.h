// Reading and committing one chip record. A record changes state only through
// sealStore(): one aligned 64-bit store of state, active action slot, generation and a
// checksum over everything the state makes meaningful. A kill before it leaves the old
// record, a kill after it the new one.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>

#include "ChipLayout.h"

namespace Chip {

// Test hook: when non-zero, counts down at every store point of an operation and kills
// the process at zero, so a test can stop the chip between any two of its stores.
extern uint64_t storeKillCountdown;
void storeKillNow();

inline void storePoint() {
    if (storeKillCountdown != 0) [[unlikely]] {
        storeKillNow();
    }
}

struct Seal {
    RecordState state = RecordState::Free;
    uint8_t activeSlot = 0;
    uint16_t generation = 0;
    uint32_t checksum = 0;

    uint32_t meta() const {
        return uint32_t{static_cast<uint8_t>(state)} | uint32_t{activeSlot} << 8 |
               uint32_t{generation} << 16;
    }
    static Seal decode(uint64_t word) {
        auto meta = static_cast<uint32_t>(word >> 32);
        return {static_cast<RecordState>(meta & 0xFF), static_cast<uint8_t>(meta >> 8 & 0xFF),
                static_cast<uint16_t>(meta >> 16), static_cast<uint32_t>(word)};
    }
};

inline uint64_t mixBits(uint64_t x) {
    x ^= x >> 33;
    x *= 0xff51afd7ed558ccdULL;
    x ^= x >> 33;
    x *= 0xc4ceb9fe1a85ec53ULL;
    x ^= x >> 33;
    return x;
}

// Covers the seal's own meta bits and, for a live record, its key and active action
// slot; a free record's other bytes are scratch, so a half-written add leaves it valid.
inline uint32_t checksumOf(const EntryRecord& r, const Seal& s) {
    uint64_t key = 0, action = 0;
    if (s.state != RecordState::Free) {
        std::memcpy(&key, &r, sizeof key);
        std::memcpy(&action, &r.slot[s.activeSlot & 1], sizeof action);
    }
    // The constant keeps an all-zero seal, as a zeroed page holds, from ever matching.
    uint64_t h = mixBits(key * 0x9e3779b97f4a7c15ULL ^ action ^ 0x2545f4914f6cdd1dULL) ^ s.meta();
    h = mixBits(h);
    return static_cast<uint32_t>(h ^ h >> 32);
}

inline Seal sealOf(const EntryRecord& r) {
    return Seal::decode(r.seal);
}

inline bool sealIntact(const EntryRecord& r, const Seal& s) {
    return s.activeSlot <= 1 && s.generation <= kGenerationMask && s.checksum == checksumOf(r, s);
}

// Commits `r` as `s` describes it: every store before this one becomes part of it.
inline void sealStore(EntryRecord& r, Seal s) {
    s.checksum = checksumOf(r, s);
    storePoint();
    std::atomic_ref<uint64_t>(r.seal).store(uint64_t{s.meta()} << 32 | s.checksum,
                                            std::memory_order_release);
    storePoint();
}

}  // namespace Chip
