#pragma once
// The PD interface object of the twiceNatAddrPort table: binds the table's PD
// functions by name from the PD library, carries the SDK session id, and,
// when the PD library offers the object runtime, the BfRt interface, the
// table objects and their ids, resolved once here so that callers use them
// ready-made.

#include <array>
#include <memory>

#include "sdk/bfrt.h"
#include "sdk/olvane_switch_pd.h"
#include "kiv/Kiv.h"

namespace BfPdTwiceNatAddrPort {

// One entry point per PD function of the table.
struct PdFunctions {
    decltype(&p4_pd_olvane_switch_twiceNatAddrPort_set_property) setProperty;
    decltype(&p4_pd_olvane_switch_twiceNatAddrPort_table_add_with_onMiss) addWithOnMiss;
    decltype(&p4_pd_olvane_switch_twiceNatAddrPort_table_add_with_twiceNatAddrPortHit) addWithHit;
    decltype(&p4_pd_olvane_switch_twiceNatAddrPort_table_add_with_twiceNatAddrPortHitDynamic)
        addWithHitDynamic;
    decltype(&p4_pd_olvane_switch_twiceNatAddrPort_table_add_with_twiceNatAddrPortHitEcmp)
        addWithHitEcmp;
    decltype(&p4_pd_olvane_switch_twiceNatAddrPort_table_add_with_twiceNatAddrPortHitEcmpDynamic)
        addWithHitEcmpDynamic;
    decltype(&p4_pd_olvane_switch_twiceNatAddrPort_table_modify_with_onMiss) modifyWithOnMiss;
    decltype(&p4_pd_olvane_switch_twiceNatAddrPort_table_modify_with_twiceNatAddrPortHit)
        modifyWithHit;
    decltype(&p4_pd_olvane_switch_twiceNatAddrPort_table_modify_with_twiceNatAddrPortHitDynamic)
        modifyWithHitDynamic;
    decltype(&p4_pd_olvane_switch_twiceNatAddrPort_table_modify_with_twiceNatAddrPortHitEcmp)
        modifyWithHitEcmp;
    decltype(&p4_pd_olvane_switch_twiceNatAddrPort_table_modify_with_twiceNatAddrPortHitEcmpDynamic)
        modifyWithHitEcmpDynamic;
    decltype(&p4_pd_olvane_switch_twiceNatAddrPort_set_default_action_onMiss) setDefaultOnMiss;
    decltype(&p4_pd_olvane_switch_twiceNatAddrPort_set_default_action_twiceNatAddrPortHit)
        setDefaultHit;
    decltype(&p4_pd_olvane_switch_twiceNatAddrPort_set_default_action_twiceNatAddrPortHitDynamic)
        setDefaultHitDynamic;
    decltype(&p4_pd_olvane_switch_twiceNatAddrPort_set_default_action_twiceNatAddrPortHitEcmp)
        setDefaultHitEcmp;
    decltype(&p4_pd_olvane_switch_twiceNatAddrPort_set_default_action_twiceNatAddrPortHitEcmpDynamic)
        setDefaultHitEcmpDynamic;
    decltype(&p4_pd_olvane_switch_twiceNatAddrPort_table_delete) tableDelete;
    decltype(&p4_pd_olvane_switch_twiceNatAddrPort_table_reset_default_entry) resetDefaultEntry;
    decltype(&p4_pd_olvane_switch_twiceNatAddrPort_get_entry) getEntry;
};

// The BfRt ids of one action: its action id and, for a hit action, the ids of
// its rwId, prot and nextHop-or-ecmpGroup data fields in that order.
struct BfRtActionIds {
    Kiv::U32 actionId = 0;
    std::array<Kiv::U32, 3> dataFieldIds{};
};

class BfPdTwiceNatAddrPortIntf : public Kiv::PtrInterface {
    KIV_CLASS(BfPdTwiceNatAddrPortIntf)

  public:
    using Ptr = Dorvu::Ptr<BfPdTwiceNatAddrPortIntf>;
    using PtrConst = Dorvu::Ptr<const BfPdTwiceNatAddrPortIntf>;
    static constexpr std::size_t kActions = 5;

