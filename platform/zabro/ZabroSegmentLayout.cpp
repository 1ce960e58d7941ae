#include "ZabroSegmentLayout.h"

#include "shm/Crc32c.h"

namespace Zabro::Layout {

StoreHook storeHook = nullptr;

std::uint32_t headerChecksum(const HeaderImage& header) noexcept {
    constexpr std::size_t from = offsetof(HeaderImage, layoutVersion);
    return Shm::crc32c(reinterpret_cast<const std::byte*>(&header) + from,
                       offsetof(HeaderImage, checksum) - from);
}

std::uint32_t recordChecksum(const RecordImage& record, std::uint64_t slot) noexcept {
    const std::uint32_t seed = Shm::crc32c(&slot, sizeof slot);
    return Shm::crc32c(&record, offsetof(RecordImage, checksum), seed);
}

}  // namespace Zabro::Layout
