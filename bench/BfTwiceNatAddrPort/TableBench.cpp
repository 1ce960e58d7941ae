// The table library's operations against the raw PD calls they wrap, on the
// chip model with kResident entries installed, and the restart resync of N
// entries. Library benchmarks run without key and status manager, so that
// they measure the library itself; the resync needs the key manager.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "BfTwiceNatAddrPort/BfTwiceNatAddrPort"
#include "chip/ChipRegistry.h"
#include "chip/SimBfRt.h"
#include "sdk/olvane_switch_pd.h"

namespace {

namespace Bf = BfTwiceNatAddrPort;

constexpr uint8_t kDev = 0;
constexpr uint16_t kPipe = 0xFFFF;
constexpr uint32_t kSession = 1;
constexpr p4_pd_dev_target_t kTarget{kDev, kPipe, 0};
constexpr uint32_t kResident = 32768;
constexpr uint32_t kBatch = 4096;  // entries added or deleted between untimed resets
constexpr uint32_t kStride = 7919;

// The PD library a table is built over decides its backend: without the
// object runtime the factory builds the PD backend, with it the BfRt one.
struct Pd {
    static constexpr const char* kLibrary = OLVANE_PD_LIBRARY_DIR "/libolvane_switch_pd_nobfrt.so";
};
struct Bfrt {
    static constexpr const char* kLibrary = OLVANE_PD_LIBRARY_DIR "/libolvane_switch_pd.so";
};

using MatchSpec = p4_pd_olvane_switch_twiceNatAddrPort_match_spec_t;
using HitSpec = p4_pd_olvane_switch_twiceNatAddrPortHit_action_spec_t;

MatchSpec pdMatchOf(uint32_t n) {
    return {static_cast<uint16_t>(n), static_cast<uint16_t>(n >> 16), 443};
}

Bf::TwiceNatAddrPortMatchSpec::PtrConst matchOf(uint32_t n) {
    const MatchSpec pd = pdMatchOf(n);
    auto m = Bf::twiceNatAddrPortMatchSpecFactory();
    m->ingMdNatKeyIdIs(pd.ing_md_nat_key_id);
    m->l4PortHdrSrcPortIs(pd.l4_port_hdr_src_port);
    m->l4PortHdrDstPortIs(pd.l4_port_hdr_dst_port);
    return m;
}

Bf::TwiceNatAddrPortBaseActionSpec::PtrConst hitAction(uint16_t rwId, uint8_t prot,
                                                       uint16_t nextHop) {
    return Bf::actionSpecOf(Bf::twiceNatAddrPortHitActionSpec, rwId, prot, nextHop);
}

Bf::TwiceNatAddrPortTableEntry entryOf(const Bf::TwiceNatAddrPortMatchSpec::PtrConst& m,
                                       const Bf::TwiceNatAddrPortBaseActionSpec::PtrConst& a) {
    Bf::TwiceNatAddrPortTableEntry e(m);
    e.actionIs(a);
    return e;
}

struct LibraryCloser {
    void operator()(void* handle) const { ::dlclose(handle); }
};

// Opened once per process and kept: the tables hold the PD functions it binds.
template <class Backend>
void* libraryHandle() {
    static const std::unique_ptr<void, LibraryCloser> handle(::dlopen(Backend::kLibrary, RTLD_NOW));
    if (!handle)
        throw std::runtime_error(::dlerror());
    return handle.get();
}

template <class Function>
Function* pdFunction(const char* name) {
    return reinterpret_cast<Function*>(::dlsym(libraryHandle<Pd>(), name));
}

#define OLVANE_BIND(f) pdFunction<decltype(::f)>(#f)

struct RawPd {
    decltype(::p4_pd_olvane_switch_twiceNatAddrPort_table_add_with_twiceNatAddrPortHit)* add =
        OLVANE_BIND(p4_pd_olvane_switch_twiceNatAddrPort_table_add_with_twiceNatAddrPortHit);
    decltype(::p4_pd_olvane_switch_twiceNatAddrPort_table_modify_with_twiceNatAddrPortHit)* modify =
        OLVANE_BIND(p4_pd_olvane_switch_twiceNatAddrPort_table_modify_with_twiceNatAddrPortHit);
    decltype(::p4_pd_olvane_switch_twiceNatAddrPort_table_delete)* del =
        OLVANE_BIND(p4_pd_olvane_switch_twiceNatAddrPort_table_delete);
    decltype(::p4_pd_olvane_switch_twiceNatAddrPort_get_entry)* get =
        OLVANE_BIND(p4_pd_olvane_switch_twiceNatAddrPort_get_entry);
};

// A table built by the exported factory on a blank chip, holding kResident
// entries (matches 0 .. kResident-1).
template <class Backend>
struct LibraryTable {
    Bf::TwiceNatAddrPortTable::Ptr table;
    std::vector<Bf::TwiceNatAddrPortMatchSpec::PtrConst> resident;
    Bf::TwiceNatAddrPortBaseActionSpec::PtrConst action = hitAction(1, 6, 2);

