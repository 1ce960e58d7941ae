#pragma once
// Shared by the table library's suites: TableFixture (blank chips and key
// segment, leak check, a table built by the exported factory with a logging
// key manager), builders of specs and entries, entries as text (describe),
// the exception a step raised (raised) and the matcher of a failed assert.
// Including it registers ChipTest::ChipEnvironment once per test executable.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cctype>
#include <optional>
#include <string>
#include <vector>

#include "BfTwiceNatAddrPort/BfTwiceNatAddrPort"
#include "ChipTestSupport.h"
#include "PdLibrary.h"
#include "ZabroDoubles.h"
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
using ZabroTest::RecordingKeyManager;

// The action types.
inline constexpr int kOnMiss = Bf::onMissActionSpec;
inline constexpr int kHit = Bf::twiceNatAddrPortHitActionSpec;
inline constexpr int kHitDynamic = Bf::twiceNatAddrPortHitDynamicActionSpec;
inline constexpr int kHitEcmp = Bf::twiceNatAddrPortHitEcmpActionSpec;
inline constexpr int kHitEcmpDynamic = Bf::twiceNatAddrPortHitEcmpDynamicActionSpec;

inline constexpr U8 kDevice = 2;
inline constexpr U16 kPipe = 1;
inline constexpr U32 kSession = 7;

[[maybe_unused]] inline const bool kChipEnvironment = ChipTest::registerChipEnvironment();

// The factory builds the backend from what the PD library offers: the BfRt
// table when it has the object runtime, the PD table when it has not.
enum class Backend { Pd, Bfrt };

inline const char* pdLibraryPath(Backend backend) {
    return backend == Backend::Pd ? ChipTest::kPdLibraryNoBfRt : ChipTest::kPdLibrary;
}
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

// Each action's name, and the chip's ids of it: its BfRt action id and first
// data field id (0 for onMiss, which has none).
struct ActionCase {
    int type;
    const char* name;
    U32 actionId;
    U32 firstField;
};
inline constexpr ActionCase kActionCases[] = {
    {kOnMiss, "onMiss", 101, 0},
    {kHit, "twiceNatAddrPortHit", 102, 11},
    {kHitDynamic, "twiceNatAddrPortHitDynamic", 103, 21},
    {kHitEcmp, "twiceNatAddrPortHitEcmp", 104, 31},
    {kHitEcmpDynamic, "twiceNatAddrPortHitEcmpDynamic", 105, 41},
};

// "nat=1 src=2 dst=3 TwiceNatAddrPortHitActionSpec(1) rwId=7 prot=17 param=300":
// the action's class, its type and its own field read through the runtime type;
// "empty" for the empty entry, "half" for an entry with one reference only.
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
    std::string cls = kActionCases[type].name;  // the class: "OnMissActionSpec"
    cls[0] = static_cast<char>(std::toupper(cls[0]));
    return _fmt("nat=%u src=%u dst=%u %sActionSpec(%d) rwId=%u prot=%u param=%u", nat, src, dst,
                cls.c_str(), type, rwId, unsigned{prot}, param);
}

// The class (named by the handler that caught it), status and message of the
// table exception that a step raised; "nothing" when it raised none.
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

// Each test starts on blank chips and a blank key segment of kDevice/kPipe,
// with the chip's hooks off, and must leave no runtime object behind (the
// fixture's own references are dropped before the count is taken).
class TableFixture : public TestSupport::LeakCheck {
  protected:
    TableFixture() {
        blank();
        keys = RecordingKeyManager::RecordingKeyManagerIs(
            Zabro::mbbZabroTableConfigFactory(kDevice, kPipe));
    }
    // The members then go, the table first and the PD library last.
    ~TableFixture() override { blank(); }

    // Opens the PD library of `backend` (kept open by the fixture) and builds
    // `table` through the exported factory with the fixture's managers; the
    // key manager's log starts empty.
    const Bf::TwiceNatAddrPortTable::Ptr& tableIs(Backend backend, U16 pipe = kPipe) {
        table = nullptr;
        pdLibrary.reset();
        pdLibrary.emplace(pdLibraryPath(backend));
        table = twiceNatAddrPortTableFactory(keys, statusManager, pdLibrary->handle(), kSession,
                                             kDevice, pipe, pdLibraryPath(backend));
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
    // The chip calls that `step` made, as the chip's call log shows them.
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

    std::optional<ChipTest::SharedLibrary> pdLibrary;
    RecordingKeyManager::Ptr keys;
    BfnTableStatusManager::StatusManager::Ptr statusManager =
        BfnTableStatusManager::statusManagerFactory();
    Bf::TwiceNatAddrPortTable::Ptr table;
};

}  // namespace TableTest
