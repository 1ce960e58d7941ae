// The PD backend: the table programmed through the PD functions of the
// program, one PD call per operation.

#include <array>
#include <cassert>
#include <cstddef>
#include <cstring>
#include <string_view>

#include "Table.h"

namespace BfTwiceNatAddrPort {

namespace {

using BfPdTwiceNatAddrPort::PdFunctions;
using PdMatchSpec = p4_pd_olvane_switch_twiceNatAddrPort_match_spec_t;

using Operation = TwiceNatAddrPortTable::Operation;

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

// What the entry reader writes for each action, indexed by action type.
constexpr std::array<std::string_view, 5> kReadBackActionNames = {
    "p4_pd_olvane_switch_onMiss", "p4_pd_olvane_switch_twiceNatAddrPortHit",
    "p4_pd_olvane_switch_twiceNatAddrPortHitDynamic", "p4_pd_olvane_switch_twiceNatAddrPortHitEcmp",
    "p4_pd_olvane_switch_twiceNatAddrPortHitEcmpDynamic"};

// The action type of a read-back action name, kReadBackActionNames.size()
// for an unknown one. The names differ in length, so the length picks the
// one candidate and a single comparison confirms it.
std::size_t readBackActionType(const char* name, std::size_t capacity) noexcept {
    const std::string_view read(name, ::strnlen(name, capacity));
    for (std::size_t type = 0; type < kReadBackActionNames.size(); ++type) {
        if (kReadBackActionNames[type].size() == read.size())
            return kReadBackActionNames[type] == read ? type : kReadBackActionNames.size();
    }
    return kReadBackActionNames.size();
}
static_assert([] {
    for (std::size_t a = 0; a < kReadBackActionNames.size(); ++a)
        for (std::size_t b = a + 1; b < kReadBackActionNames.size(); ++b)
            if (kReadBackActionNames[a].size() == kReadBackActionNames[b].size())
                return false;
    return true;
}());

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

PdMatchSpec pdMatchSpec(const TwiceNatAddrPortMatchSpec& m) noexcept {
    PdMatchSpec match;
    match.ing_md_nat_key_id = m.ingMdNatKeyId();
    match.l4_port_hdr_src_port = m.l4PortHdrSrcPort();
    match.l4_port_hdr_dst_port = m.l4PortHdrDstPort();
    return match;
}

// The PD call of one operation for onMiss, which has no action spec. For
// modify, `handle` holds the entry's handle; otherwise the call writes it.
SdkStatus callOnMiss(const PdCall& c, Operation op, const TwiceNatAddrPortMatchSpec& m,
                     p4_pd_entry_hdl_t* handle) {
    switch (op) {
        case Operation::setDefault:
            return c.pd.setDefaultOnMiss(c.session, c.target, handle);
        case Operation::modify:
            return c.pd.modifyWithOnMiss(c.session, c.deviceId, *handle);
        case Operation::add: {
            const PdMatchSpec match = pdMatchSpec(m);
            return c.pd.addWithOnMiss(c.session, c.target, &match, handle);
        }
    }
    __builtin_unreachable();
}

// The same for a hit action, whose functions take its own action spec type.
template <class PdSpec, auto SetDefault, auto Modify, auto Add>
SdkStatus callHit(const PdCall& c, Operation op, const TwiceNatAddrPortMatchSpec& m,
                  const TwiceNatAddrPortBaseActionSpec& a, p4_pd_entry_hdl_t* handle) {
    const PdSpec spec = pdActionSpec<PdSpec>(a);
    switch (op) {
        case Operation::setDefault:
            return (c.pd.*SetDefault)(c.session, c.target, &spec, handle);
        case Operation::modify:
            return (c.pd.*Modify)(c.session, c.deviceId, *handle, &spec);
        case Operation::add: {
            const PdMatchSpec match = pdMatchSpec(m);
            return (c.pd.*Add)(c.session, c.target, &match, &spec, handle);
        }
    }
    __builtin_unreachable();
}

SdkStatus callPd(const PdCall& c, Operation op, const TwiceNatAddrPortMatchSpec& m,
                 const TwiceNatAddrPortBaseActionSpec& a, p4_pd_entry_hdl_t* handle) {
    using F = PdFunctions;
    switch (a.actionType()) {
        case onMissActionSpec:
            return callOnMiss(c, op, m, handle);
        case twiceNatAddrPortHitActionSpec:
            return callHit<HitSpec, &F::setDefaultHit, &F::modifyWithHit, &F::addWithHit>(
                c, op, m, a, handle);
        case twiceNatAddrPortHitDynamicActionSpec:
            return callHit<HitDynamicSpec, &F::setDefaultHitDynamic, &F::modifyWithHitDynamic,
                           &F::addWithHitDynamic>(c, op, m, a, handle);
        case twiceNatAddrPortHitEcmpActionSpec:
            return callHit<HitEcmpSpec, &F::setDefaultHitEcmp, &F::modifyWithHitEcmp,
                           &F::addWithHitEcmp>(c, op, m, a, handle);
        case twiceNatAddrPortHitEcmpDynamicActionSpec:
            return callHit<HitEcmpDynamicSpec, &F::setDefaultHitEcmpDynamic,
                           &F::modifyWithHitEcmpDynamic, &F::addWithHitEcmpDynamic>(c, op, m, a,
                                                                                    handle);
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
    const TwiceNatAddrPortMatchSpec::PtrConst& match = entry.match();
    const TwiceNatAddrPortBaseActionSpec& action = *entry.action();
    p4_pd_entry_hdl_t handle = 0;
    const Operation op = operationFor(match, handle);
    KIV_TRACE(traceHandle(), kTraceLevel, kOperationTraces[static_cast<int>(op)]);
    const auto type = static_cast<unsigned>(action.actionType());
    if (type > twiceNatAddrPortHitEcmpDynamicActionSpec)
        assert(0);
    const char* function = kFunctionNames[static_cast<int>(op)][type];
    const PdCall call = pdCall(*helper());

    if (op == Operation::modify) {
        checkPdOperation(callPd(call, op, *match, action, &handle), function);
        statusInit(match);
        return;
    }
    install(match, op, [&](p4_pd_entry_hdl_t* entry_hdl) {
        checkPdOperation(callPd(call, op, *match, action, entry_hdl), function);
    });
}

void TwiceNatAddrPortTablePd::entryDel(const TwiceNatAddrPortMatchSpec::PtrConst& match) {
    KIV_TRACE(traceHandle(), kTraceLevel,
              "virtual void BfTwiceNatAddrPort::TwiceNatAddrPortTablePd::entryDel(const "
              "PtrConst&), matchSpec: "
                  << static_cast<const void*>(match.ptr()));
    // The map's line loads while the match is read and the SDK deletes the entry.
    helper()->sdkHandles()->entryPrefetch(match);
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
    const std::size_t type = readBackActionType(actionName, sizeof(actionName) - 1);
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

const Kiv::TypeRegistration registration{&TwiceNatAddrPortTablePd::kivTypeInfo};

}  // namespace BfTwiceNatAddrPort