    LibraryTable() {
        Chip::wipe(kDev);
        table = twiceNatAddrPortTableFactory(nullptr, nullptr, libraryHandle<Backend>(), kSession,
                                             kDev, kPipe, Backend::kLibrary);
        for (uint32_t n = 0; n < kResident; ++n) {
            resident.push_back(matchOf(n));
            table->entryIs(entryOf(resident.back(), action));
        }
    }
    BfnTable::BfnSdkEntryHandle handleOf(uint32_t n) const {
        return table->helper()->sdkHandles()->entry(resident[n]);
    }
};
using PdTable = LibraryTable<Pd>;
using BfrtTable = LibraryTable<Bfrt>;

// The batch kResident .. kResident+kBatch-1: new match objects, not installed.
std::vector<Bf::TwiceNatAddrPortMatchSpec::PtrConst> batchMatches() {
    std::vector<Bf::TwiceNatAddrPortMatchSpec::PtrConst> batch;
    for (uint32_t i = 0; i < kBatch; ++i) batch.push_back(matchOf(kResident + i));
    return batch;
}

// ======== The library, on either backend

template <class Backend>
void BM_LibraryAdd(benchmark::State& state) {
    LibraryTable<Backend> t;
    const auto batch = batchMatches();
    uint32_t i = 0;
    for (auto _ : state) {
        t.table->entryIs(entryOf(batch[i], t.action));
        if (++i == kBatch) {
            state.PauseTiming();
            for (const auto& m : batch) t.table->entryDel(m);
            i = 0;
            state.ResumeTiming();
        }
    }
}
BENCHMARK_TEMPLATE(BM_LibraryAdd, Pd);
BENCHMARK_TEMPLATE(BM_LibraryAdd, Bfrt);

template <class Backend>
void BM_LibraryModify(benchmark::State& state) {
    LibraryTable<Backend> t;
    const auto other = hitAction(3, 17, 4);
    uint32_t i = 0;
    for (auto _ : state) {
        t.table->entryIs(entryOf(t.resident[i], other));
        i = (i + kStride) % kResident;
    }
}
BENCHMARK_TEMPLATE(BM_LibraryModify, Pd);
BENCHMARK_TEMPLATE(BM_LibraryModify, Bfrt);

template <class Backend>
void BM_LibraryDelete(benchmark::State& state) {
    LibraryTable<Backend> t;
    const auto batch = batchMatches();
    for (const auto& m : batch) t.table->entryIs(entryOf(m, t.action));
    uint32_t i = 0;
    for (auto _ : state) {
        t.table->entryDel(batch[i]);
        if (++i == kBatch) {
            state.PauseTiming();
            for (const auto& m : batch) t.table->entryIs(entryOf(m, t.action));
            i = 0;
            state.ResumeTiming();
        }
    }
}
BENCHMARK_TEMPLATE(BM_LibraryDelete, Pd);
BENCHMARK_TEMPLATE(BM_LibraryDelete, Bfrt);

template <class Backend>
void BM_LibraryEntryByHandle(benchmark::State& state) {
    LibraryTable<Backend> t;
    std::vector<BfnTable::BfnSdkEntryHandle> handles(kResident);
    for (uint32_t n = 0; n < kResident; ++n) handles[n] = t.handleOf(n);
    uint32_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(t.table->entryByHandle(handles[i]));
        i = (i + kStride) % kResident;
    }
}
BENCHMARK_TEMPLATE(BM_LibraryEntryByHandle, Pd);
BENCHMARK_TEMPLATE(BM_LibraryEntryByHandle, Bfrt);

// The lookup by match object: the handle map, then the read-back.
template <class Backend>
void BM_LibraryEntry(benchmark::State& state) {
    LibraryTable<Backend> t;
    uint32_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(t.table->entry(t.resident[i]));
        i = (i + kStride) % kResident;
    }
}
BENCHMARK_TEMPLATE(BM_LibraryEntry, Pd);
BENCHMARK_TEMPLATE(BM_LibraryEntry, Bfrt);

