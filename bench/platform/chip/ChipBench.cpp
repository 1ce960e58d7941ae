// Raw chip calls, through the PD library loaded with dlopen and through the object
// runtime: the floor that the table library's own operations are measured against.
// The table holds kResident entries throughout, so placement works at a realistic load.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "chip/ChipRegistry.h"
#include "chip/SimBfRt.h"
#include "sdk/olvane_switch_pd.h"

namespace {

constexpr uint8_t kDev = 0;
constexpr p4_pd_dev_target_t kTarget{kDev, 0xFFFF, 0};
constexpr bfrt::BfRtTarget kObjectTarget{kDev, 0xFFFF};
constexpr uint32_t kResident = 32768;
constexpr uint32_t kBatch = 4096;  // entries added or deleted between untimed resets

using MatchSpec = p4_pd_olvane_switch_twiceNatAddrPort_match_spec_t;
using HitSpec = p4_pd_olvane_switch_twiceNatAddrPortHit_action_spec_t;

MatchSpec matchOf(uint32_t n) {
    return {static_cast<uint16_t>(n), static_cast<uint16_t>(n >> 16), 443};
}

class PdLibrary {
  public:
    PdLibrary() : handle_(::dlopen(OLVANE_PD_LIBRARY_DIR "/libolvane_switch_pd.so", RTLD_NOW)) {
        if (handle_ == nullptr) {
            throw std::runtime_error(::dlerror());
        }
    }
    ~PdLibrary() { ::dlclose(handle_); }
    PdLibrary(const PdLibrary&) = delete;
    PdLibrary& operator=(const PdLibrary&) = delete;

    template <class Function>
    Function* bind(const char* name) const {
        return reinterpret_cast<Function*>(::dlsym(handle_, name));
    }

  private:
    void* handle_;
};

#define OLVANE_BIND(lib, f) lib.bind<decltype(::f)>(#f)

struct Pd {
    PdLibrary lib;
    decltype(::p4_pd_olvane_switch_twiceNatAddrPort_table_add_with_twiceNatAddrPortHit)* add =
        OLVANE_BIND(lib, p4_pd_olvane_switch_twiceNatAddrPort_table_add_with_twiceNatAddrPortHit);
    decltype(::p4_pd_olvane_switch_twiceNatAddrPort_table_modify_with_twiceNatAddrPortHit)* modify =
        OLVANE_BIND(lib,
                    p4_pd_olvane_switch_twiceNatAddrPort_table_modify_with_twiceNatAddrPortHit);
    decltype(::p4_pd_olvane_switch_twiceNatAddrPort_table_delete)* del =
        OLVANE_BIND(lib, p4_pd_olvane_switch_twiceNatAddrPort_table_delete);
    decltype(::p4_pd_olvane_switch_twiceNatAddrPort_get_entry)* get =
        OLVANE_BIND(lib, p4_pd_olvane_switch_twiceNatAddrPort_get_entry);

