// CRC-32C of one key record (its 28 checked bytes, seeded with the slot), by
// each implementation.

#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>

#include "shm/Crc32c.h"

namespace {

void recordChecksum(benchmark::State& state, Shm::Crc32cImpl::Function crc) {
    if (!crc) {
        state.SkipWithError("this CPU has no crc32 instruction");
        return;
    }
    std::array<unsigned char, 32> record{};
    std::uint64_t slot = 0;
    for (auto _ : state) {
        ++slot;
        record[4] = static_cast<unsigned char>(slot);
        const std::uint32_t seed = crc(&slot, sizeof slot, 0);
        benchmark::DoNotOptimize(crc(record.data(), 28, seed));
    }
}

BENCHMARK_CAPTURE(recordChecksum, portable, &Shm::Crc32cImpl::portable);
BENCHMARK_CAPTURE(recordChecksum, hardware, Shm::Crc32cImpl::hardware());

}  // namespace

BENCHMARK_MAIN();