// A restarted agent: the factory reads each of the N entries that the key
// manager recorded back by its handle and rebuilds the handle map and the
// key manager's bindings. Time per entry is the time per iteration / N.
template <class Backend>
void BM_LibraryRestartResync(benchmark::State& state) {
    const auto n = static_cast<uint32_t>(state.range(0));
    Chip::wipe(kDev);
    Zabro::MbbZabroTableConfig::segmentWipe(kDev, kPipe);
    const auto build = [](const MbbZabroKey::ZabroKeyManager::Ptr& keys) {
        return twiceNatAddrPortTableFactory(keys, nullptr, libraryHandle<Backend>(), kSession, kDev,
                                            kPipe, Backend::kLibrary);
    };
    {
        auto keys = MbbZabroKey::zabroKeyManagerFactory(kDev, kPipe);
        auto table = build(keys);
        const auto action = hitAction(1, 6, 2);
        for (uint32_t i = 0; i < n; ++i) {
            const auto m = matchOf(i);
            table->entryIs(entryOf(m, action));
            keys->sdkEntryHandleIs(keys->key(m), table->helper()->sdkHandles()->entry(m));
        }
    }
    for (auto _ : state) {
        state.PauseTiming();
        auto keys = MbbZabroKey::zabroKeyManagerFactory(kDev, kPipe);
        state.ResumeTiming();
        auto table = build(keys);
        state.PauseTiming();
        if (table->helper()->sdkHandles()->entryCount() != n)
            state.SkipWithError("the resync missed entries");
        table = nullptr;
        keys = nullptr;
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * n);
    Zabro::MbbZabroTableConfig::segmentWipe(kDev, kPipe);
}
BENCHMARK_TEMPLATE(BM_LibraryRestartResync, Pd)
    ->Arg(1024)
    ->Arg(16384)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_LibraryRestartResync, Bfrt)
    ->Arg(1024)
    ->Arg(16384)
    ->Unit(benchmark::kMicrosecond);

// ======== The raw PD calls

void BM_PdRawAdd(benchmark::State& state) {
    PdTable t;
    RawPd pd;
    HitSpec spec{1, 6, 2};
    std::vector<p4_pd_entry_hdl_t> batch(kBatch);
    uint32_t i = 0;
    for (auto _ : state) {
        MatchSpec match = pdMatchOf(kResident + i);
        benchmark::DoNotOptimize(pd.add(kSession, kTarget, &match, &spec, &batch[i]));
        if (++i == kBatch) {
            state.PauseTiming();
            for (p4_pd_entry_hdl_t h : batch) pd.del(kSession, kDev, h);
            i = 0;
            state.ResumeTiming();
        }
    }
}
BENCHMARK(BM_PdRawAdd);

void BM_PdRawModify(benchmark::State& state) {
    PdTable t;
    RawPd pd;
    std::vector<p4_pd_entry_hdl_t> handles(kResident);
    for (uint32_t n = 0; n < kResident; ++n) handles[n] = t.handleOf(n);
    HitSpec spec{3, 17, 4};
    uint32_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(pd.modify(kSession, kDev, handles[i], &spec));
        i = (i + kStride) % kResident;
    }
}
BENCHMARK(BM_PdRawModify);

void BM_PdRawDelete(benchmark::State& state) {
    PdTable t;
    RawPd pd;
    HitSpec spec{1, 6, 2};
    std::vector<p4_pd_entry_hdl_t> batch(kBatch);
    const auto refill = [&] {
        for (uint32_t i = 0; i < kBatch; ++i) {
            MatchSpec match = pdMatchOf(kResident + i);
            pd.add(kSession, kTarget, &match, &spec, &batch[i]);
        }
    };
    refill();
    uint32_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(pd.del(kSession, kDev, batch[i]));
        if (++i == kBatch) {
            state.PauseTiming();
            refill();
            i = 0;
            state.ResumeTiming();
        }
    }
}
BENCHMARK(BM_PdRawDelete);

void BM_PdRawGetEntry(benchmark::State& state) {
    PdTable t;
    RawPd pd;
    std::vector<p4_pd_entry_hdl_t> handles(kResident);
    for (uint32_t n = 0; n < kResident; ++n) handles[n] = t.handleOf(n);
    MatchSpec match{};
    char name[P4_PD_OLVANE_SWITCH_ACTION_NAME_MAX];
    uint8_t spec[6];
    uint8_t isDefault = 0;
    uint32_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            pd.get(kSession, kDev, handles[i], false, &match, name, spec, nullptr, &isDefault));
        i = (i + kStride) % kResident;
    }
}
BENCHMARK(BM_PdRawGetEntry);