    static Pd& instance() {
        static Pd pd;
        return pd;
    }
};

// A blank chip holding kResident entries; returns their handles.
std::vector<p4_pd_entry_hdl_t> residentChip() {
    Chip::wipe(kDev);
    Chip::open(kDev);
    Pd& pd = Pd::instance();
    HitSpec spec{1, 6, 2};
    std::vector<p4_pd_entry_hdl_t> handles(kResident);
    for (uint32_t n = 0; n < kResident; ++n) {
        MatchSpec match = matchOf(n);
        if (pd.add(1, kTarget, &match, &spec, &handles[n]) != 0) {
            throw std::runtime_error("cannot fill the chip");
        }
    }
    return handles;
}

// Adds or deletes the batch entries kResident.. in the chip, untimed.
void addBatch(std::vector<p4_pd_entry_hdl_t>& handles) {
    Pd& pd = Pd::instance();
    HitSpec spec{1, 6, 2};
    handles.resize(kBatch);
    for (uint32_t i = 0; i < kBatch; ++i) {
        MatchSpec match = matchOf(kResident + i);
        pd.add(1, kTarget, &match, &spec, &handles[i]);
    }
}

void deleteBatch(const std::vector<p4_pd_entry_hdl_t>& handles) {
    for (p4_pd_entry_hdl_t handle : handles) {
        Pd::instance().del(1, kDev, handle);
    }
}

void BM_PdAdd(benchmark::State& state) {
    residentChip();
    Pd& pd = Pd::instance();
    HitSpec spec{1, 6, 2};
    std::vector<p4_pd_entry_hdl_t> batch(kBatch);
    uint32_t i = 0;
    for (auto _ : state) {
        MatchSpec match = matchOf(kResident + i);
        benchmark::DoNotOptimize(pd.add(1, kTarget, &match, &spec, &batch[i]));
        if (++i == kBatch) {
            state.PauseTiming();
            deleteBatch(batch);
            i = 0;
            state.ResumeTiming();
        }
    }
}
BENCHMARK(BM_PdAdd);

void BM_PdModify(benchmark::State& state) {
    std::vector<p4_pd_entry_hdl_t> handles = residentChip();
    Pd& pd = Pd::instance();
    HitSpec spec{3, 17, 4};
    uint32_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(pd.modify(1, kDev, handles[i], &spec));
        i = (i + 7919) % kResident;
    }
}
BENCHMARK(BM_PdModify);

void BM_PdDelete(benchmark::State& state) {
    residentChip();
    Pd& pd = Pd::instance();
    std::vector<p4_pd_entry_hdl_t> batch;
    addBatch(batch);
    uint32_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(pd.del(1, kDev, batch[i]));
        if (++i == kBatch) {
            state.PauseTiming();
            addBatch(batch);
            i = 0;
            state.ResumeTiming();
        }
    }
}
BENCHMARK(BM_PdDelete);

void BM_PdGetEntry(benchmark::State& state) {
    std::vector<p4_pd_entry_hdl_t> handles = residentChip();
    Pd& pd = Pd::instance();
    MatchSpec match{};
    char name[P4_PD_OLVANE_SWITCH_ACTION_NAME_MAX];
    uint8_t spec[6];
    uint8_t isDefault = 0;
    uint32_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            pd.get(1, kDev, handles[i], false, &match, name, spec, nullptr, &isDefault));
        i = (i + 7919) % kResident;
    }
}
BENCHMARK(BM_PdGetEntry);

// Opening a chip, as a restarted agent does: map the segment, check every record,
// derive the free records and check the buckets. Arg: entries installed (capacity 64K).
void BM_ChipOpen(benchmark::State& state) {
    Chip::wipe(kDev);
    Chip::Device& dev = Chip::open(kDev);
    for (uint32_t n = 0; n < static_cast<uint32_t>(state.range(0)); ++n) {
        uint32_t handle = 0;
        MatchSpec m = matchOf(n);
        if (dev.entryAdd(Chip::kAllPipes, {m.ing_md_nat_key_id, m.l4_port_hdr_src_port, 443},
                         {Chip::Action::Hit, 6, 1, 2}, &handle) != Chip::kSuccess) {
            state.SkipWithError("cannot fill the chip");
            return;
        }
    }
    Chip::close(kDev);
    for (auto _ : state) {
        benchmark::DoNotOptimize(Chip::open(kDev).entryCount());
        Chip::close(kDev);
    }
    const Chip::Recovery& recovery = Chip::open(kDev).recovery();
    state.counters["repairs"] = recovery.slotsCleared + recovery.slotsPlaced;
}
BENCHMARK(BM_ChipOpen)->Arg(0)->Arg(32768)->Arg(60000)->Unit(benchmark::kMicrosecond);

// Object-runtime side: one key and one data object, reused as the table library does.
struct Objects {
    bfrt::OlvaneBfRtTable& table = *Chip::deviceObjects(kDev).table;
    const bfrt::BfRtSession& session = *Chip::deviceObjects(kDev).tableIntf->bfRtSessionGet();
    std::unique_ptr<bfrt::BfRtTableKey> key;
    std::unique_ptr<bfrt::BfRtTableData> data;
    uint32_t hit = 0, rwId = 0, prot = 0, nextHop = 0;

