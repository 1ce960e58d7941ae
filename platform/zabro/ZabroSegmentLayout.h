#pragma once
// The persisted layout of a key segment: a header, then one fixed-size record
// per slot. Key k lives in slot k-1, so key order is slot order and a key is
// found without a search. Everything is a fixed-width integer at a fixed
// offset in host byte order; positions are offsets from the segment start.
//
// Every record carries a checksum over its fields, seeded with its slot so a
// record copied to another slot fails too. A quarantined record keeps its
// bytes for inspection; only its checksum is replaced by the computed one
// xor kQuarantineMark, which later walks recognise and skip.

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace Zabro::Layout {

inline constexpr std::uint64_t kMagic = 0x31'59'45'4B'4F'52'42'5Aull;  // "ZBROKEY1"
inline constexpr std::uint32_t kLayoutVersion = 1;
inline constexpr std::uint64_t kRecordsOffset = 128;
// Keeps a segment's size well inside what a 64-bit size computation and one mapping can hold.
inline constexpr std::uint64_t kMaxCapacity = std::uint64_t{1} << 26;

struct HeaderImage {
    std::uint64_t magic;
    std::uint32_t layoutVersion;
    std::uint32_t headerSize;
    std::uint32_t recordSize;
    std::uint16_t pipeId;
    std::uint8_t deviceId;
    std::uint8_t reserved0;
    std::uint64_t capacity;
    std::uint64_t segmentSize;
    std::uint64_t recordsOffset;
    std::uint64_t highestAllocatedKey;
    std::uint64_t lastOpId;
    std::uint32_t reserved1;
    std::uint32_t checksum;  // over every byte before it
};
static_assert(std::is_standard_layout_v<HeaderImage> && std::is_trivially_copyable_v<HeaderImage>);
static_assert(sizeof(HeaderImage) == 72 && offsetof(HeaderImage, checksum) == 68);
static_assert(sizeof(HeaderImage) <= kRecordsOffset);

// Flags of a record beyond those EntryConfig shows.
inline constexpr std::uint32_t kRecordLive = 1u << 31;
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

constexpr std::uint64_t segmentSize(std::uint64_t capacity) {
    return kRecordsOffset + capacity * sizeof(RecordImage);
}
constexpr std::uint64_t recordOffset(std::uint64_t slot) {
    return kRecordsOffset + slot * sizeof(RecordImage);
}

// CRC-32C (Castagnoli), continuing from `crc`.
std::uint32_t crc32c(const void* data, std::size_t size, std::uint32_t crc = 0) noexcept;
std::uint32_t headerChecksum(const HeaderImage& header) noexcept;
std::uint32_t recordChecksum(const RecordImage& record, std::uint64_t slot) noexcept;

}  // namespace Zabro::Layout
