#include "ZabroSegmentLayout.h"

#include <cstring>

#include "shm/Crc32c.h"

namespace Zabro::Layout {

StoreHook storeHook = nullptr;

std::uint32_t headerChecksum(const HeaderImage& header) noexcept {
    constexpr std::size_t from = offsetof(HeaderImage, layoutVersion);
    return Shm::crc32c(reinterpret_cast<const std::byte*>(&header) + from,
                       offsetof(HeaderImage, checksum) - from);
}

// One pass over the slot and the record's fields, as one run of bytes.
std::uint32_t recordChecksum(const RecordImage& record, std::uint64_t slot) noexcept {
    std::byte run[sizeof slot + offsetof(RecordImage, checksum)];
    std::memcpy(run, &slot, sizeof slot);
    std::memcpy(run + sizeof slot, &record, offsetof(RecordImage, checksum));
    return Shm::crc32c(run, sizeof run);
}

}  // namespace Zabro::Layout