    Objects() {
        table.keyAllocate(&key);
        table.dataAllocate(&data);
        table.actionIdGet("twiceNatAddrPortHit", &hit);
        table.dataFieldIdGet("rwId", hit, &rwId);
        table.dataFieldIdGet("prot", hit, &prot);
        table.dataFieldIdGet("nextHop", hit, &nextHop);
        table.dataReset(hit, data.get());
    }

    void keyIs(uint32_t n) {
        MatchSpec m = matchOf(n);
        key->setValue(1, m.ing_md_nat_key_id);
        key->setValue(2, m.l4_port_hdr_src_port);
        key->setValue(3, m.l4_port_hdr_dst_port);
    }

    void dataIs(uint64_t rw, uint64_t pr, uint64_t hop) {
        data->setValue(rwId, rw);
        data->setValue(prot, pr);
        data->setValue(nextHop, hop);
    }
};

void BM_BfRtAdd(benchmark::State& state) {
    residentChip();
    Objects o;
    std::vector<p4_pd_entry_hdl_t> batch(kBatch);
    uint32_t i = 0;
    for (auto _ : state) {
        o.keyIs(kResident + i);
        o.dataIs(1, 6, 2);
        benchmark::DoNotOptimize(
            o.table.tableEntryAdd(o.session, kObjectTarget, *o.key, *o.data, &batch[i]));
        if (++i == kBatch) {
            state.PauseTiming();
            deleteBatch(batch);
            i = 0;
            state.ResumeTiming();
        }
    }
}
BENCHMARK(BM_BfRtAdd);

void BM_BfRtModify(benchmark::State& state) {
    std::vector<p4_pd_entry_hdl_t> handles = residentChip();
    Objects o;
    const uint64_t flags = 0x20;
    uint32_t i = 0;
    for (auto _ : state) {
        o.dataIs(3, 17, 4);
        benchmark::DoNotOptimize(
            o.table.tableEntryMod(o.session, kObjectTarget, flags, handles[i], *o.data));
        i = (i + 7919) % kResident;
    }
}
BENCHMARK(BM_BfRtModify);

void BM_BfRtDelete(benchmark::State& state) {
    residentChip();
    Objects o;
    std::vector<p4_pd_entry_hdl_t> batch;
    addBatch(batch);
    uint32_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(o.table.tableEntryDel(o.session, kObjectTarget, batch[i]));
        if (++i == kBatch) {
            state.PauseTiming();
            addBatch(batch);
            i = 0;
            state.ResumeTiming();
        }
    }
}
BENCHMARK(BM_BfRtDelete);

void BM_BfRtGet(benchmark::State& state) {
    std::vector<p4_pd_entry_hdl_t> handles = residentChip();
    Objects o;
    uint32_t i = 0;
    uint64_t value = 0;
    uint32_t action = 0;
    for (auto _ : state) {
        o.table.keyReset(o.key.get());
        o.table.dataReset(o.data.get());
        benchmark::DoNotOptimize(o.table.tableEntryGet(o.session, kObjectTarget, 0, handles[i],
                                                       o.key.get(), o.data.get()));
        o.data->actionIdGet(&action);
        o.key->getValue(1, &value);
        o.data->getValue(o.rwId, &value);
        benchmark::DoNotOptimize(value);
        i = (i + 7919) % kResident;
    }
}
BENCHMARK(BM_BfRtGet);

}  // namespace

int main(int argc, char** argv) {
    std::string prefix = "olvbench" + std::to_string(::getpid());
    ::setenv("OLVANE_SHM_PREFIX", prefix.c_str(), 1);
    uint32_t session = 0;  // the chip serves open sessions only; the PD calls here pass 1
    if (Chip::sessionOpen(&session) != 0 || session != 1) {
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    Chip::wipe(kDev);
    return 0;
}