    // Opens `pdLibName` itself when `dlHandle` is null. Throws Kiv::Exception
    // naming the library or the function that cannot be found.
    BfPdTwiceNatAddrPortIntf(Kiv::U8 deviceId, const Kiv::String& pdLibName, Kiv::VoidPtr dlHandle,
                             Kiv::U32 sessionId);
    ~BfPdTwiceNatAddrPortIntf() override;

    Kiv::U8 deviceId() const noexcept { return deviceId_; }
    const Kiv::String& name() const noexcept { return name_; }
    // The handle last given, whatever it is.
    Kiv::VoidPtr dlHandle() const noexcept { return dlHandle_; }
    // Records the handle and never fails: the functions and objects are bound
    // again from it when it is a library that offers every PD function and,
    // once this object holds a BfRt table, the object runtime too. Otherwise
    // (null, another library) they stay those of `boundHandle`, so a table
    // built over this object keeps working.
    void dlHandleIs(Kiv::VoidPtr dlHandle) noexcept;
    // The library that the functions and objects come from.
    Kiv::VoidPtr boundHandle() const noexcept { return bound_.handle; }
    Kiv::U32 sessionId() const noexcept { return sessionId_; }
    void sessionIdIs(Kiv::U32 sessionId) noexcept { sessionId_ = sessionId; }

    const PdFunctions& pd() const noexcept { return bound_.pd; }

    // Null when the PD library offers no object runtime.
    BfRt::BfRtTableIntf* bfRtTableIntf() const noexcept { return bound_.bfRtTableIntf; }
    bfrt::OlvaneBfRtTable* bfRtTable() const noexcept { return bound_.bfRtTable; }
    bfrt::OlvaneBfRtTable* secondBfRtTable() const noexcept { return bound_.secondBfRtTable; }
    bfrt::OlvaneBfRtTable* thirdBfRtTable() const noexcept { return bound_.thirdBfRtTable; }

    Kiv::U32 ingMdNatKeyIdFieldId() const noexcept { return bound_.keyFieldIds[0]; }
    Kiv::U32 l4PortHdrSrcPortFieldId() const noexcept { return bound_.keyFieldIds[1]; }
    Kiv::U32 l4PortHdrDstPortFieldId() const noexcept { return bound_.keyFieldIds[2]; }
    // Indexed by the action type: 0 onMiss, 1 twiceNatAddrPortHit,
    // 2 ...HitDynamic, 3 ...HitEcmp, 4 ...HitEcmpDynamic.
    const BfRtActionIds& bfRtActionIds(std::size_t actionType) const noexcept {
        return bound_.actionIds[actionType];
    }
    Kiv::U32 actionIdOnMiss() const noexcept { return bfRtActionIds(0).actionId; }
    Kiv::U32 actionIdTwiceNatAddrPortHit() const noexcept { return bfRtActionIds(1).actionId; }
    Kiv::U32 actionIdTwiceNatAddrPortHitDynamic() const noexcept {
        return bfRtActionIds(2).actionId;
    }
    Kiv::U32 actionIdTwiceNatAddrPortHitEcmp() const noexcept { return bfRtActionIds(3).actionId; }
    Kiv::U32 actionIdTwiceNatAddrPortHitEcmpDynamic() const noexcept {
        return bfRtActionIds(4).actionId;
    }

  private:
    struct LibraryCloser {
        void operator()(void* handle) const noexcept;
    };

    // Everything taken from one PD library, replaced as a whole.
    struct Binding {
        Kiv::VoidPtr handle = nullptr;
        PdFunctions pd{};
        BfRt::BfRtTableIntf* bfRtTableIntf = nullptr;
        bfrt::OlvaneBfRtTable* bfRtTable = nullptr;
        bfrt::OlvaneBfRtTable* secondBfRtTable = nullptr;
        bfrt::OlvaneBfRtTable* thirdBfRtTable = nullptr;
        std::array<Kiv::U32, 3> keyFieldIds{};
        std::array<BfRtActionIds, kActions> actionIds{};
    };
    // Throws Kiv::Exception naming what the library lacks.
    Binding bindingOf(Kiv::VoidPtr handle) const;
    void bindBfRt(Binding& binding) const;

    Kiv::U8 deviceId_;
    Kiv::String name_;
    Kiv::VoidPtr dlHandle_;
    Kiv::U32 sessionId_;
    std::unique_ptr<void, LibraryCloser> ownedLibrary_;  // set when this object opened it
    Binding bound_;
};

}  // namespace BfPdTwiceNatAddrPort
