#include "ZabroSegmentLayout.h"

#include <array>

namespace Zabro::Layout {

namespace {

constexpr std::array<std::uint32_t, 256> makeCrcTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? (c >> 1) ^ 0x82F63B78u : c >> 1;
        table[i] = c;
    }
    return table;
}
constexpr auto kCrcTable = makeCrcTable();

}  // namespace

std::uint32_t crc32c(const void* data, std::size_t size, std::uint32_t crc) noexcept {
    const auto* bytes = static_cast<const unsigned char*>(data);
    crc = ~crc;
    for (std::size_t i = 0; i < size; ++i) crc = kCrcTable[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

std::uint32_t headerChecksum(const HeaderImage& header) noexcept {
    return crc32c(&header, offsetof(HeaderImage, checksum));
}

std::uint32_t recordChecksum(const RecordImage& record, std::uint64_t slot) noexcept {
    const std::uint32_t seed = crc32c(&slot, sizeof slot);
    return crc32c(&record, offsetof(RecordImage, checksum), seed);
}

}  // namespace Zabro::Layout
