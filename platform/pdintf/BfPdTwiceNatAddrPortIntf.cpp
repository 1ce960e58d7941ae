#include "BfPdTwiceNatAddrPortIntf.h"

#include <dlfcn.h>

namespace BfPdTwiceNatAddrPort {

namespace {

template <class Fn>
void bindFunction(void* handle, const Kiv::String& library, const char* symbol, Fn& out) {
    void* address = ::dlsym(handle, symbol);
    if (!address) {
        throw Kiv::Exception(
            Kiv::_fmt("PD library '%s' has no function '%s'", library.c_str(), symbol));
    }
    out = reinterpret_cast<Fn>(address);
}

constexpr std::array<const char*, 3> kKeyFieldNames = {"ingMdNatKeyId", "l4PortHdrSrcPort",
                                                       "l4PortHdrDstPort"};
constexpr std::array<const char*, BfPdTwiceNatAddrPortIntf::kActions> kActionNames = {
    "onMiss", "twiceNatAddrPortHit", "twiceNatAddrPortHitDynamic", "twiceNatAddrPortHitEcmp",
    "twiceNatAddrPortHitEcmpDynamic"};

// The three data fields of each hit action; onMiss has none.
constexpr const char* kNextHopFields[] = {"rwId", "prot", "nextHop"};
constexpr const char* kEcmpGroupFields[] = {"rwId", "prot", "ecmpGroup"};
const char* const* dataFieldNames(std::size_t actionType) {
    if (actionType == 0)
        return nullptr;
    return actionType <= 2 ? kNextHopFields : kEcmpGroupFields;
}

void checkId(bfrt::Status status, const char* what, const char* name) {
    if (status != 0) {
        throw Kiv::Exception(
            Kiv::_fmt("the BfRt table has no %s '%s' (status %d)", what, name, status));
    }
}

}  // namespace

Kiv::MemAllocationTracker BfPdTwiceNatAddrPortIntf::memAllocationTracker_{
    "BfPdTwiceNatAddrPort::BfPdTwiceNatAddrPortIntf"};

const Kiv::TypeInfo& BfPdTwiceNatAddrPortIntf::kivTypeInfo() {
    using T = BfPdTwiceNatAddrPortIntf;
    static const Kiv::TypeInfo type{"BfPdTwiceNatAddrPort::BfPdTwiceNatAddrPortIntf",
                                    &Kiv::PtrInterface::kivTypeInfo(),
                                    {
                                        Kiv::readOnlyAttribute<&T::deviceId>("deviceId"),
                                        Kiv::readOnlyAttribute<&T::name>("name"),
                                        Kiv::attribute<&T::sessionId, &T::sessionIdIs>("sessionId"),
                                    },
                                    {}};
    return type;
}

void BfPdTwiceNatAddrPortIntf::LibraryCloser::operator()(void* handle) const noexcept {
    ::dlclose(handle);
}

BfPdTwiceNatAddrPortIntf::BfPdTwiceNatAddrPortIntf(Kiv::U8 deviceId, const Kiv::String& pdLibName,
                                                   Kiv::VoidPtr dlHandle, Kiv::U32 sessionId)
    : deviceId_(deviceId), name_(pdLibName), dlHandle_(dlHandle), sessionId_(sessionId) {
    if (!dlHandle_) {
        ownedLibrary_.reset(::dlopen(name_.c_str(), RTLD_NOW | RTLD_LOCAL));
        if (!ownedLibrary_) {
            const char* why = ::dlerror();
            throw Kiv::Exception(Kiv::_fmt("cannot open PD library '%s': %s", name_.c_str(),
                                           why ? why : "unknown error"));
        }
        dlHandle_ = ownedLibrary_.get();
    }
    bound_ = bindingOf(dlHandle_);
}

BfPdTwiceNatAddrPortIntf::~BfPdTwiceNatAddrPortIntf() {
    notificationIs(false);
}

void BfPdTwiceNatAddrPortIntf::dlHandleIs(Kiv::VoidPtr dlHandle) noexcept {
    dlHandle_ = dlHandle;
    if (!dlHandle || dlHandle == bound_.handle)
        return;
    try {
        Binding binding = bindingOf(dlHandle);
        if (bound_.bfRtTable && !binding.bfRtTable)
            return;
        bound_ = binding;
    } catch (const Kiv::Exception&) {
        // Not a library this object can bind: it keeps the one it has.
    }
}

BfPdTwiceNatAddrPortIntf::Binding BfPdTwiceNatAddrPortIntf::bindingOf(Kiv::VoidPtr handle) const {
    Binding binding;
    binding.handle = handle;
    PdFunctions& pd = binding.pd;
    void* h = handle;
#define BIND(field, fn) bindFunction(h, name_, #fn, pd.field)
    BIND(setProperty, p4_pd_olvane_switch_twiceNatAddrPort_set_property);
    BIND(addWithOnMiss, p4_pd_olvane_switch_twiceNatAddrPort_table_add_with_onMiss);
    BIND(addWithHit, p4_pd_olvane_switch_twiceNatAddrPort_table_add_with_twiceNatAddrPortHit);
    BIND(addWithHitDynamic,
         p4_pd_olvane_switch_twiceNatAddrPort_table_add_with_twiceNatAddrPortHitDynamic);
    BIND(addWithHitEcmp,
         p4_pd_olvane_switch_twiceNatAddrPort_table_add_with_twiceNatAddrPortHitEcmp);
    BIND(addWithHitEcmpDynamic,
         p4_pd_olvane_switch_twiceNatAddrPort_table_add_with_twiceNatAddrPortHitEcmpDynamic);
    BIND(modifyWithOnMiss, p4_pd_olvane_switch_twiceNatAddrPort_table_modify_with_onMiss);
    BIND(modifyWithHit, p4_pd_olvane_switch_twiceNatAddrPort_table_modify_with_twiceNatAddrPortHit);
    BIND(modifyWithHitDynamic,
         p4_pd_olvane_switch_twiceNatAddrPort_table_modify_with_twiceNatAddrPortHitDynamic);
    BIND(modifyWithHitEcmp,
         p4_pd_olvane_switch_twiceNatAddrPort_table_modify_with_twiceNatAddrPortHitEcmp);
    BIND(modifyWithHitEcmpDynamic,
         p4_pd_olvane_switch_twiceNatAddrPort_table_modify_with_twiceNatAddrPortHitEcmpDynamic);
    BIND(setDefaultOnMiss, p4_pd_olvane_switch_twiceNatAddrPort_set_default_action_onMiss);
    BIND(setDefaultHit,
         p4_pd_olvane_switch_twiceNatAddrPort_set_default_action_twiceNatAddrPortHit);
    BIND(setDefaultHitDynamic,
         p4_pd_olvane_switch_twiceNatAddrPort_set_default_action_twiceNatAddrPortHitDynamic);
    BIND(setDefaultHitEcmp,
         p4_pd_olvane_switch_twiceNatAddrPort_set_default_action_twiceNatAddrPortHitEcmp);
    BIND(setDefaultHitEcmpDynamic,
         p4_pd_olvane_switch_twiceNatAddrPort_set_default_action_twiceNatAddrPortHitEcmpDynamic);
    BIND(tableDelete, p4_pd_olvane_switch_twiceNatAddrPort_table_delete);
    BIND(resetDefaultEntry, p4_pd_olvane_switch_twiceNatAddrPort_table_reset_default_entry);
    BIND(getEntry, p4_pd_olvane_switch_twiceNatAddrPort_get_entry);
#undef BIND
    bindBfRt(binding);
    return binding;
}

// The object runtime is optional: a PD library without the getter has none,
// and then every BfRt member stays null.
void BfPdTwiceNatAddrPortIntf::bindBfRt(Binding& binding) const {
    auto getInfo = reinterpret_cast<olvane_switch_bfrt_info_get_fn>(
        ::dlsym(binding.handle, OLVANE_SWITCH_BFRT_INFO_GET_SYMBOL));
    if (!getInfo)
        return;
    olvane_switch_bfrt_info_t info{};
    if (const auto status = getInfo(deviceId_, &info); status != 0) {
        throw Kiv::Exception(Kiv::_fmt("PD library '%s' gives no BfRt objects for device %u (%d)",
                                       name_.c_str(), deviceId_, status));
    }
    auto* table = static_cast<bfrt::OlvaneBfRtTable*>(info.table);
    if (!table)
        return;
    for (std::size_t i = 0; i < kKeyFieldNames.size(); ++i) {
        checkId(table->keyFieldIdGet(kKeyFieldNames[i], &binding.keyFieldIds[i]), "key field",
                kKeyFieldNames[i]);
    }
    for (std::size_t a = 0; a < kActions; ++a) {
        BfRtActionIds& ids = binding.actionIds[a];
        checkId(table->actionIdGet(kActionNames[a], &ids.actionId), "action", kActionNames[a]);
        if (const char* const* fields = dataFieldNames(a)) {
            for (std::size_t f = 0; f < ids.dataFieldIds.size(); ++f) {
                checkId(table->dataFieldIdGet(fields[f], ids.actionId, &ids.dataFieldIds[f]),
                        "data field", fields[f]);
            }
        }
    }
    binding.bfRtTableIntf = static_cast<BfRt::BfRtTableIntf*>(info.table_intf);
    binding.bfRtTable = table;
    binding.secondBfRtTable = static_cast<bfrt::OlvaneBfRtTable*>(info.second_table);
    binding.thirdBfRtTable = static_cast<bfrt::OlvaneBfRtTable*>(info.third_table);
}

const Kiv::TypeRegistration registration{&BfPdTwiceNatAddrPortIntf::kivTypeInfo};

}  // namespace BfPdTwiceNatAddrPort
