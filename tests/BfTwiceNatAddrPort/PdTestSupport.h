#pragma once
// What the PD backend's suites share: a fixture with a PD table on the chip
// model whose key manager logs its requests, the call log of one step, the
// exception a step raised, and the chip's texts of the PD calls.

#include <string>
#include <vector>

#include "TableTestSupport.h"
#include "ZabroDoubles.h"

namespace TableTest {

using Bf::TwiceNatAddrPortActionSpecType;
using ZabroTest::RecordingKeyManager;

inline constexpr const char* kPd = "p4_pd_olvane_switch_twiceNatAddrPort_";
// The leading arguments of a PD call on kDevice (and kPipe), as the chip's
// call log shows them.
inline const std::string kAtTarget = "sess=7, dev_tgt=[02 00 00 00 01 00 00 00]";
inline const std::string kAtDevice = "sess=7, dev_id=2, ";

inline const char* const kActionNames[] = {"onMiss", "twiceNatAddrPortHit",
                                           "twiceNatAddrPortHitDynamic", "twiceNatAddrPortHitEcmp",
                                           "twiceNatAddrPortHitEcmpDynamic"};

// `pd("table_delete", "sess=7, ...")`: the call log's text of a PD call.
inline std::string pd(const std::string& function, const std::string& args) {
    return kPd + function + "(" + args + ")";
}

// The class, message and status of the table exception that `step` raised.
struct Raised {
    std::string cls;
    std::string message;
    U32 status = 0;
    bool operator==(const Raised&) const = default;
};

inline void PrintTo(const Raised& r, std::ostream* out) {
    *out << r.cls << " \"" << r.message << "\" status " << r.status;
}

template <class Step>
Raised raised(Step&& step) {
    try {
        step();
    } catch (const BfTable::BfTableFull& e) {
        return {"BfTableFull", e.what(), e.status()};
    } catch (const BfTable::BfNoSysResources& e) {
        return {"BfNoSysResources", e.what(), e.status()};
    } catch (const BfTable::BfNotSupported& e) {
        return {"BfNotSupported", e.what(), e.status()};
    } catch (const BfTable::BfDuplicateEntry& e) {
        return {"BfDuplicateEntry", e.what(), e.status()};
    } catch (const BfTable::BfTryAgain& e) {
        return {"BfTryAgain", e.what(), e.status()};
    } catch (const BfTable::BfTableException& e) {
        return {"BfTableException", e.what(), e.status()};
    }
    return {"nothing", "", 0};
}

// The values of an entry, comparable in one step; `type` is -1 for the empty
// entry, -2 for an entry with only one of match and action, -3 for an action
// spec whose class is not the one its type names. `param` is a hit action's nextHop or ecmpGroup.
struct Fields {
    U16 natKeyId = 0, srcPort = 0, dstPort = 0;
    int type = -1;
    U16 rwId = 0;
    U8 prot = 0;
    U16 param = 0;
    bool operator==(const Fields&) const = default;
};

inline void PrintTo(const Fields& f, std::ostream* out) {
    *out << "{match " << f.natKeyId << "/" << f.srcPort << "/" << f.dstPort << ", type " << f.type
         << ", rwId " << f.rwId << ", prot " << int{f.prot} << ", param " << f.param << "}";
}

// Whether the action spec object is of the class that its type names.
inline bool ofItsClass(const Bf::TwiceNatAddrPortBaseActionSpec& a) {
    const auto* p = &a;
    switch (a.actionType()) {
        case Bf::onMissActionSpec:
            return dynamic_cast<const Bf::OnMissActionSpec*>(p);
        case Bf::twiceNatAddrPortHitActionSpec:
            return dynamic_cast<const Bf::TwiceNatAddrPortHitActionSpec*>(p);
        case Bf::twiceNatAddrPortHitDynamicActionSpec:
            return dynamic_cast<const Bf::TwiceNatAddrPortHitDynamicActionSpec*>(p);
        case Bf::twiceNatAddrPortHitEcmpActionSpec:
            return dynamic_cast<const Bf::TwiceNatAddrPortHitEcmpActionSpec*>(p);
        case Bf::twiceNatAddrPortHitEcmpDynamicActionSpec:
            return dynamic_cast<const Bf::TwiceNatAddrPortHitEcmpDynamicActionSpec*>(p);
    }
    return false;
}

inline Fields fieldsOf(const Bf::TwiceNatAddrPortTableEntry& e) {
    if (!e.match() && !e.action())
        return {};
    if (!e.match() || !e.action())
        return {.type = -2};  // half an entry: never valid
    if (!ofItsClass(*e.action()))
        return {.type = -3};
    return {e.match()->ingMdNatKeyId(),
            e.match()->l4PortHdrSrcPort(),
            e.match()->l4PortHdrDstPort(),
            int{e.action()->actionType()},
            e.action()->rwId(),
            e.action()->prot(),
            Bf::hitActionParam(*e.action())};
}

class PdFixture : public TableFixture {
  protected:
    PdFixture() {
        keys = RecordingKeyManager::RecordingKeyManagerIs(
            Zabro::mbbZabroTableConfigFactory(kDevice, kPipe));
        keyManager = keys;
    }
    ~PdFixture() override { keys = nullptr; }

    // A PD table through the exported factory; the key manager's log starts empty.
    void pdTableIs(U16 pipe = kPipe) {
        tableIs(Backend::Pd, pipe);
        keys->calls.clear();
    }

    static Bf::TwiceNatAddrPortMatchSpec::Ptr match(U16 natKeyId, U16 srcPort, U16 dstPort) {
        return matchOf(natKeyId, dstPort, srcPort);
    }
    void program(const Bf::TwiceNatAddrPortMatchSpec::PtrConst& m,
                 const Bf::TwiceNatAddrPortBaseActionSpec::PtrConst& a) {
        table->entryIs(entryOf(m, a));
    }
    // The chip calls that `step` made.
    template <class Step>
    static std::vector<std::string> callsOf(Step&& step) {
        ChipTest::ScopedCallLog log;
        step();
        return log.texts();
    }
    Bf::TwiceNatAddrPortMatchSpec::PtrConst defaultMatch() const {
        return table->defaultMatchSpec();
    }

    RecordingKeyManager::Ptr keys;
};

}  // namespace TableTest
