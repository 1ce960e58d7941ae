// The key segment: opening a full-size one that holds records (the restart
// cost before any resync), and the journaled writes of a key's life.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "zabro/Zabro.h"
#include "zabro/ZabroSegmentLayout.h"

namespace {

constexpr Kiv::U8 kDev = 5;
constexpr Kiv::U16 kPipe = 0;
constexpr Kiv::U64 kCapacity = Zabro::MbbZabroTableConfig::kDefaultCapacity;

const bool kPrivatePrefix =
    ::setenv("OLVANE_SHM_PREFIX", ("zabrobench" + std::to_string(::getpid())).c_str(), 1) == 0;

void openFullSizeSegment(benchmark::State& state) {
    Zabro::MbbZabroTableConfig::segmentWipe(kDev, kPipe);
    {
        const auto config = Zabro::mbbZabroTableConfigFactory(kDev, kPipe, kCapacity);
        for (Kiv::U64 i = 0; i < kCapacity / 2; ++i) config->recordAlloc();
    }
    for (auto _ : state) {
        const auto config = Zabro::mbbZabroTableConfigFactory(kDev, kPipe, kCapacity);
        benchmark::DoNotOptimize(config->recordCount());
    }
    Zabro::MbbZabroTableConfig::segmentWipe(kDev, kPipe);
}
BENCHMARK(openFullSizeSegment)->Unit(benchmark::kMicrosecond);

void allocHandleFree(benchmark::State& state) {
    Zabro::MbbZabroTableConfig::segmentWipe(kDev, kPipe);
    const auto config = Zabro::mbbZabroTableConfigFactory(kDev, kPipe, kCapacity);
    for (auto _ : state) {
        const Kiv::U64 key = config->recordAlloc().key();
        config->sdkEntryHandleIs(key, 7);
        config->recordDel(key);
    }
    Zabro::MbbZabroTableConfig::segmentWipe(kDev, kPipe);
}
BENCHMARK(allocHandleFree);

// The checksum every record write computes once and every record read checks.
void recordChecksum(benchmark::State& state) {
    Zabro::Layout::RecordImage record{7, Zabro::Layout::kRecordLive, 1, 1, 1, 0};
    Kiv::U64 slot = 0;
    for (auto _ : state) benchmark::DoNotOptimize(Zabro::Layout::recordChecksum(record, ++slot));
}
BENCHMARK(recordChecksum);

}  // namespace

BENCHMARK_MAIN();
