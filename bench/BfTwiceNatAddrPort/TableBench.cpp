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
#include "chip/bfrt.h"
#include "chip/olvane_switch_pd.h"

namespace {

namespace Bf = BfTwiceNatAddrPort;

constexpr uint8_t kDev = 0;
constexpr uint16_t kPipe = 0xFFFF;
constexpr uint32_t kSession = 1;
constexpr p4_pd_dev_target_t kTarget{kDev, kPipe, 0};
constexpr uint32_t kResident = 32768;
constexpr uint32_t kBatch = 4096;  // entries added or deleted between untimed resets
constexpr uint32_t kStride = 7919;

constexpr const char* kPdLibraryNoBfRt = OLVANE_PD_LIBRARY_DIR "/libolvane_switch_pd_nobfrt.so";

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

class PdLibrary {
  public:
    PdLibrary() : handle_(::dlopen(kPdLibraryNoBfRt, RTLD_NOW)) {
        if (handle_ == nullptr)
            throw std::runtime_error(::dlerror());
    }
    ~PdLibrary() { ::dlclose(handle_); }
    PdLibrary(const PdLibrary&) = delete;
    PdLibrary& operator=(const PdLibrary&) = delete;

    void* handle() const { return handle_; }
    template <class Function>
    Function* bind(const char* name) const {
        return reinterpret_cast<Function*>(::dlsym(handle_, name));
    }

    static PdLibrary& instance() {
        static PdLibrary lib;
        return lib;
    }

  private:
    void* handle_;
};

#define OLVANE_BIND(f) PdLibrary::instance().bind<decltype(::f)>(#f)

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

// A PD table built by the exported factory on a blank chip, holding
// kResident entries (matches 0 .. kResident-1).
struct PdTable {
    Bf::TwiceNatAddrPortTable::Ptr table;
    std::vector<Bf::TwiceNatAddrPortMatchSpec::PtrConst> resident;
    Bf::TwiceNatAddrPortBaseActionSpec::PtrConst action = hitAction(1, 6, 2);

