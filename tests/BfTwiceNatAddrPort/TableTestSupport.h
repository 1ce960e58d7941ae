#pragma once
// The table suites' fixture (blank chips, leak check, a factory-built table),
// builders, entries as text, the exception a step raised and a logging key manager.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "BfTwiceNatAddrPort/BfTwiceNatAddrPort"
#include "ChipTestSupport.h"
#include "PdLibrary.h"
#include "support/LeakCheck.h"
#include "zabro/Zabro.h"

namespace TableTest {

namespace Bf = BfTwiceNatAddrPort;
using Kiv::_fmt;
using Kiv::U16;
using Kiv::U32;
using Kiv::U64;
using Kiv::U8;
using Texts = std::vector<std::string>;
using ActionType = Bf::TwiceNatAddrPortActionSpecType;

inline constexpr int kOnMiss = Bf::onMissActionSpec;
inline constexpr int kHit = Bf::twiceNatAddrPortHitActionSpec;
inline constexpr int kHitEcmp = Bf::twiceNatAddrPortHitEcmpActionSpec;

inline constexpr U8 kDevice = 2;
inline constexpr U16 kPipe = 1;
inline constexpr U32 kSession = 7;

// The factory picks BfRt when the PD library has the object runtime, PD when not.
enum class Backend { Pd, Bfrt };

inline void PrintTo(Backend backend, std::ostream* out) {
    *out << (backend == Backend::Pd ? "Pd" : "Bfrt");
}

inline Bf::TwiceNatAddrPortMatchSpec::Ptr matchOf(U16 natKeyId, U16 srcPort, U16 dstPort) {
    auto match = Bf::twiceNatAddrPortMatchSpecFactory();
    match->ingMdNatKeyIdIs(natKeyId);
    match->l4PortHdrSrcPortIs(srcPort);
    match->l4PortHdrDstPortIs(dstPort);
    return match;
}

// `param` is a hit action's nextHop or ecmpGroup.
inline Bf::TwiceNatAddrPortBaseActionSpec::Ptr actionOf(int type, U16 rwId = 0, U8 prot = 0,
                                                        U16 param = 0) {
    return Bf::actionSpecOf(static_cast<ActionType>(type), rwId, prot, param);
}

inline Bf::TwiceNatAddrPortTableEntry entryOf(
    const Bf::TwiceNatAddrPortMatchSpec::PtrConst& match,
    const Bf::TwiceNatAddrPortBaseActionSpec::PtrConst& action) {
    Bf::TwiceNatAddrPortTableEntry entry(match);
    entry.actionIs(action);
    return entry;
}

// Each action's name, BfRt action id and first data field id (0: onMiss has none).
struct ActionCase {
    int type;
    const char* name;
    U32 actionId;
    U32 firstField;
};
inline constexpr ActionCase kActionCases[] = {
    {kOnMiss, "onMiss", 101, 0},
    {kHit, "twiceNatAddrPortHit", 102, 11},
    {Bf::twiceNatAddrPortHitDynamicActionSpec, "twiceNatAddrPortHitDynamic", 103, 21},
    {kHitEcmp, "twiceNatAddrPortHitEcmp", 104, 31},
    {Bf::twiceNatAddrPortHitEcmpDynamicActionSpec, "twiceNatAddrPortHitEcmpDynamic", 105, 41},
};

// "nat=1 src=2 dst=3 TwiceNatAddrPortHitActionSpec(1) rwId=7 prot=17 param=300" (class and
// own field through the runtime type); "empty", or "half" with one reference only.
inline std::string describe(const Bf::TwiceNatAddrPortTableEntry& e) {
    if (!e.match() || !e.action())
        return e.isDefaultValue() ? "empty" : "half";
    const auto& m = *e.match();
    const auto& a = *e.action();
    const std::string cls = a.kivType().name();
    const auto& fields = a.kivType().attributes();  // actionType, prot, rwId[, own field]
    const U64 param = fields.size() > 3 ? std::get<U64>(Kiv::genericGet(a, fields[3]->name)) : 0;
    return _fmt("nat=%u src=%u dst=%u %s(%u) rwId=%u prot=%u param=%llu", m.ingMdNatKeyId(),
                m.l4PortHdrSrcPort(), m.l4PortHdrDstPort(), cls.substr(cls.rfind(':') + 1).c_str(),
                unsigned{a.actionType()}, a.rwId(), unsigned{a.prot()}, (unsigned long long)param);
}

inline std::string described(U16 nat, U16 src, U16 dst, int type, U16 rwId = 0, U8 prot = 0,
                             U16 param = 0) {
    const char* cls = kActionCases[type].name;  // the class: "OnMissActionSpec"
    return _fmt("nat=%u src=%u dst=%u %c%sActionSpec(%d) rwId=%u prot=%u param=%u", nat, src, dst,
                cls[0] - 'a' + 'A', cls + 1, type, rwId, unsigned{prot}, param);
}

// The chip's log text of a call of the PD function `function`.
inline std::string pdCall(const std::string& function, const std::string& args) {
    return "p4_pd_olvane_switch_twiceNatAddrPort_" + function + "(" + args + ")";
}

// The class, status and message of the table exception a step raised; "nothing": none.
struct Raised {
    std::string cls = "nothing";
    U32 status = 0;
    std::string message;
    bool operator==(const Raised&) const = default;
};
inline void PrintTo(const Raised& r, std::ostream* out) {
    *out << r.cls << "(" << r.status << ", \"" << r.message << "\")";
}

#define TABLE_TEST_RAISED(Class)               \
    catch (const BfTable::Class& e) {          \
        return {#Class, e.status(), e.what()}; \
    }
template <class Step>
Raised raised(Step&& step) {
    try {
        step();
    }
    TABLE_TEST_RAISED(BfTableFull)
    TABLE_TEST_RAISED(BfNoSysResources)
    TABLE_TEST_RAISED(BfNotSupported)
    TABLE_TEST_RAISED(BfDuplicateEntry)
    TABLE_TEST_RAISED(BfTryAgain)
    TABLE_TEST_RAISED(BfTableException)
    return {};
}
#undef TABLE_TEST_RAISED

inline auto assertionFailed(const std::string& expression) {
    return ::testing::HasSubstr("Assertion `" + expression + "' failed");
}

// Logs alloc, free, populate and highestAllocatedKeyIs in order; all but
// populate (which accepts any key) go on to the key manager.
class RecordingKeyManager : public MbbZabroKey::ZabroKeyManager {
    KIV_CLASS(RecordingKeyManager)

  public:
    using Ptr = Dorvu::Ptr<RecordingKeyManager>;

    struct Call {
        std::string request;
        EntryKey key;
        MatchPtrConst match;
        bool operator==(const Call&) const = default;
    };

    explicit RecordingKeyManager(const Zabro::MbbZabroTableConfig::Ptr& tableConfig)
        : ZabroKeyManager(tableConfig) {}
    ~RecordingKeyManager() override { notificationIs(false); }

    EntryKey alloc(const MatchPtrConst& match, bool reuseBound) override {
        const EntryKey key = ZabroKeyManager::alloc(match, reuseBound);
        calls.push_back({"alloc", key, match});
        return key;
    }
    void free(EntryKey key) override {
        calls.push_back({"free", key, nullptr});
        ZabroKeyManager::free(key);
    }
    void populate(EntryKey key, const MatchPtrConst& match) override {
        calls.push_back({"populate", key, match});
    }
    void highestAllocatedKeyIs(EntryKey key) override {
        calls.push_back({"highestAllocatedKeyIs", key, nullptr});
        ZabroKeyManager::highestAllocatedKeyIs(key);
    }
    Zabro::MbbZabroTableConfig::Ptr mbbZabroTableConfig() const noexcept override {
        return withoutConfig ? nullptr : ZabroKeyManager::mbbZabroTableConfig();
    }

    std::vector<Call> calls;
    bool withoutConfig = false;  // stands for a key manager without table config
};

inline Kiv::MemAllocationTracker RecordingKeyManager::memAllocationTracker_{
    "TableTest::RecordingKeyManager"};
inline const Kiv::TypeInfo& RecordingKeyManager::kivTypeInfo() {
    static const Kiv::TypeInfo type{
        "TableTest::RecordingKeyManager", &MbbZabroKey::ZabroKeyManager::kivTypeInfo(), {}, {}};
    return type;
}

// Blank chips and key segment of kDevice/kPipe per test; no runtime object left behind.
class TableFixture : public TestSupport::LeakCheck {
  protected:
    TableFixture() {
        blank();
        keys = Kiv::create<RecordingKeyManager>(Zabro::mbbZabroTableConfigFactory(kDevice, kPipe));
    }
    ~TableFixture() override { blank(); }

    // `table` from the exported factory over `backend`'s PD library; the key log starts empty.
    const Bf::TwiceNatAddrPortTable::Ptr& tableIs(Backend backend, U16 pipe = kPipe) {
        table = nullptr;
        pdLibrary.reset();
        const char* path =
            backend == Backend::Pd ? ChipTest::kPdLibraryNoBfRt : ChipTest::kPdLibrary;
        pdLibrary.emplace(path);
        table = twiceNatAddrPortTableFactory(keys, statusManager, pdLibrary->handle(), kSession,
                                             kDevice, pipe, path);
        if (keys)
            keys->calls.clear();
        return table;
    }

    void program(const Bf::TwiceNatAddrPortMatchSpec::PtrConst& match,
                 const Bf::TwiceNatAddrPortBaseActionSpec::PtrConst& action) {
        table->entryIs(entryOf(match, action));
    }
    // The SDK handle that the table's handle map holds for `match` (0: none).
    BfnTable::BfnSdkEntryHandle handleOf(
        const Bf::TwiceNatAddrPortMatchSpec::PtrConst& match) const {
        return table->helper()->sdkHandles()->entry(match);
    }
    // The chip's log of the calls that `step` made.
    template <class Step>
    static Texts callsOf(Step&& step) {
        ChipTest::ScopedCallLog log;
        step();
        return log.texts();
    }

    static void blank() {
        ChipTest::ChipEnvironment::wipeAll();
        Zabro::MbbZabroTableConfig::segmentWipe(kDevice, kPipe);
    }

    // Destroyed in reverse: the table first, the PD library last.
    std::optional<ChipTest::SharedLibrary> pdLibrary;
    RecordingKeyManager::Ptr keys;
    BfnTableStatusManager::StatusManager::Ptr statusManager =
        BfnTableStatusManager::statusManagerFactory();
    Bf::TwiceNatAddrPortTable::Ptr table;
};

}  // namespace TableTest
