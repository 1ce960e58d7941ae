// The PD backend: the table programmed through the PD functions of the
// program, one PD call per operation.

#include <array>
#include <cassert>
#include <cstddef>
#include <cstring>

#include "Table.h"

namespace BfTwiceNatAddrPort {

namespace {

using BfPdTwiceNatAddrPort::PdFunctions;
using PdMatchSpec = p4_pd_olvane_switch_twiceNatAddrPort_match_spec_t;

enum class Operation { setDefault, modify, add };

constexpr std::array<std::array<const char*, 5>, 3> kFunctionNames = {{
    {"p4_pd_olvane_switch_twiceNatAddrPort_set_default_action_onMiss",
     "p4_pd_olvane_switch_twiceNatAddrPort_set_default_action_twiceNatAddrPortHit",
     "p4_pd_olvane_switch_twiceNatAddrPort_set_default_action_twiceNatAddrPortHitDynamic",
     "p4_pd_olvane_switch_twiceNatAddrPort_set_default_action_twiceNatAddrPortHitEcmp",
     "p4_pd_olvane_switch_twiceNatAddrPort_set_default_action_twiceNatAddrPortHitEcmpDynamic"},
    {"p4_pd_olvane_switch_twiceNatAddrPort_table_modify_with_onMiss",
     "p4_pd_olvane_switch_twiceNatAddrPort_table_modify_with_twiceNatAddrPortHit",
     "p4_pd_olvane_switch_twiceNatAddrPort_table_modify_with_twiceNatAddrPortHitDynamic",
     "p4_pd_olvane_switch_twiceNatAddrPort_table_modify_with_twiceNatAddrPortHitEcmp",
     "p4_pd_olvane_switch_twiceNatAddrPort_table_modify_with_twiceNatAddrPortHitEcmpDynamic"},
    {"p4_pd_olvane_switch_twiceNatAddrPort_table_add_with_onMiss",
     "p4_pd_olvane_switch_twiceNatAddrPort_table_add_with_twiceNatAddrPortHit",
     "p4_pd_olvane_switch_twiceNatAddrPort_table_add_with_twiceNatAddrPortHitDynamic",
     "p4_pd_olvane_switch_twiceNatAddrPort_table_add_with_twiceNatAddrPortHitEcmp",
     "p4_pd_olvane_switch_twiceNatAddrPort_table_add_with_twiceNatAddrPortHitEcmpDynamic"},
}};

constexpr const char* kOperationTraces[] = {"Setting default action", "Modifying existing entry",
                                            "Adding new entry"};

// What the entry reader writes for each action, indexed by action type.
constexpr std::array<const char*, 5> kReadBackActionNames = {
    "p4_pd_olvane_switch_onMiss", "p4_pd_olvane_switch_twiceNatAddrPortHit",
    "p4_pd_olvane_switch_twiceNatAddrPortHitDynamic", "p4_pd_olvane_switch_twiceNatAddrPortHitEcmp",
    "p4_pd_olvane_switch_twiceNatAddrPortHitEcmpDynamic"};

constexpr const char* kSetProperty = "p4_pd_olvane_switch_twiceNatAddrPort_set_property";
constexpr const char* kTableDelete = "p4_pd_olvane_switch_twiceNatAddrPort_table_delete";
constexpr const char* kResetDefault =
    "p4_pd_olvane_switch_twiceNatAddrPort_table_reset_default_entry";

constexpr U32 kEntryScopeProperty = 1;
constexpr U16 kAllPipes = 0xFFFF;

// The four hit actions share one layout under four C types; the padding byte
// is left unwritten.
template <class PdSpec>
PdSpec pdActionSpec(const TwiceNatAddrPortBaseActionSpec& action) noexcept {
    PdSpec spec;
    spec.action_rw_id = action.rwId();
    spec.action_prot = action.prot();
    if constexpr (requires { spec.action_next_hop; }) {
        spec.action_next_hop = hitActionParam(action);
    } else {
        spec.action_ecmp_group = hitActionParam(action);
    }
    return spec;
}

using HitSpec = p4_pd_olvane_switch_twiceNatAddrPortHit_action_spec_t;
using HitDynamicSpec = p4_pd_olvane_switch_twiceNatAddrPortHitDynamic_action_spec_t;
using HitEcmpSpec = p4_pd_olvane_switch_twiceNatAddrPortHitEcmp_action_spec_t;
using HitEcmpDynamicSpec = p4_pd_olvane_switch_twiceNatAddrPortHitEcmpDynamic_action_spec_t;

// Everything one PD call needs besides the entry.
struct PdCall {
    const PdFunctions& pd;
    U32 session;
    U8 deviceId;
    p4_pd_dev_target_t target;
};

PdCall pdCall(const TwiceNatAddrPortTableHelper& helper) noexcept {
    const auto& lib = *helper.pdLib();
    p4_pd_dev_target_t target;
    target.device_id = helper.deviceId();
    target.dev_pipe_id = helper.devPipeId();
    target.pad = 0;
    return PdCall{lib.pd(), lib.sessionId(), helper.deviceId(), target};
}

SdkStatus setDefaultAction(const PdCall& c, const TwiceNatAddrPortBaseActionSpec& a,
                           p4_pd_entry_hdl_t* handle) {
    switch (a.actionType()) {
        case onMissActionSpec:
            return c.pd.setDefaultOnMiss(c.session, c.target, handle);
        case twiceNatAddrPortHitActionSpec: {
            const auto spec = pdActionSpec<HitSpec>(a);
            return c.pd.setDefaultHit(c.session, c.target, &spec, handle);
        }
        case twiceNatAddrPortHitDynamicActionSpec: {
            const auto spec = pdActionSpec<HitDynamicSpec>(a);
            return c.pd.setDefaultHitDynamic(c.session, c.target, &spec, handle);
        }
        case twiceNatAddrPortHitEcmpActionSpec: {
            const auto spec = pdActionSpec<HitEcmpSpec>(a);
            return c.pd.setDefaultHitEcmp(c.session, c.target, &spec, handle);
        }
        case twiceNatAddrPortHitEcmpDynamicActionSpec: {
            const auto spec = pdActionSpec<HitEcmpDynamicSpec>(a);
            return c.pd.setDefaultHitEcmpDynamic(c.session, c.target, &spec, handle);
        }
    }
    __builtin_unreachable();
}

SdkStatus modifyEntry(const PdCall& c, const TwiceNatAddrPortBaseActionSpec& a,
                      p4_pd_entry_hdl_t handle) {
    switch (a.actionType()) {
        case onMissActionSpec:
            return c.pd.modifyWithOnMiss(c.session, c.deviceId, handle);
        case twiceNatAddrPortHitActionSpec: {
            const auto spec = pdActionSpec<HitSpec>(a);
            return c.pd.modifyWithHit(c.session, c.deviceId, handle, &spec);
        }
        case twiceNatAddrPortHitDynamicActionSpec: {
            const auto spec = pdActionSpec<HitDynamicSpec>(a);
            return c.pd.modifyWithHitDynamic(c.session, c.deviceId, handle, &spec);
        }
        case twiceNatAddrPortHitEcmpActionSpec: {
            const auto spec = pdActionSpec<HitEcmpSpec>(a);
            return c.pd.modifyWithHitEcmp(c.session, c.deviceId, handle, &spec);
        }
        case twiceNatAddrPortHitEcmpDynamicActionSpec: {
            const auto spec = pdActionSpec<HitEcmpDynamicSpec>(a);
            return c.pd.modifyWithHitEcmpDynamic(c.session, c.deviceId, handle, &spec);
        }
    }
    __builtin_unreachable();
}

SdkStatus addEntry(const PdCall& c, const TwiceNatAddrPortMatchSpec& m,
                   const TwiceNatAddrPortBaseActionSpec& a, p4_pd_entry_hdl_t* handle) {
    PdMatchSpec match;
    match.ing_md_nat_key_id = m.ingMdNatKeyId();
    match.l4_port_hdr_src_port = m.l4PortHdrSrcPort();
    match.l4_port_hdr_dst_port = m.l4PortHdrDstPort();
    switch (a.actionType()) {
        case onMissActionSpec:
            return c.pd.addWithOnMiss(c.session, c.target, &match, handle);
        case twiceNatAddrPortHitActionSpec: {
            const auto spec = pdActionSpec<HitSpec>(a);
            return c.pd.addWithHit(c.session, c.target, &match, &spec, handle);
        }
        case twiceNatAddrPortHitDynamicActionSpec: {
            const auto spec = pdActionSpec<HitDynamicSpec>(a);
            return c.pd.addWithHitDynamic(c.session, c.target, &match, &spec, handle);
        }
        case twiceNatAddrPortHitEcmpActionSpec: {
            const auto spec = pdActionSpec<HitEcmpSpec>(a);
            return c.pd.addWithHitEcmp(c.session, c.target, &match, &spec, handle);
        }
        case twiceNatAddrPortHitEcmpDynamicActionSpec: {
            const auto spec = pdActionSpec<HitEcmpDynamicSpec>(a);
            return c.pd.addWithHitEcmpDynamic(c.session, c.target, &match, &spec, handle);
        }
    }
    __builtin_unreachable();
}

}  // namespace

Kiv::MemAllocationTracker TwiceNatAddrPortTablePd::memAllocationTracker_{
    "BfTwiceNatAddrPort::TwiceNatAddrPortTablePd"};

const Kiv::TypeInfo& TwiceNatAddrPortTablePd::kivTypeInfo() {
    static const Kiv::TypeInfo type{"BfTwiceNatAddrPort::TwiceNatAddrPortTablePd",
                                    &TwiceNatAddrPortTable::kivTypeInfo(),
                                    {},
                                    {}};
    return type;
}

TwiceNatAddrPortTablePd::~TwiceNatAddrPortTablePd() {
    notificationIs(false);
}

TwiceNatAddrPortTablePd::Ptr TwiceNatAddrPortTablePd::TwiceNatAddrPortTablePdIs(
    const TwiceNatAddrPortTableHelper::Ptr& helper, const KeyManager::Ptr& zabroKeyManager,
    const StatusManager::Ptr& statusManager) {
    return Kiv::create<TwiceNatAddrPortTablePd>(helper, zabroKeyManager, statusManager);
}

TwiceNatAddrPortTablePd::Ptr twiceNatAddrPortTablePdFactory(
    const TwiceNatAddrPortTableHelper::Ptr& helper,
    const TwiceNatAddrPortTable::KeyManager::Ptr& zabroKeyManager,
    const TwiceNatAddrPortTable::StatusManager::Ptr& statusManager) {
    return TwiceNatAddrPortTablePd::TwiceNatAddrPortTablePdIs(helper, zabroKeyManager,
                                                              statusManager);
}

void TwiceNatAddrPortTablePd::initializeTable(const TwiceNatAddrPortTableHelper::Ptr& helper) {
    KIV_TRACE(traceHandle(), kTraceLevel, "initializeTable");
    const U32 scope = helper->devPipeId() == kAllPipes ? 0 : 1;
    const auto& lib = *helper->pdLib();
    checkPdOperation(
        lib.pd().setProperty(lib.sessionId(), helper->deviceId(), kEntryScopeProperty, scope),
        kSetProperty);
}

void TwiceNatAddrPortTablePd::entryIs(const TwiceNatAddrPortTableEntry& entry) {
    assert(entry.action() != NULL);
    assert(entry.match() != NULL);
    KIV_TRACE(traceHandle(), kTraceLevel,
              "virtual void BfTwiceNatAddrPort::TwiceNatAddrPortTablePd::entryIs(const "
              "BfTwiceNatAddrPort::TwiceNatAddrPortTableEntry&), matchSpec: "
                  << static_cast<const void*>(entry.match().ptr())
                  << ", action: " << entry.action()->actionType());
    const TwiceNatAddrPortTableHelper& h = *helper();
    TwiceNatAddrPortTableHandles& handles = *h.sdkHandles();
    const TwiceNatAddrPortMatchSpec::PtrConst& match = entry.match();
    const TwiceNatAddrPortBaseActionSpec& action = *entry.action();

    const Operation op = isDefaultMatch(match.ptr()) ? Operation::setDefault
                         : handles.entryHas(match)   ? Operation::modify
                                                     : Operation::add;
    KIV_TRACE(traceHandle(), kTraceLevel, kOperationTraces[static_cast<int>(op)]);
    const auto type = static_cast<unsigned>(action.actionType());
    if (type > twiceNatAddrPortHitEcmpDynamicActionSpec)
        assert(0);
    const char* function = kFunctionNames[static_cast<int>(op)][type];
    const PdCall call = pdCall(h);

    if (op == Operation::modify) {
        checkPdOperation(modifyEntry(call, action, handles.entry(match)), function);
        if (statusManager())
            statusManager()->initStatus(match);
        return;
    }

    // Set-default allocates a key only the first time, when the default match
    // is not installed yet; add always does.
    const BfnTable::BfnSdkEntryHandle default_hdl =
        op == Operation::setDefault ? handles.entry(match) : 0;
    KeyManager* keys = zabroKeyManager().ptr();
    Zabro::MbbPostcodef::EntryKey key = 0;
    const bool allocated = keys && default_hdl == 0;
    if (allocated)
        key = keys->alloc(match, false);

    p4_pd_entry_hdl_t entry_hdl = 0;
    const SdkStatus status = op == Operation::setDefault
                                 ? setDefaultAction(call, action, &entry_hdl)
                                 : addEntry(call, *match, action, &entry_hdl);
    if (status != 0) {
        if (allocated)
            keys->free(key);
        checkPdOperation(status, function);
    }
    if (default_hdl != 0) {
        assert(entry_hdl == default_hdl);
    } else {
        handles.entryIs(match, entry_hdl);
    }
    if (statusManager())
        statusManager()->initStatus(match);
}

void TwiceNatAddrPortTablePd::entryDel(const TwiceNatAddrPortMatchSpec::PtrConst& match) {
    KIV_TRACE(traceHandle(), kTraceLevel,
              "virtual void BfTwiceNatAddrPort::TwiceNatAddrPortTablePd::entryDel(const "
              "PtrConst&), matchSpec: "
                  << static_cast<const void*>(match.ptr()));
    // clang-format off
    assert(helper()->sdkHandles()->entryHas( match ));
    // clang-format on
    if (statusManager())
        statusManager()->initStatus(match);
    TwiceNatAddrPortTableHandles& handles = *helper()->sdkHandles();
    const PdCall call = pdCall(*helper());
    if (isDefaultMatch(match.ptr())) {
        checkPdOperation(call.pd.resetDefaultEntry(call.session, call.target), kResetDefault);
    } else {
        checkPdOperation(call.pd.tableDelete(call.session, call.deviceId, handles.entry(match)),
                         kTableDelete);
    }
    handles.entryDel(match);
}

TwiceNatAddrPortTableEntry TwiceNatAddrPortTablePd::entryByHandle(
    BfnTable::BfnSdkEntryHandle sdkHandle) const {
    KIV_TRACE(traceHandle(), kTraceLevel, "entryByHandle");
    const TwiceNatAddrPortTableHelper& h = *helper();
    const auto& lib = *h.pdLib();
    PdMatchSpec match{};
    char actionName[P4_PD_OLVANE_SWITCH_ACTION_NAME_MAX] = {};
    std::array<std::uint8_t, sizeof(HitSpec)> actionSpec{};
    std::uint8_t isDefault = 0;
    const SdkStatus status =
        lib.pd().getEntry(lib.sessionId(), h.deviceId(), sdkHandle, false, &match, actionName,
                          actionSpec.data(), nullptr, &isDefault);
    if (status != 0)
        return {};
    actionName[sizeof(actionName) - 1] = '\0';

    std::size_t type = 0;
    while (type < kReadBackActionNames.size() &&
           std::strcmp(actionName, kReadBackActionNames[type]) != 0) {
        ++type;
    }
    if (type == kReadBackActionNames.size())
        return {};

    TwiceNatAddrPortMatchSpec::Ptr readMatch = twiceNatAddrPortMatchSpecFactory();
    readMatch->ingMdNatKeyIdIs(match.ing_md_nat_key_id);
    readMatch->l4PortHdrSrcPortIs(match.l4_port_hdr_src_port);
    readMatch->l4PortHdrDstPortIs(match.l4_port_hdr_dst_port);

    U16 rwId = 0;
    U8 prot = 0;
    U16 param = 0;
    if (type != onMissActionSpec) {
        // Read field by field: the reader leaves the padding byte as it was.
        std::memcpy(&rwId, actionSpec.data() + offsetof(HitSpec, action_rw_id), sizeof(rwId));
        std::memcpy(&prot, actionSpec.data() + offsetof(HitSpec, action_prot), sizeof(prot));
        std::memcpy(&param, actionSpec.data() + offsetof(HitSpec, action_next_hop), sizeof(param));
    }
    TwiceNatAddrPortTableEntry result(readMatch);
    result.actionIs(
        actionSpecOf(static_cast<TwiceNatAddrPortActionSpecType>(type), rwId, prot, param));
    return result;
}

}  // namespace BfTwiceNatAddrPort
