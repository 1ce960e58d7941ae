#pragma once
// The persisted layout of a key segment: a header, a small area of words that
// change as the table does, then one fixed-size record per slot. Key k lives
// in slot k-1, so key order is slot order and a key is found without a
// search. Everything is a fixed-width integer at a fixed offset in host byte
// order; positions are offsets from the segment start.
//
// Survives a kill at any instruction:
// - The header is written once, at creation; its magic, stored last, marks
//   the segment complete (see Shm::Segment). Its checksum covers only what
//   never changes.
// - The counters (highest allocated key, last operation id) are single
//   aligned words outside any checksum, each updated by one store. At open
//   the operation id is raised to the highest one a record holds, and the
//   highest key is only a hint, bounds-checked where it is used.
// - A record is never half-written for good: a writer first copies the new
//   image into the journal, then commits that intent with one store of the
//   journal's slot word, writes the record in place (its checksum last), and
//   clears the slot word. An opener that finds the slot word set writes the
//   journal's image again, so the record is either the old or the new one.
//
// Every record carries a checksum over its fields, seeded with its slot so a
// record copied to another slot fails too. A quarantined record keeps its
// bytes for inspection: it gains the kRecordQuarantined flag, and its
// checksum is replaced by the computed one xor kQuarantineMark, which later
// walks recognise and skip. The flags alone tell a record's state without a
// checksum, which is how an open counts them; every request checks the sum.

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace Zabro::Layout {

inline constexpr std::uint64_t kMagic = 0x32'59'45'4B'4F'52'42'5Aull;  // "ZBROKEY2"
inline constexpr std::uint32_t kLayoutVersion = 2;
inline constexpr std::uint64_t kCountersOffset = 64;
inline constexpr std::uint64_t kRecordsOffset = 128;
// Keeps a segment's size well inside what a 64-bit size computation and one mapping can hold.
inline constexpr std::uint64_t kMaxCapacity = std::uint64_t{1} << 26;

struct HeaderImage {
    std::uint64_t magic;  // 0 until the segment is complete
    std::uint32_t layoutVersion;
    std::uint32_t headerSize;
    std::uint32_t recordSize;
    std::uint16_t pipeId;
    std::uint8_t deviceId;
    std::uint8_t reserved0;
    std::uint64_t capacity;
    std::uint64_t segmentSize;
    std::uint64_t recordsOffset;
    std::uint32_t reserved1;
    std::uint32_t checksum;  // over every byte from layoutVersion on
};
static_assert(std::is_standard_layout_v<HeaderImage> && std::is_trivially_copyable_v<HeaderImage>);
static_assert(sizeof(HeaderImage) == 56 && offsetof(HeaderImage, checksum) == 52);
static_assert(sizeof(HeaderImage) <= kCountersOffset);

// Flags of a record beyond those EntryConfig shows.
inline constexpr std::uint32_t kRecordLive = 1u << 31;
inline constexpr std::uint32_t kRecordQuarantined = 1u << 30;  // valid with the quarantine sum only
inline constexpr std::uint32_t kKnownRecordFlags = kRecordLive | 1u;
inline constexpr std::uint32_t kQuarantineMark = 0x5241'5551;  // "QUAR"

struct RecordImage {
    std::uint32_t sdkEntryHandle;
    std::uint32_t flags;
    std::uint64_t key;
    std::uint64_t opId;
    std::uint32_t generation;
    std::uint32_t checksum;  // over every byte before it, seeded with the slot
};
static_assert(std::is_standard_layout_v<RecordImage> && std::is_trivially_copyable_v<RecordImage>);
static_assert(sizeof(RecordImage) == 32 && offsetof(RecordImage, sdkEntryHandle) == 0 &&
              offsetof(RecordImage, checksum) == 28);
static_assert(kRecordsOffset % alignof(RecordImage) == 0);

struct CountersImage {
    std::uint64_t highestAllocatedKey;
    std::uint64_t lastOpId;
    std::uint64_t journalSlot;  // slot + 1 of the record being written; 0 when none
    std::uint64_t reserved;
    RecordImage journalRecord;  // the image that slot is to hold
};
static_assert(std::is_standard_layout_v<CountersImage> &&
              std::is_trivially_copyable_v<CountersImage>);
static_assert(kCountersOffset + sizeof(CountersImage) <= kRecordsOffset);

constexpr std::uint64_t segmentSize(std::uint64_t capacity) {
    return kRecordsOffset + capacity * sizeof(RecordImage);
}
constexpr std::uint64_t recordOffset(std::uint64_t slot) {
    return kRecordsOffset + slot * sizeof(RecordImage);
}

std::uint32_t headerChecksum(const HeaderImage& header) noexcept;
std::uint32_t recordChecksum(const RecordImage& record, std::uint64_t slot) noexcept;

// Test hook: called before each store the table config makes to a segment,
// so that a test can stop the process at any one of them. Null in service.
using StoreHook = void (*)();
extern StoreHook storeHook;

}  // namespace Zabro::Layout