    explicit PdTable(const MbbZabroKey::ZabroKeyManager::Ptr& keys = nullptr) {
        Chip::wipe(kDev);
        table = twiceNatAddrPortTableFactory(keys, nullptr, PdLibrary::instance().handle(),
                                             kSession, kDev, kPipe, kPdLibraryNoBfRt);
        for (uint32_t n = 0; n < kResident; ++n) {
            resident.push_back(matchOf(n));
            table->entryIs(entryOf(resident.back(), action));
        }
    }
    BfnTable::BfnSdkEntryHandle handleOf(uint32_t n) const {
        return table->helper()->sdkHandles()->entry(resident[n]);
    }
};

// The batch kResident .. kResident+kBatch-1: new match objects, not installed.
std::vector<Bf::TwiceNatAddrPortMatchSpec::PtrConst> batchMatches() {
    std::vector<Bf::TwiceNatAddrPortMatchSpec::PtrConst> batch;
    for (uint32_t i = 0; i < kBatch; ++i) batch.push_back(matchOf(kResident + i));
    return batch;
}

// ======== PD backend

void BM_PdLibraryAdd(benchmark::State& state) {
    PdTable t;
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
BENCHMARK(BM_PdLibraryAdd);

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

void BM_PdLibraryModify(benchmark::State& state) {
    PdTable t;
    const auto other = hitAction(3, 17, 4);
    uint32_t i = 0;
    for (auto _ : state) {
        t.table->entryIs(entryOf(t.resident[i], other));
        i = (i + kStride) % kResident;
    }
}
BENCHMARK(BM_PdLibraryModify);

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

void BM_PdLibraryDelete(benchmark::State& state) {
    PdTable t;
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
BENCHMARK(BM_PdLibraryDelete);

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

void BM_PdLibraryEntryByHandle(benchmark::State& state) {
    PdTable t;
    std::vector<BfnTable::BfnSdkEntryHandle> handles(kResident);
    for (uint32_t n = 0; n < kResident; ++n) handles[n] = t.handleOf(n);
    uint32_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(t.table->entryByHandle(handles[i]));
        i = (i + kStride) % kResident;
    }
}
BENCHMARK(BM_PdLibraryEntryByHandle);

// The lookup by match object: the handle map, then the read-back.
void BM_PdLibraryEntry(benchmark::State& state) {
    PdTable t;
    uint32_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(t.table->entry(t.resident[i]));
        i = (i + kStride) % kResident;
    }
}
BENCHMARK(BM_PdLibraryEntry);

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

// A restarted agent: the factory reads each of the N entries that the key
// manager recorded back by its handle and rebuilds the handle map and the
// key manager's bindings. Time per entry is the time per iteration / N.
void BM_PdRestartResync(benchmark::State& state) {
    const auto n = static_cast<uint32_t>(state.range(0));
    Chip::wipe(kDev);
    Zabro::MbbZabroTableConfig::segmentWipe(kDev, kPipe);
    {
        auto keys = MbbZabroKey::zabroKeyManagerFactory(kDev, kPipe);
        auto table = twiceNatAddrPortTableFactory(keys, nullptr, PdLibrary::instance().handle(),
                                                  kSession, kDev, kPipe, kPdLibraryNoBfRt);
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
        auto table = twiceNatAddrPortTableFactory(keys, nullptr, PdLibrary::instance().handle(),
                                                  kSession, kDev, kPipe, kPdLibraryNoBfRt);
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
BENCHMARK(BM_PdRestartResync)->Arg(1024)->Arg(16384)->Unit(benchmark::kMicrosecond);

// ======== BfRt backend
// The same operations on a table built over the PD library with the object
// runtime, against the raw object-runtime calls with one key and one data
// object bound to twiceNatAddrPortHit, as the library keeps them.

constexpr const char* kPdLibraryBfRt = OLVANE_PD_LIBRARY_DIR "/libolvane_switch_pd.so";

struct LibraryCloser {
    void operator()(void* handle) const { ::dlclose(handle); }
};

void* bfRtLibraryHandle() {
    static const std::unique_ptr<void, LibraryCloser> handle(::dlopen(kPdLibraryBfRt, RTLD_NOW));
    if (!handle)
        throw std::runtime_error(::dlerror());
    return handle.get();
}

// A BfRt table built by the exported factory on a blank chip, holding
// kResident entries (matches 0 .. kResident-1).
struct BfrtTable {
    Bf::TwiceNatAddrPortTable::Ptr table;
    std::vector<Bf::TwiceNatAddrPortMatchSpec::PtrConst> resident;
    Bf::TwiceNatAddrPortBaseActionSpec::PtrConst action = hitAction(1, 6, 2);

    BfrtTable() {
        Chip::wipe(kDev);
        table = twiceNatAddrPortTableFactory(nullptr, nullptr, bfRtLibraryHandle(), kSession, kDev,
                                             kPipe, kPdLibraryBfRt);
        for (uint32_t n = 0; n < kResident; ++n) {
            resident.push_back(matchOf(n));
            table->entryIs(entryOf(resident.back(), action));
        }
    }
    BfnTable::BfnSdkEntryHandle handleOf(uint32_t n) const {
        return table->helper()->sdkHandles()->entry(resident[n]);
    }
};

// The device's object-runtime table with a key and a data object of its own.
struct RawBfRt {
    const bfrt::OlvaneBfRtTable& table = *bfrt::deviceObjects(kDev).table;
    const bfrt::BfRtSession& session = *bfrt::deviceObjects(kDev).tableIntf->bfRtSessionGet();
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

void BM_BfrtLibraryAdd(benchmark::State& state) {
    BfrtTable t;
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
BENCHMARK(BM_BfrtLibraryAdd);

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

void BM_BfrtLibraryModify(benchmark::State& state) {
    BfrtTable t;
    const auto other = hitAction(3, 17, 4);
    uint32_t i = 0;
    for (auto _ : state) {
        t.table->entryIs(entryOf(t.resident[i], other));
        i = (i + kStride) % kResident;
    }
}
BENCHMARK(BM_BfrtLibraryModify);

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

void BM_BfrtLibraryEntryByHandle(benchmark::State& state) {
    BfrtTable t;
    std::vector<BfnTable::BfnSdkEntryHandle> handles(kResident);
    for (uint32_t n = 0; n < kResident; ++n) handles[n] = t.handleOf(n);
    uint32_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(t.table->entryByHandle(handles[i]));
        i = (i + kStride) % kResident;
    }
}
BENCHMARK(BM_BfrtLibraryEntryByHandle);

// Read as the library reads: reset, get, then the action id and every field.
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
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    Chip::wipe(kDev);
    Zabro::MbbZabroTableConfig::segmentWipe(kDev, kPipe);
    return 0;
}
