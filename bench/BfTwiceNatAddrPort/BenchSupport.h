#pragma once
// What the table benchmarks share: the two backends, tables built by the
// exported factory with or without the key and status managers, the raw chip
// calls they are measured against, and a stopwatch for the parts of a run
// that Google Benchmark does not time itself.
#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <chrono>
#include <cstdint>
#include <ctime>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "BfTwiceNatAddrPort/BfTwiceNatAddrPort"
#include "chip/ChipRegistry.h"
#include "chip/SimBfRt.h"
#include "sdk/olvane_switch_pd.h"

namespace TableBench {

namespace Bf = BfTwiceNatAddrPort;

constexpr uint8_t kDev = 0;
constexpr uint16_t kPipe = 0xFFFF;
constexpr uint32_t kSession = 1;
constexpr p4_pd_dev_target_t kTarget{kDev, kPipe, 0};
constexpr uint32_t kBatch = 4096;   // entries added or deleted between untimed resets
constexpr uint32_t kStride = 7919;  // prime: walks every resident entry, far apart
// Room for 64K resident entries and a batch on top.
constexpr uint32_t kChipCapacity = 131072;
constexpr uint64_t kKeyCapacity = 131072 + 16;

// The PD library a table is built over decides its backend: without the
// object runtime the factory builds the PD backend, with it the BfRt one.
struct Pd {
    static constexpr const char* kLibrary = OLVANE_PD_LIBRARY_DIR "/libolvane_switch_pd_nobfrt.so";
};
struct Bfrt {
    static constexpr const char* kLibrary = OLVANE_PD_LIBRARY_DIR "/libolvane_switch_pd.so";
};
// The table alone, or as the agent runs it: with key and status manager.
struct Bare {
    static constexpr bool kManaged = false;
};
struct Managed {
    static constexpr bool kManaged = true;
};

using MatchSpec = p4_pd_olvane_switch_twiceNatAddrPort_match_spec_t;
using HitSpec = p4_pd_olvane_switch_twiceNatAddrPortHit_action_spec_t;

inline MatchSpec pdMatchOf(uint32_t n) {
    return {static_cast<uint16_t>(n), static_cast<uint16_t>(n >> 16), 443};
}

inline Bf::TwiceNatAddrPortMatchSpec::PtrConst matchOf(uint32_t n) {
    const MatchSpec pd = pdMatchOf(n);
    auto m = Bf::twiceNatAddrPortMatchSpecFactory();
    m->ingMdNatKeyIdIs(pd.ing_md_nat_key_id);
    m->l4PortHdrSrcPortIs(pd.l4_port_hdr_src_port);
    m->l4PortHdrDstPortIs(pd.l4_port_hdr_dst_port);
    return m;
}

inline Bf::TwiceNatAddrPortBaseActionSpec::PtrConst hitAction(uint16_t rwId, uint8_t prot,
                                                              uint16_t nextHop) {
    return Bf::actionSpecOf(Bf::twiceNatAddrPortHitActionSpec, rwId, prot, nextHop);
}

inline Bf::TwiceNatAddrPortTableEntry entryOf(
    const Bf::TwiceNatAddrPortMatchSpec::PtrConst& m,
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

template <class Backend>
Bf::TwiceNatAddrPortTable::Ptr buildTable(const MbbZabroKey::ZabroKeyManager::Ptr& keys,
                                          const BfnTableStatusManager::StatusManager::Ptr& status) {
    return twiceNatAddrPortTableFactory(keys, status, libraryHandle<Backend>(), kSession, kDev,
                                        kPipe, Backend::kLibrary);
}

// A table built by the exported factory on a blank chip (and blank key
// records), holding `resident` entries: matches 0 .. resident-1.
template <class Backend, class Config>
struct LibraryTable {
    MbbZabroKey::ZabroKeyManager::Ptr keys;
    BfnTableStatusManager::StatusManager::Ptr status;
    Bf::TwiceNatAddrPortTable::Ptr table;
    std::vector<Bf::TwiceNatAddrPortMatchSpec::PtrConst> resident;
    Bf::TwiceNatAddrPortBaseActionSpec::PtrConst action = hitAction(1, 6, 2);

    explicit LibraryTable(uint32_t count) {
        Chip::wipe(kDev);
        Chip::open(kDev, kChipCapacity);
        Zabro::MbbZabroTableConfig::segmentWipe(kDev, kPipe);
        if (Config::kManaged) {
            keys = MbbZabroKey::zabroKeyManagerFactory(kDev, kPipe, kKeyCapacity);
            status = BfnTableStatusManager::statusManagerFactory();
        }
        table = buildTable<Backend>(keys, status);
        for (uint32_t n = 0; n < count; ++n) resident.push_back(matchOf(n));
        for (const auto& m : resident) add(m);
    }
    ~LibraryTable() {
        table = nullptr;
        keys = nullptr;
        Zabro::MbbZabroTableConfig::segmentWipe(kDev, kPipe);
    }
    uint32_t size() const { return static_cast<uint32_t>(resident.size()); }
    BfnTable::BfnSdkEntryHandle handleOf(uint32_t n) const {
        return table->helper()->sdkHandles()->entry(resident[n]);
    }
    // An install as the agent makes it: the table call, then the handle
    // recorded with the key manager.
    void add(const Bf::TwiceNatAddrPortMatchSpec::PtrConst& m) {
        table->entryIs(entryOf(m, action));
        if (keys)
            keys->sdkEntryHandleIs(keys->key(m), table->helper()->sdkHandles()->entry(m));
    }
    // The agent's bookkeeping after a delete: the key and the status go.
    void forget(const Bf::TwiceNatAddrPortMatchSpec::PtrConst& m) {
        if (keys)
            keys->free(keys->key(m));
        if (status)
            status->statusDel(m);
    }
};

// ---- The raw calls

template <class Function>
Function* pdFunction(const char* name) {
    return reinterpret_cast<Function*>(::dlsym(libraryHandle<Pd>(), name));
}
#define OLVANE_BIND(f) pdFunction<decltype(::f)>(#f)

struct RawPd {
    decltype(::p4_pd_olvane_switch_twiceNatAddrPort_table_add_with_twiceNatAddrPortHit)* addFn =
        OLVANE_BIND(p4_pd_olvane_switch_twiceNatAddrPort_table_add_with_twiceNatAddrPortHit);
    decltype(::p4_pd_olvane_switch_twiceNatAddrPort_table_modify_with_twiceNatAddrPortHit)*
        modifyFn =
            OLVANE_BIND(p4_pd_olvane_switch_twiceNatAddrPort_table_modify_with_twiceNatAddrPortHit);
    decltype(::p4_pd_olvane_switch_twiceNatAddrPort_table_delete)* delFn =
        OLVANE_BIND(p4_pd_olvane_switch_twiceNatAddrPort_table_delete);
    decltype(::p4_pd_olvane_switch_twiceNatAddrPort_get_entry)* getFn =
        OLVANE_BIND(p4_pd_olvane_switch_twiceNatAddrPort_get_entry);

    int add(uint32_t n, uint32_t* handle) {
        MatchSpec match = pdMatchOf(n);
        HitSpec spec{1, 6, 2};
        return addFn(kSession, kTarget, &match, &spec, handle);
    }
    int modify(uint32_t handle) {
        HitSpec spec{3, 17, 4};
        return modifyFn(kSession, kDev, handle, &spec);
    }
    int del(uint32_t handle) { return delFn(kSession, kDev, handle); }
    int get(uint32_t handle) {
        MatchSpec match{};
        char name[P4_PD_OLVANE_SWITCH_ACTION_NAME_MAX];
        uint8_t spec[6];
        uint8_t isDefault = 0;
        const int status =
            getFn(kSession, kDev, handle, false, &match, name, spec, nullptr, &isDefault);
        benchmark::DoNotOptimize(match);
        return status;
    }
};
#undef OLVANE_BIND

// The device's object-runtime table with one key and one data object bound
// to twiceNatAddrPortHit, as the library keeps them.
struct RawBfrt {
    const bfrt::OlvaneBfRtTable& table = *Chip::deviceObjects(kDev).table;
    const bfrt::BfRtSession& session = *Chip::deviceObjects(kDev).tableIntf->bfRtSessionGet();
    const bfrt::BfRtTarget target{kDev, kPipe};
    std::unique_ptr<bfrt::BfRtTableKey> key;
    std::unique_ptr<bfrt::BfRtTableData> data;

    RawBfrt() {
        table.keyAllocate(&key);
        table.dataAllocate(&data);
        table.dataReset(102, data.get());  // twiceNatAddrPortHit
    }
    int add(uint32_t n, uint32_t* handle) {
        const MatchSpec m = pdMatchOf(n);
        key->setValue(1, m.ing_md_nat_key_id);
        key->setValue(2, m.l4_port_hdr_src_port);
        key->setValue(3, m.l4_port_hdr_dst_port);
        dataIs(1, 6, 2);
        return table.tableEntryAdd(session, target, *key, *data, handle);
    }
    int modify(uint32_t handle) {
        dataIs(3, 17, 4);
        return table.tableEntryMod(session, target, 0x20, handle, *data);
    }
    int del(uint32_t handle) { return table.tableEntryDel(session, target, handle); }
    int get(uint32_t handle) {
        uint32_t actionId = 0;
        uint64_t value = 0;
        table.keyReset(key.get());
        table.dataReset(data.get());
        const int status = table.tableEntryGet(session, target, 0, handle, key.get(), data.get());
        data->actionIdGet(&actionId);
        for (uint32_t field : {1, 2, 3}) key->getValue(field, &value);
        for (uint32_t field : {11, 12, 13}) data->getValue(field, &value);
        benchmark::DoNotOptimize(value);
        return status;
    }

  private:
    void dataIs(uint64_t rwId, uint64_t prot, uint64_t nextHop) {
        data->setValue(11, rwId);
        data->setValue(12, prot);
        data->setValue(13, nextHop);
    }
};

template <class Backend>
struct RawOf;
template <>
struct RawOf<Pd> {
    using Type = RawPd;
};
template <>
struct RawOf<Bfrt> {
    using Type = RawBfrt;
};

// The CPU time of the calling thread: on a machine shared with other work,
// the wall clock also counts the time the thread was not running.
inline double threadCpuNs() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec);
}

