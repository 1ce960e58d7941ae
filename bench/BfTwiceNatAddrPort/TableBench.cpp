// The table library's operations against the raw chip calls they wrap, on
// both backends, bare and with the key and status managers, at 1K, 16K and
// 64K resident entries. Each benchmark times the library itself and then the
// raw call on the same table in the same run, and reports both, their
// difference and their ratio as counters. "Random" operations walk the
// resident entries far apart (cache-cold at 64K); "Recent" ones cycle over
// the most recently added batch. In a fresh process each: a table filled
// with both managers (adds per second, the worst single add, bookkeeping
// bytes per entry) and the restart resync.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <random>

#include "BenchSupport.h"

extern char** environ;

namespace TableBench {
namespace {

constexpr uint64_t kRawOps = 1u << 16;  // raw operations measured after each library run

template <class Backend, class Config>
using Table = LibraryTable<Backend, Config>;

uint32_t residentArg(const benchmark::State& state) {
    return static_cast<uint32_t>(state.range(0));
}

// Positions in the order an operation visits them: far apart, or the last batch.
std::vector<uint32_t> visitOrder(uint32_t resident, bool recent) {
    std::vector<uint32_t> order;
    if (recent) {
        const uint32_t first = resident > kBatch ? resident - kBatch : 0;
        for (uint32_t n = first; n < resident; ++n) order.push_back(n);
    } else {
        for (uint32_t i = 0, n = 0; i < resident; ++i, n = (n + kStride) % resident)
            order.push_back(n);
    }
    return order;
}

std::vector<uint32_t> handlesOf(const auto& t) {
    std::vector<uint32_t> handles(t.size());
    for (uint32_t n = 0; n < t.size(); ++n) handles[n] = t.handleOf(n);
    return handles;
}

// ---- Add: new entries, deleted again untimed after each batch.

template <class Backend, class Config>
void BM_Add(benchmark::State& state) {
    Table<Backend, Config> t(residentArg(state));
    std::vector<Bf::TwiceNatAddrPortMatchSpec::PtrConst> batch;
    for (uint32_t i = 0; i < kBatch; ++i) batch.push_back(matchOf(t.size() + i));
    Stopwatch lib;
    uint32_t i = 0;
    lib.start();
    for (auto _ : state) {
        t.table->entryIs(entryOf(batch[i], t.action));
        if (++i == kBatch) {
            lib.stop();
            state.PauseTiming();
            for (const auto& m : batch) {
                t.table->entryDel(m);
                t.forget(m);
            }
            i = 0;
            state.ResumeTiming();
            lib.start();
        }
    }
    lib.stop();
    for (uint32_t k = 0; k < i; ++k) {
        t.table->entryDel(batch[k]);
        t.forget(batch[k]);
    }
    typename RawOf<Backend>::Type raw;
    std::vector<uint32_t> handles(kBatch);
    Stopwatch rawTime;
    for (uint64_t done = 0; done < kRawOps; done += kBatch) {
        rawTime.start();
        for (uint32_t k = 0; k < kBatch; ++k) raw.add(t.size() + k, &handles[k]);
        rawTime.stop();
        for (uint32_t h : handles) raw.del(h);
    }
    reportAgainstRaw(state, lib.nanoseconds(), state.iterations(), rawTime.nanoseconds(), kRawOps);
}

// ---- Modify: resident entries get another action.

template <class Backend, class Config, bool Recent>
void BM_Modify(benchmark::State& state) {
    Table<Backend, Config> t(residentArg(state));
    const auto order = visitOrder(t.size(), Recent);
    const auto other = hitAction(3, 17, 4);
    Stopwatch lib;
    std::size_t i = 0;
    lib.start();
    for (auto _ : state) {
        t.table->entryIs(entryOf(t.resident[order[i]], other));
        if (++i == order.size())
            i = 0;
    }
    lib.stop();
    typename RawOf<Backend>::Type raw;
    const auto handles = handlesOf(t);
    Stopwatch rawTime;
    rawTime.start();
    for (uint64_t k = 0; k < kRawOps; ++k) raw.modify(handles[order[k % order.size()]]);
    rawTime.stop();
    reportAgainstRaw(state, lib.nanoseconds(), state.iterations(), rawTime.nanoseconds(), kRawOps);
}

// ---- Delete: resident entries far apart, installed again untimed.

template <class Backend, class Config>
void BM_DeleteRandom(benchmark::State& state) {
    Table<Backend, Config> t(residentArg(state));
    const auto order = visitOrder(t.size(), false);
    const std::size_t batch = std::min<std::size_t>(kBatch, order.size() / 2);
    Stopwatch lib;
    std::size_t i = 0;
    std::size_t next = 0;  // where in `order` the batch starts
    const auto position = [&](std::size_t k) { return order[(next + k) % order.size()]; };
    const auto refill = [&](std::size_t count) {
        for (std::size_t k = 0; k < count; ++k) {
            t.forget(t.resident[position(k)]);
            t.add(t.resident[position(k)]);
        }
    };
    lib.start();
    for (auto _ : state) {
        t.table->entryDel(t.resident[position(i)]);
        if (++i == batch) {
            lib.stop();
            state.PauseTiming();
            refill(batch);
            next += batch;
            i = 0;
            state.ResumeTiming();
            lib.start();
        }
    }
    lib.stop();
    refill(i);
    typename RawOf<Backend>::Type raw;
    auto handles = handlesOf(t);
    Stopwatch rawTime;
    for (uint64_t done = 0; done < kRawOps; done += batch, next += batch) {
        rawTime.start();
        for (std::size_t k = 0; k < batch; ++k) raw.del(handles[position(k)]);
        rawTime.stop();
        for (std::size_t k = 0; k < batch; ++k) raw.add(position(k), &handles[position(k)]);
    }
    const uint64_t rawOps = (kRawOps + batch - 1) / batch * batch;
    reportAgainstRaw(state, lib.nanoseconds(), state.iterations(), rawTime.nanoseconds(), rawOps);
}

// ---- Read-back: by handle, and by match through the handle map. Both are
// measured against the raw read-back by handle.

template <class Backend, class Config, bool Recent, bool ByMatch>
void BM_ReadBack(benchmark::State& state) {
    Table<Backend, Config> t(residentArg(state));
    const auto order = visitOrder(t.size(), Recent);
    const auto handles = handlesOf(t);
    Stopwatch lib;
    std::size_t i = 0;
    lib.start();
    for (auto _ : state) {
        const uint32_t n = order[i];
        if constexpr (ByMatch) {
            benchmark::DoNotOptimize(t.table->entry(t.resident[n]));
        } else {
            benchmark::DoNotOptimize(t.table->entryByHandle(handles[n]));
        }
        if (++i == order.size())
            i = 0;
    }
    lib.stop();
    typename RawOf<Backend>::Type raw;
    Stopwatch rawTime;
    rawTime.start();
    for (uint64_t k = 0; k < kRawOps; ++k) raw.get(handles[order[k % order.size()]]);
    rawTime.stop();
    reportAgainstRaw(state, lib.nanoseconds(), state.iterations(), rawTime.nanoseconds(), kRawOps);
}

#define TABLE_BENCH(name, ...) \
    BENCHMARK_TEMPLATE(name, __VA_ARGS__)->Arg(1024)->Arg(16384)->Arg(65536);
#define TABLE_BENCH_ALL(name, ...)             \
    TABLE_BENCH(name, Pd, Bare __VA_ARGS__)    \
    TABLE_BENCH(name, Pd, Managed __VA_ARGS__) \
    TABLE_BENCH(name, Bfrt, Bare __VA_ARGS__)  \
    TABLE_BENCH(name, Bfrt, Managed __VA_ARGS__)

TABLE_BENCH_ALL(BM_Add)
TABLE_BENCH_ALL(BM_Modify, , false)
TABLE_BENCH_ALL(BM_Modify, , true)
TABLE_BENCH_ALL(BM_DeleteRandom)
TABLE_BENCH_ALL(BM_ReadBack, , false, false)
TABLE_BENCH_ALL(BM_ReadBack, , true, false)
TABLE_BENCH_ALL(BM_ReadBack, , false, true)

// ---- The yardstick for the far-apart rows: one load that misses every
// cache, measured as a walk of a random cycle through 64K objects of 128
// bytes (the caller's match objects take about as much room). An operation
// whose caller hands it a match it has not touched lately pays at least one.
void BM_DependentMiss(benchmark::State& state) {
    constexpr std::size_t kObjects = 65536, kStrideWords = 128 / sizeof(std::size_t);
    std::vector<std::size_t> memory(kObjects * kStrideWords);
    std::vector<std::size_t> cycle(kObjects);
    for (std::size_t i = 0; i < kObjects; ++i) cycle[i] = i;
    std::mt19937_64 random(7);
    std::shuffle(cycle.begin() + 1, cycle.end(), random);
    for (std::size_t i = 0; i < kObjects; ++i)
        memory[cycle[i] * kStrideWords] = cycle[(i + 1) % kObjects] * kStrideWords;
    std::size_t at = 0;
    Stopwatch cpu;  // CPU time, as every lib_ns and raw_ns
    cpu.start();
    for (auto _ : state) {
        at = memory[at];
        benchmark::DoNotOptimize(at);
    }
    cpu.stop();
    state.counters["miss_ns"] = cpu.nanoseconds() / static_cast<double>(state.iterations());
}
BENCHMARK(BM_DependentMiss);

// ---- The yardstick for the read-back rows: what a read-back must make
// whatever the SDK answers, a new match object and a new action object in a
// new entry, built and dropped.
void BM_ReadBackObjects(benchmark::State& state) {
    Stopwatch cpu;
    cpu.start();
    for (auto _ : state) benchmark::DoNotOptimize(entryOf(matchOf(7), hitAction(1, 6, 2)));
    cpu.stop();
    state.counters["objects_ns"] = cpu.nanoseconds() / static_cast<double>(state.iterations());
}
BENCHMARK(BM_ReadBackObjects);

// ---- Measurements made in a fresh process: this program run again with
// `--child WHAT BACKEND COUNT`, which prints its figures on one line. A fresh
// process starts with a cold cache and an untouched heap, as an agent does.

constexpr const char* kChildFlag = "--child";

// Runs the child; its output line, empty when it failed.
std::string runChild(const char* what, const char* backend, uint32_t count) {
    int out[2];
    if (::pipe(out) != 0)
        return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    // The binary's own path rather than /proc/self/exe, so that a profiler names the child's code.
    std::string self = std::filesystem::read_symlink("/proc/self/exe").string(), flag = kChildFlag,
                whatArg = what, backendArg = backend, countArg = std::to_string(count);
    char* argv[] = {self.data(),       flag.data(),     whatArg.data(),
                    backendArg.data(), countArg.data(), nullptr};
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, self.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    std::string text;
    char buffer[256];
    for (ssize_t got; spawned == 0 && (got = ::read(out[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<std::size_t>(got));
    ::close(out[0]);
    int status = 1;
    if (spawned == 0)
        ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? text : std::string();
}

const char* backendName(Pd) {
    return "pd";
}
const char* backendName(Bfrt) {
    return "bfrt";
}

// Fills a blank table with both managers, as the agent would: the adds per
// second and what the bookkeeping keeps per entry; then fills a blank chip
// with the raw add, the yardstick for the rate.
template <class Backend>
void fillChild(uint32_t count) {
    std::vector<Bf::TwiceNatAddrPortMatchSpec::PtrConst> matches;
    for (uint32_t n = 0; n < count; ++n) matches.push_back(matchOf(n));
    Stopwatch lib, raw;
    double heap = 0, shm = 0;
    {
        Table<Backend, Managed> t(0);
        const double anonBefore = residentKb(nullptr);
        lib.start();
        for (const auto& m : matches) t.add(m);
        lib.stop();
        // The key records are mapped whole when the key manager opens: what one
        // entry costs there is the segment's size per record it can hold.
        heap = (residentKb(nullptr) - anonBefore) * 1024 / count;
        shm = residentKb("_keys_") * 1024 / kKeyCapacity;
    }
    {
        const Table<Backend, Bare> blank(0);
        typename RawOf<Backend>::Type chip;
        std::vector<uint32_t> handles(count);
        raw.start();
        for (uint32_t n = 0; n < count; ++n) chip.add(n, &handles[n]);
        raw.stop();
    }
    std::printf("%f %f %f %f\n", count / (lib.nanoseconds() * 1e-9), heap, shm,
                count / (raw.nanoseconds() * 1e-9));
}

// The worst single add of a fill, timed add by add (two system calls each,
// more than an add, hence a run of its own). A stall the code causes, such
// as the growth of a map, comes at the same add in every fill; a stall of the
// machine (an interrupt, the hypervisor taking the core) at a random one. So
// the fill runs kWorstRounds times from blank, each add keeps its fastest
// time, and the worst of those is reported, beside the worst of one fill.
template <class Backend>
void fillWorstChild(uint32_t count) {
    constexpr int kWorstRounds = 3;
    std::vector<Bf::TwiceNatAddrPortMatchSpec::PtrConst> matches;
    for (uint32_t n = 0; n < count; ++n) matches.push_back(matchOf(n));
    std::vector<double> fastest(count, std::numeric_limits<double>::max());
    double worstOfOne = 0;
    for (int round = 0; round < kWorstRounds; ++round) {
        Table<Backend, Managed> t(0);
        for (uint32_t n = 0; n < count; ++n) {
            const double begin = threadCpuNs();
            t.add(matches[n]);
            const double took = threadCpuNs() - begin;
            fastest[n] = std::min(fastest[n], took);
            if (round == 0)
                worstOfOne = std::max(worstOfOne, took);
        }
    }
    std::printf("%f %f\n", *std::max_element(fastest.begin(), fastest.end()) / 1000,
                worstOfOne / 1000);
}

template <class Backend>
void BM_Fill(benchmark::State& state) {
    const uint32_t count = residentArg(state);
    for (auto _ : state) {
        double addsPerSecond = 0, rawAddsPerSecond = 0, worstUs = 0, worstOfOneUs = 0, heap = 0,
               shm = 0;
        const std::string line = runChild("fill", backendName(Backend{}), count);
        const std::string worstLine = runChild("fillworst", backendName(Backend{}), count);
        if (std::sscanf(line.c_str(), "%lf %lf %lf %lf", &addsPerSecond, &heap, &shm,
                        &rawAddsPerSecond) != 4 ||
            std::sscanf(worstLine.c_str(), "%lf %lf", &worstUs, &worstOfOneUs) != 2) {
            state.SkipWithError("the fill child failed");
            break;
        }
        state.SetIterationTime(count / addsPerSecond);
        state.counters["adds_per_s"] = addsPerSecond;
        state.counters["raw_adds_per_s"] = rawAddsPerSecond;
        // CPU time: on a busy machine the wall clock also counts the time
        // the thread was not running.
        state.counters["worst_add_us"] = worstUs;
        state.counters["worst_add_one_fill_us"] = worstOfOneUs;
        state.counters["heap_B_per_entry"] = heap;
        state.counters["keys_shm_B_per_entry"] = shm;
        state.counters["bookkeeping_B_per_entry"] = heap + shm;
    }
}
BENCHMARK_TEMPLATE(BM_Fill, Pd)
    ->Arg(16384)
    ->Arg(65536)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_Fill, Bfrt)
    ->Arg(65536)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// ---- Restart resync: the child opens the key manager and calls the factory
// over the recorded entries, and reports both times and the entries found.

// The resync holds at most 64K entries and adds none: its key records have
// the key manager's default size, at which the open is timed.
constexpr uint64_t kResyncKeyCapacity = Zabro::MbbZabroTableConfig::kDefaultCapacity;

template <class Backend>
void resyncChild(uint32_t) {
    // The chip is up before any table is made, as a switch's driver is: its
    // attach (mapping and checking its records) is timed apart.
    const double t0 = threadCpuNs();
    Chip::open(kDev, kChipCapacity);
    const double t1 = threadCpuNs();
    auto keys = MbbZabroKey::zabroKeyManagerFactory(kDev, kPipe, kResyncKeyCapacity);
    const double t2 = threadCpuNs();
    auto table = buildTable<Backend>(keys, BfnTableStatusManager::statusManagerFactory());
    const double t3 = threadCpuNs();
    std::printf("%.0f %.0f %.0f %zu\n", t1 - t0, t2 - t1, t3 - t2,
                table->helper()->sdkHandles()->entryCount());
    std::fflush(stdout);
    std::_Exit(0);  // the process ends here: nothing to give back
}

template <class Backend>
void BM_RestartResync(benchmark::State& state) {
    const uint32_t count = residentArg(state);
    Chip::wipe(kDev);
    Chip::open(kDev, kChipCapacity);
    Zabro::MbbZabroTableConfig::segmentWipe(kDev, kPipe);
    {
        auto keys = MbbZabroKey::zabroKeyManagerFactory(kDev, kPipe, kResyncKeyCapacity);
        auto table = buildTable<Backend>(keys, nullptr);
        const auto action = hitAction(1, 6, 2);
        for (uint32_t n = 0; n < count; ++n) {
            const auto m = matchOf(n);
            table->entryIs(entryOf(m, action));
            keys->sdkEntryHandleIs(keys->key(m), table->helper()->sdkHandles()->entry(m));
        }
    }
    Chip::close(kDev);
    double attachTotal = 0, openTotal = 0;
    for (auto _ : state) {
        double attachNs = 0, openNs = 0, resyncNs = 0;
        std::size_t entries = 0;
        const std::string line = runChild("resync", backendName(Backend{}), count);
        if (std::sscanf(line.c_str(), "%lf %lf %lf %zu", &attachNs, &openNs, &resyncNs, &entries) !=
                4 ||
            entries != count) {
            state.SkipWithError("the resync child failed or missed entries");
            break;
        }
        state.SetIterationTime(resyncNs * 1e-9);
        attachTotal += attachNs;
        openTotal += openNs;
    }
    const double perIteration =
        1000.0 * static_cast<double>(std::max<benchmark::IterationCount>(1, state.iterations()));
    state.counters["chip_attach_us"] = attachTotal / perIteration;
    state.counters["key_manager_open_us"] = openTotal / perIteration;
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * count);
    Zabro::MbbZabroTableConfig::segmentWipe(kDev, kPipe);
    Chip::wipe(kDev);
}
#define RESYNC_BENCH(Backend)                     \
    BENCHMARK_TEMPLATE(BM_RestartResync, Backend) \
        ->Arg(1024)                               \
        ->Arg(16384)                              \
        ->Arg(65536)                              \
        ->UseManualTime()                         \
        ->Iterations(5)                           \
        ->Unit(benchmark::kMillisecond);
RESYNC_BENCH(Pd)
RESYNC_BENCH(Bfrt)

template <class Backend>
int child(const char* what, uint32_t count) {
    if (std::strcmp(what, "fill") == 0) {
        fillChild<Backend>(count);
        return 0;
    }
    if (std::strcmp(what, "fillworst") == 0) {
        fillWorstChild<Backend>(count);
        return 0;
    }
    if (std::strcmp(what, "resync") == 0) {
        resyncChild<Backend>(count);
        return 0;
    }
    return 1;
}

}  // namespace
}  // namespace TableBench

int main(int argc, char** argv) {
    using namespace TableBench;
    const bool isChild = argc == 5 && std::strcmp(argv[1], kChildFlag) == 0;
    if (!isChild) {
        const std::string prefix = "olvbench" + std::to_string(::getpid());
        ::setenv("OLVANE_SHM_PREFIX", prefix.c_str(), 1);
    }
    uint32_t session = 0;  // the chip serves open sessions only; the PD calls here pass 1
    if (Chip::sessionOpen(&session) != 0 || session != 1) {
        return 1;
    }
    if (isChild) {
        const auto count = static_cast<uint32_t>(std::strtoul(argv[4], nullptr, 10));
        return std::strcmp(argv[3], "pd") == 0 ? child<Pd>(argv[2], count)
                                               : child<Bfrt>(argv[2], count);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    Chip::wipe(kDev);
    Zabro::MbbZabroTableConfig::segmentWipe(kDev, kPipe);
    return 0;
}
