#include "Crc32c.h"

#include <array>
#include <bit>
#include <cstring>

#if defined(__x86_64__)
#include <nmmintrin.h>
#endif

namespace Shm {

namespace Crc32cImpl {

namespace {

constexpr std::uint32_t kPolynomial = 0x82F63B78u;  // reflected

// kTables[k][b]: the CRC of byte b followed by k zero bytes.
constexpr std::array<std::array<std::uint32_t, 256>, 8> makeTables() {
    std::array<std::array<std::uint32_t, 256>, 8> t{};
    for (std::uint32_t b = 0; b < 256; ++b) {
        std::uint32_t c = b;
        for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? (c >> 1) ^ kPolynomial : c >> 1;
        t[0][b] = c;
    }
    for (std::size_t k = 1; k < 8; ++k)
        for (std::size_t b = 0; b < 256; ++b)
            t[k][b] = (t[k - 1][b] >> 8) ^ t[0][t[k - 1][b] & 0xFF];
    return t;
}
constexpr auto kTables = makeTables();

#if defined(__x86_64__)
__attribute__((target("sse4.2"))) std::uint32_t sse42(const void* data, std::size_t size,
                                                      std::uint32_t crc) noexcept {
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::uint64_t c = ~crc;
    for (; size >= 8; size -= 8, bytes += 8) {
        std::uint64_t word;
        std::memcpy(&word, bytes, sizeof word);
        c = _mm_crc32_u64(c, word);
    }
    auto c32 = static_cast<std::uint32_t>(c);
    if (size >= 4) {
        std::uint32_t word;
        std::memcpy(&word, bytes, sizeof word);
        c32 = _mm_crc32_u32(c32, word);
        size -= 4;
        bytes += 4;
    }
    for (; size > 0; --size, ++bytes) c32 = _mm_crc32_u8(c32, *bytes);
    return ~c32;
}
#endif

}  // namespace

static_assert(std::endian::native == std::endian::little,
              "the table walk reads words little-endian");

std::uint32_t portable(const void* data, std::size_t size, std::uint32_t crc) noexcept {
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::uint32_t c = ~crc;
    for (; size >= 8; size -= 8, bytes += 8) {
        std::uint32_t low;
        std::uint32_t high;
        std::memcpy(&low, bytes, 4);
        std::memcpy(&high, bytes + 4, 4);
        low ^= c;  // little-endian: the first byte is the lowest
        c = kTables[7][low & 0xFF] ^ kTables[6][(low >> 8) & 0xFF] ^
            kTables[5][(low >> 16) & 0xFF] ^ kTables[4][low >> 24] ^ kTables[3][high & 0xFF] ^
            kTables[2][(high >> 8) & 0xFF] ^ kTables[1][(high >> 16) & 0xFF] ^
            kTables[0][high >> 24];
    }
    for (; size > 0; --size, ++bytes) c = kTables[0][(c ^ *bytes) & 0xFF] ^ (c >> 8);
    return ~c;
}

Function hardware() noexcept {
#if defined(__x86_64__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("sse4.2"))
        return &sse42;
#endif
    return nullptr;
}

}  // namespace Crc32cImpl

std::uint32_t crc32c(const void* data, std::size_t size, std::uint32_t crc) noexcept {
    // Chosen on first use, so that callers running before main are served too.
    static const Crc32cImpl::Function best =
        Crc32cImpl::hardware() ? Crc32cImpl::hardware() : &Crc32cImpl::portable;
    return best(data, size, crc);
}

}  // namespace Shm