// Accumulates the thread's CPU time over the timed stretches of a run.
class Stopwatch {
  public:
    void start() { begin_ = threadCpuNs(); }
    void stop() { total_ += threadCpuNs() - begin_; }
    double nanoseconds() const { return total_; }

  private:
    double begin_ = 0;
    double total_ = 0;
};

// Library and raw nanoseconds per operation, their difference and ratio.
inline void reportAgainstRaw(benchmark::State& state, double libraryNs, uint64_t libraryOps,
                             double rawNs, uint64_t rawOps) {
    const double lib = libraryNs / static_cast<double>(libraryOps);
    const double raw = rawNs / static_cast<double>(rawOps);
    state.counters["lib_ns"] = lib;
    state.counters["raw_ns"] = raw;
    state.counters["overhead_ns"] = lib - raw;
    state.counters["ratio"] = raw > 0 ? lib / raw : 0;
}

// Resident kB of this process's mappings whose smaps header line contains
// `name`, or of all anonymous memory when `name` is null.
inline double residentKb(const char* name) {
    if (!name) {
        std::ifstream in("/proc/self/smaps_rollup");
        for (std::string line; std::getline(in, line);) {
            if (line.rfind("Anonymous:", 0) == 0)
                return std::stod(line.substr(10));
        }
        return 0;
    }
    std::ifstream in("/proc/self/smaps");
    double kb = 0;
    bool inside = false;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && std::isxdigit(static_cast<unsigned char>(line[0])) &&
            line.find('-') < line.find(' ')) {
            inside = line.find(name) != std::string::npos;
        } else if (inside && line.rfind("Rss:", 0) == 0) {
            kb += std::stod(line.substr(4));
        }
    }
    return kb;
}

}  // namespace TableBench