// ======== The raw object-runtime calls, with one key and one data object
// bound to twiceNatAddrPortHit, as the library keeps them.

// The device's object-runtime table with a key and a data object of its own.
struct RawBfRt {
    const bfrt::OlvaneBfRtTable& table = *Chip::deviceObjects(kDev).table;
    const bfrt::BfRtSession& session = *Chip::deviceObjects(kDev).tableIntf->bfRtSessionGet();
    const bfrt::BfRtTarget target{kDev, kPipe};
    std::unique_ptr<bfrt::BfRtTableKey> key;
    std::unique_ptr<bfrt::BfRtTableData> data;

    RawBfRt() {
        table.keyAllocate(&key);
        table.dataAllocate(&data);
        table.dataReset(102, data.get());  // twiceNatAddrPortHit
    }
    bfrt::Status add(uint32_t n, uint32_t* handle) {
        const MatchSpec m = pdMatchOf(n);
        key->setValue(1, m.ing_md_nat_key_id);
        key->setValue(2, m.l4_port_hdr_src_port);
        key->setValue(3, m.l4_port_hdr_dst_port);
        dataIs(1, 6, 2);
        return table.tableEntryAdd(session, target, *key, *data, handle);
    }
    void dataIs(uint64_t rwId, uint64_t prot, uint64_t nextHop) {
        data->setValue(11, rwId);
        data->setValue(12, prot);
        data->setValue(13, nextHop);
    }
};

void BM_BfrtRawAdd(benchmark::State& state) {
    BfrtTable t;
    RawBfRt raw;
    std::vector<uint32_t> batch(kBatch);
    uint32_t i = 0;
    for (auto _ : state) {
        if (raw.add(kResident + i, &batch[i]) != 0)
            state.SkipWithError("the raw add failed");
        if (++i == kBatch) {
            state.PauseTiming();
            for (uint32_t h : batch) raw.table.tableEntryDel(raw.session, raw.target, h);
            i = 0;
            state.ResumeTiming();
        }
    }
}
BENCHMARK(BM_BfrtRawAdd);

void BM_BfrtRawModify(benchmark::State& state) {
    BfrtTable t;
    RawBfRt raw;
    std::vector<uint32_t> handles(kResident);
    for (uint32_t n = 0; n < kResident; ++n) handles[n] = t.handleOf(n);
    const uint64_t flags = 0x20;
    uint32_t i = 0;
    for (auto _ : state) {
        raw.dataIs(3, 17, 4);
        if (raw.table.tableEntryMod(raw.session, raw.target, flags, handles[i], *raw.data) != 0)
            state.SkipWithError("the raw modify failed");
        i = (i + kStride) % kResident;
    }
}
BENCHMARK(BM_BfrtRawModify);

void BM_BfrtRawEntryGet(benchmark::State& state) {
    BfrtTable t;
    RawBfRt raw;
    std::vector<uint32_t> handles(kResident);
    for (uint32_t n = 0; n < kResident; ++n) handles[n] = t.handleOf(n);
    uint32_t i = 0;
    uint32_t actionId = 0;
    uint64_t value = 0;
    for (auto _ : state) {
        raw.table.keyReset(raw.key.get());
        raw.table.dataReset(raw.data.get());
        benchmark::DoNotOptimize(raw.table.tableEntryGet(raw.session, raw.target, 0, handles[i],
                                                         raw.key.get(), raw.data.get()));
        raw.data->actionIdGet(&actionId);
        for (uint32_t field : {1, 2, 3}) raw.key->getValue(field, &value);
        for (uint32_t field : {11, 12, 13}) raw.data->getValue(field, &value);
        benchmark::DoNotOptimize(value);
        i = (i + kStride) % kResident;
    }
}
BENCHMARK(BM_BfrtRawEntryGet);

}  // namespace

int main(int argc, char** argv) {
    const std::string prefix = "olvbench" + std::to_string(::getpid());
    ::setenv("OLVANE_SHM_PREFIX", prefix.c_str(), 1);
    uint32_t session = 0;  // the chip serves open sessions only; the PD calls here pass 1
    if (Chip::sessionOpen(&session) != 0 || session != 1) {
        return 1;
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
