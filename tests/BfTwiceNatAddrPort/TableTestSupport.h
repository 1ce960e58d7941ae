#pragma once
// Shared by the table library's suites (spine, PD backend, BfRt backend):
//
//   TableFixture   blank chips and key segment per test, leak check, and a
//                  table built by the exported factory on the chip model with
//                  a real key manager and status manager
//   matchOf, actionOf, entryOf   builders of specs and entries
//   TraceCapture   the library's trace lines, captured for a scope
//
// Including this header registers ChipTest::ChipEnvironment once per test
// executable: a private shared-memory prefix for its chips and key segments.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "BfTwiceNatAddrPort/BfTwiceNatAddrPort"
#include "ChipTestSupport.h"
#include "PdLibrary.h"
#include "support/LeakCheck.h"
#include "zabro/Zabro.h"

namespace TableTest {

namespace Bf = BfTwiceNatAddrPort;
using Kiv::U16;
using Kiv::U32;
using Kiv::U8;

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

inline const char* backendName(Backend backend) {
    return backend == Backend::Pd ? "Pd" : "Bfrt";
}

inline void PrintTo(Backend backend, std::ostream* out) {
    *out << backendName(backend);
}

// ---- Builders

inline Bf::TwiceNatAddrPortMatchSpec::Ptr matchOf(U16 natKeyId, U16 dstPort, U16 srcPort) {
    auto match = Bf::twiceNatAddrPortMatchSpecFactory();
    match->ingMdNatKeyIdIs(natKeyId);
    match->l4PortHdrDstPortIs(dstPort);
    match->l4PortHdrSrcPortIs(srcPort);
    return match;
}

// `param` is a hit action's nextHop or ecmpGroup.
inline Bf::TwiceNatAddrPortBaseActionSpec::Ptr actionOf(Bf::TwiceNatAddrPortActionSpecType type,
                                                        U16 rwId = 0, U8 prot = 0, U16 param = 0) {
    return Bf::actionSpecOf(type, rwId, prot, param);
}

inline Bf::TwiceNatAddrPortTableEntry entryOf(
    const Bf::TwiceNatAddrPortMatchSpec::PtrConst& match,
    const Bf::TwiceNatAddrPortBaseActionSpec::PtrConst& action) {
    Bf::TwiceNatAddrPortTableEntry entry(match);
    entry.actionIs(action);
    return entry;
}

// ---- Trace capture

// Switches the library's trace handle to `level` and collects its lines for
// the scope; restores the level and the default sink afterwards.
class TraceCapture {
  public:
    struct Line {
        int level;
        std::string text;
    };

    explicit TraceCapture(int level = Bf::kTraceLevel) : previousLevel_(Bf::traceHandle().level()) {
        Bf::traceHandle().levelIs(level);
        Kiv::TraceHandle::sinkIs(
            [this](const Kiv::TraceHandle& handle, int lineLevel, std::string_view text) {
                if (&handle == &Bf::traceHandle())
                    lines.push_back({lineLevel, std::string(text)});
            });
    }
    ~TraceCapture() {
        Kiv::TraceHandle::sinkIs({});
        Bf::traceHandle().levelIs(previousLevel_);
    }
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;

    std::vector<std::string> texts() const {
        std::vector<std::string> out;
        for (const Line& line : lines) out.push_back(line.text);
        return out;
    }

    std::vector<Line> lines;

  private:
    int previousLevel_;
};

// ---- Fixture

// Each test starts on blank chips and a blank key segment of kDevice/kPipe,
// with the chip's hooks off, and must leave no runtime object behind (the
// fixture's own references are dropped before the count is taken).
class TableFixture : public TestSupport::LeakCheck {
  protected:
    TableFixture() {
        blank();
        keyManagerIs();
        statusManager = BfnTableStatusManager::statusManagerFactory();
    }
    ~TableFixture() override {
        table = nullptr;
        keyManager = nullptr;
        statusManager = nullptr;
        pdLibrary.reset();
        blank();
    }

    // A new key manager over the key segment of kDevice/kPipe (as after a
    // restart of the agent: it finds the records that the segment holds).
    void keyManagerIs() {
        keyManager = nullptr;
        keyManager = MbbZabroKey::zabroKeyManagerFactory(kDevice, kPipe);
    }

    // Opens the PD library of `backend` (kept open by the fixture) and builds
    // `table` through the exported factory with the fixture's key manager and
    // status manager.
    const Bf::TwiceNatAddrPortTable::Ptr& tableIs(Backend backend, U16 pipe = kPipe) {
        table = nullptr;
        pdLibrary.reset();
        pdLibrary.emplace(pdLibraryPath(backend));
        table = twiceNatAddrPortTableFactory(keyManager, statusManager, pdLibrary->handle(),
                                             kSession, kDevice, pipe, pdLibraryPath(backend));
        return table;
    }

    // The SDK handle that the table's handle map holds for `match` (0: none).
    BfnTable::BfnSdkEntryHandle handleOf(
        const Bf::TwiceNatAddrPortMatchSpec::PtrConst& match) const {
        return table->helper()->sdkHandles()->entry(match);
    }

    static void blank() {
        ChipTest::ChipEnvironment::wipeAll();
        Zabro::MbbZabroTableConfig::segmentWipe(kDevice, kPipe);
    }

    std::optional<ChipTest::SharedLibrary> pdLibrary;
    MbbZabroKey::ZabroKeyManager::Ptr keyManager;
    BfnTableStatusManager::StatusManager::Ptr statusManager;
    Bf::TwiceNatAddrPortTable::Ptr table;
};

}  // namespace TableTest
