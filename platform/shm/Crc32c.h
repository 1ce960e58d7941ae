#pragma once
// CRC-32C (Castagnoli), the checksum of the records kept in shared memory.
// crc32c uses the CPU's crc32 instruction when it has one and a portable
// slicing-by-8 table walk otherwise; both give the same result.

#include <cstddef>
#include <cstdint>

namespace Shm {

// The CRC-32C of `size` bytes at `data`, continuing from `crc` (0 to start).
std::uint32_t crc32c(const void* data, std::size_t size, std::uint32_t crc = 0) noexcept;

// The two implementations, for tests and benchmarks; hardware is null when
// the CPU lacks the instruction.
namespace Crc32cImpl {
using Function = std::uint32_t (*)(const void*, std::size_t, std::uint32_t) noexcept;
std::uint32_t portable(const void* data, std::size_t size, std::uint32_t crc) noexcept;
Function hardware() noexcept;
}  // namespace Crc32cImpl

}  // namespace Shm
