// The PD functions of the twiceNatAddrPort table: C entry points over the chip model.
// Each one passes the test hooks first (one branch when they are off), then checks its
// pointers, finds the device and makes one chip call.
#include <cstring>
#include <type_traits>

#include "ChipIntercept.h"
#include "ChipRegistry.h"
#include "EntryListing.h"
#include "sdk/olvane_switch_pd.h"

namespace {

using Chip::Action;
using Chip::Call;
using Chip::Status;
using Chip::Hooks::ArgText;
using MatchSpec = p4_pd_olvane_switch_twiceNatAddrPort_match_spec_t;
using HitSpec = p4_pd_olvane_switch_twiceNatAddrPortHit_action_spec_t;
using HitDynamicSpec = p4_pd_olvane_switch_twiceNatAddrPortHitDynamic_action_spec_t;
using HitEcmpSpec = p4_pd_olvane_switch_twiceNatAddrPortHitEcmp_action_spec_t;
using HitEcmpDynamicSpec = p4_pd_olvane_switch_twiceNatAddrPortHitEcmpDynamic_action_spec_t;

constexpr uint32_t kActionSpecPadding = 1u << 3;  // byte 3 of every action spec

constexpr const char* kActionNames[Chip::kActionCount] = {
    "p4_pd_olvane_switch_onMiss",
    "p4_pd_olvane_switch_twiceNatAddrPortHit",
    "p4_pd_olvane_switch_twiceNatAddrPortHitDynamic",
    "p4_pd_olvane_switch_twiceNatAddrPortHitEcmp",
    "p4_pd_olvane_switch_twiceNatAddrPortHitEcmpDynamic",
};

// Stands for the action spec that onMiss does not have.
struct NoActionSpec {};

template <class Spec>
constexpr bool kHasParams = !std::is_same_v<Spec, NoActionSpec>;

template <class Spec>
Chip::ActionData actionData(Action action, const Spec* spec) {
    if constexpr (!kHasParams<Spec>) {
        return {action};
    } else if constexpr (requires { spec->action_next_hop; }) {
        return {action, spec->action_prot, spec->action_rw_id, spec->action_next_hop};
    } else {
        return {action, spec->action_prot, spec->action_rw_id, spec->action_ecmp_group};
    }
}

void logTarget(ArgText& args, const p4_pd_dev_target_t& target) {
    args.bytes("dev_tgt", &target, sizeof target);
}

template <class Spec>
void logAction(ArgText& args, const Spec* spec) {
    if constexpr (kHasParams<Spec>) {
        spec != nullptr ? args.bytes("action", spec, sizeof *spec, kActionSpecPadding)
                        : args.null("action");
    }
}

template <class Spec>
bool specMissing(const Spec* spec) {
    return kHasParams<Spec> && spec == nullptr;
}

// Every call is served only for an open session; fault injection and the log come first.
Status sessionCheck(p4_pd_sess_hdl_t sess) {
    return Chip::sessionIsOpen(sess) ? Chip::kSuccess : Chip::kSessionNotFound;
}

template <class Spec>
p4_pd_status_t addEntry(Call call, Action action, p4_pd_sess_hdl_t sess, p4_pd_dev_target_t target,
                        const MatchSpec* match, const Spec* spec, p4_pd_entry_hdl_t* handle) {
    if (Status st = Chip::Hooks::intercept(call, [&](ArgText& args) {
            args.number("sess", sess);
            logTarget(args, target);
            match != nullptr ? args.bytes("match", match, sizeof *match) : args.null("match");
            logAction(args, spec);
        })) {
        return st;
    }
    if (Status st = sessionCheck(sess)) {
        return st;
    }
    Chip::Device* device = nullptr;
    if (match == nullptr || specMissing(spec) || handle == nullptr) {
        return Chip::kInvalidArg;
    }
    if (Status st = Chip::device(target.device_id, &device)) {
        return st;
    }
    Chip::EntryKey key{match->ing_md_nat_key_id, match->l4_port_hdr_src_port,
                       match->l4_port_hdr_dst_port};
    return device->entryAdd(target.dev_pipe_id, key, actionData(action, spec), handle);
}

template <class Spec>
p4_pd_status_t modifyEntry(Call call, Action action, p4_pd_sess_hdl_t sess, uint8_t devId,
                           p4_pd_entry_hdl_t handle, const Spec* spec) {
    if (Status st = Chip::Hooks::intercept(call, [&](ArgText& args) {
            args.number("sess", sess).number("dev_id", devId).number("hdl", handle);
            logAction(args, spec);
        })) {
        return st;
    }
    if (Status st = sessionCheck(sess)) {
        return st;
    }
    Chip::Device* device = nullptr;
    if (specMissing(spec)) {
        return Chip::kInvalidArg;
    }
    if (Status st = Chip::device(devId, &device)) {
        return st;
    }
    return device->entryModify(handle, Chip::kAnyPipe, actionData(action, spec));
}

template <class Spec>
p4_pd_status_t setDefault(Call call, Action action, p4_pd_sess_hdl_t sess,
                          p4_pd_dev_target_t target, const Spec* spec, p4_pd_entry_hdl_t* handle) {
    if (Status st = Chip::Hooks::intercept(call, [&](ArgText& args) {
            args.number("sess", sess);
            logTarget(args, target);
            logAction(args, spec);
        })) {
        return st;
    }
    if (Status st = sessionCheck(sess)) {
        return st;
    }
    Chip::Device* device = nullptr;
    if (specMissing(spec) || handle == nullptr) {
        return Chip::kInvalidArg;
    }
    if (Status st = Chip::device(target.device_id, &device)) {
        return st;
    }
    return device->defaultEntrySet(target.dev_pipe_id, actionData(action, spec), handle);
}

constexpr const NoActionSpec* kNoSpec = nullptr;

// The hooks, then the device of a listing call on the scope `target` selects.
template <class MoreArgs>
Status listingDevice(Call call, p4_pd_sess_hdl_t sess, const p4_pd_dev_target_t& target,
                     const MoreArgs& moreArgs, Chip::Device** device) {
    if (Status st = Chip::Hooks::intercept(call, [&](ArgText& args) {
            args.number("sess", sess);
            logTarget(args, target);
            moreArgs(args);
        })) {
        return st;
    }
    if (Status st = sessionCheck(sess)) {
        return st;
    }
    return Chip::device(target.device_id, device);
}

Status listingDevice(Call call, p4_pd_sess_hdl_t sess, const p4_pd_dev_target_t& target,
                     Chip::Device** device) {
    return listingDevice(
        call, sess, target, [](ArgText&) {}, device);
}

}  // namespace

extern "C" {

p4_pd_status_t p4_pd_olvane_switch_client_init(p4_pd_sess_hdl_t* sess_hdl) {
    if (sess_hdl == nullptr) {
        return Chip::kInvalidArg;
    }
    return Chip::sessionOpen(sess_hdl);
}

p4_pd_status_t p4_pd_olvane_switch_client_cleanup(p4_pd_sess_hdl_t sess_hdl) {
    return Chip::sessionClose(sess_hdl);
}

p4_pd_status_t p4_pd_olvane_switch_twiceNatAddrPort_set_property(p4_pd_sess_hdl_t sess_hdl,
                                                                 uint32_t dev_id, uint32_t property,
                                                                 uint32_t value) {
    if (Status st = Chip::Hooks::intercept(Call::PdSetProperty, [&](ArgText& args) {
            args.number("sess", sess_hdl).number("dev_id", dev_id);
            args.number("property", property).number("value", value);
        })) {
        return st;
    }
    if (Status st = sessionCheck(sess_hdl)) {
        return st;
    }
    if (property != P4_PD_OLVANE_SWITCH_PROPERTY_ENTRY_SCOPE) {
        return Chip::kNotSupported;
    }
    if (value > 1) {
        return Chip::kInvalidArg;
    }
    Chip::Device* device = nullptr;
    if (Status st = Chip::device(dev_id, &device)) {
        return st;
    }
    return device->entryScopeIs(static_cast<Chip::EntryScope>(value));
}

p4_pd_status_t p4_pd_olvane_switch_twiceNatAddrPort_table_add_with_onMiss(
    p4_pd_sess_hdl_t sess_hdl, p4_pd_dev_target_t dev_tgt, const MatchSpec* match_spec,
    p4_pd_entry_hdl_t* entry_hdl) {
    return addEntry(Call::PdAddOnMiss, Action::OnMiss, sess_hdl, dev_tgt, match_spec, kNoSpec,
                    entry_hdl);
}

p4_pd_status_t p4_pd_olvane_switch_twiceNatAddrPort_table_add_with_twiceNatAddrPortHit(
    p4_pd_sess_hdl_t sess_hdl, p4_pd_dev_target_t dev_tgt, const MatchSpec* match_spec,
    const HitSpec* action_spec, p4_pd_entry_hdl_t* entry_hdl) {
    return addEntry(Call::PdAddHit, Action::Hit, sess_hdl, dev_tgt, match_spec, action_spec,
                    entry_hdl);
}

p4_pd_status_t p4_pd_olvane_switch_twiceNatAddrPort_table_add_with_twiceNatAddrPortHitDynamic(
    p4_pd_sess_hdl_t sess_hdl, p4_pd_dev_target_t dev_tgt, const MatchSpec* match_spec,
    const HitDynamicSpec* action_spec, p4_pd_entry_hdl_t* entry_hdl) {
    return addEntry(Call::PdAddHitDynamic, Action::HitDynamic, sess_hdl, dev_tgt, match_spec,
                    action_spec, entry_hdl);
}

p4_pd_status_t p4_pd_olvane_switch_twiceNatAddrPort_table_add_with_twiceNatAddrPortHitEcmp(
    p4_pd_sess_hdl_t sess_hdl, p4_pd_dev_target_t dev_tgt, const MatchSpec* match_spec,
    const HitEcmpSpec* action_spec, p4_pd_entry_hdl_t* entry_hdl) {
    return addEntry(Call::PdAddHitEcmp, Action::HitEcmp, sess_hdl, dev_tgt, match_spec, action_spec,
                    entry_hdl);
}

p4_pd_status_t p4_pd_olvane_switch_twiceNatAddrPort_table_add_with_twiceNatAddrPortHitEcmpDynamic(
    p4_pd_sess_hdl_t sess_hdl, p4_pd_dev_target_t dev_tgt, const MatchSpec* match_spec,
    const HitEcmpDynamicSpec* action_spec, p4_pd_entry_hdl_t* entry_hdl) {
    return addEntry(Call::PdAddHitEcmpDynamic, Action::HitEcmpDynamic, sess_hdl, dev_tgt,
                    match_spec, action_spec, entry_hdl);
}

p4_pd_status_t p4_pd_olvane_switch_twiceNatAddrPort_table_modify_with_onMiss(
    p4_pd_sess_hdl_t sess_hdl, uint8_t dev_id, p4_pd_entry_hdl_t entry_hdl) {
    return modifyEntry(Call::PdModOnMiss, Action::OnMiss, sess_hdl, dev_id, entry_hdl, kNoSpec);
}

p4_pd_status_t p4_pd_olvane_switch_twiceNatAddrPort_table_modify_with_twiceNatAddrPortHit(
    p4_pd_sess_hdl_t sess_hdl, uint8_t dev_id, p4_pd_entry_hdl_t entry_hdl,
    const HitSpec* action_spec) {
    return modifyEntry(Call::PdModHit, Action::Hit, sess_hdl, dev_id, entry_hdl, action_spec);
}

p4_pd_status_t p4_pd_olvane_switch_twiceNatAddrPort_table_modify_with_twiceNatAddrPortHitDynamic(
    p4_pd_sess_hdl_t sess_hdl, uint8_t dev_id, p4_pd_entry_hdl_t entry_hdl,
    const HitDynamicSpec* action_spec) {
    return modifyEntry(Call::PdModHitDynamic, Action::HitDynamic, sess_hdl, dev_id, entry_hdl,
                       action_spec);
}

p4_pd_status_t p4_pd_olvane_switch_twiceNatAddrPort_table_modify_with_twiceNatAddrPortHitEcmp(
    p4_pd_sess_hdl_t sess_hdl, uint8_t dev_id, p4_pd_entry_hdl_t entry_hdl,
    const HitEcmpSpec* action_spec) {
    return modifyEntry(Call::PdModHitEcmp, Action::HitEcmp, sess_hdl, dev_id, entry_hdl,
                       action_spec);
}

p4_pd_status_t
p4_pd_olvane_switch_twiceNatAddrPort_table_modify_with_twiceNatAddrPortHitEcmpDynamic(
    p4_pd_sess_hdl_t sess_hdl, uint8_t dev_id, p4_pd_entry_hdl_t entry_hdl,
    const HitEcmpDynamicSpec* action_spec) {
    return modifyEntry(Call::PdModHitEcmpDynamic, Action::HitEcmpDynamic, sess_hdl, dev_id,
                       entry_hdl, action_spec);
}

p4_pd_status_t p4_pd_olvane_switch_twiceNatAddrPort_set_default_action_onMiss(
    p4_pd_sess_hdl_t sess_hdl, p4_pd_dev_target_t dev_tgt, p4_pd_entry_hdl_t* entry_hdl) {
    return setDefault(Call::PdDefOnMiss, Action::OnMiss, sess_hdl, dev_tgt, kNoSpec, entry_hdl);
}

p4_pd_status_t p4_pd_olvane_switch_twiceNatAddrPort_set_default_action_twiceNatAddrPortHit(
    p4_pd_sess_hdl_t sess_hdl, p4_pd_dev_target_t dev_tgt, const HitSpec* action_spec,
    p4_pd_entry_hdl_t* entry_hdl) {
    return setDefault(Call::PdDefHit, Action::Hit, sess_hdl, dev_tgt, action_spec, entry_hdl);
}

p4_pd_status_t p4_pd_olvane_switch_twiceNatAddrPort_set_default_action_twiceNatAddrPortHitDynamic(
    p4_pd_sess_hdl_t sess_hdl, p4_pd_dev_target_t dev_tgt, const HitDynamicSpec* action_spec,
    p4_pd_entry_hdl_t* entry_hdl) {
    return setDefault(Call::PdDefHitDynamic, Action::HitDynamic, sess_hdl, dev_tgt, action_spec,
                      entry_hdl);
}

p4_pd_status_t p4_pd_olvane_switch_twiceNatAddrPort_set_default_action_twiceNatAddrPortHitEcmp(
    p4_pd_sess_hdl_t sess_hdl, p4_pd_dev_target_t dev_tgt, const HitEcmpSpec* action_spec,
    p4_pd_entry_hdl_t* entry_hdl) {
    return setDefault(Call::PdDefHitEcmp, Action::HitEcmp, sess_hdl, dev_tgt, action_spec,
                      entry_hdl);
}

p4_pd_status_t
p4_pd_olvane_switch_twiceNatAddrPort_set_default_action_twiceNatAddrPortHitEcmpDynamic(
    p4_pd_sess_hdl_t sess_hdl, p4_pd_dev_target_t dev_tgt, const HitEcmpDynamicSpec* action_spec,
    p4_pd_entry_hdl_t* entry_hdl) {
    return setDefault(Call::PdDefHitEcmpDynamic, Action::HitEcmpDynamic, sess_hdl, dev_tgt,
                      action_spec, entry_hdl);
}

p4_pd_status_t p4_pd_olvane_switch_twiceNatAddrPort_table_delete(p4_pd_sess_hdl_t sess_hdl,
                                                                 uint8_t dev_id,
                                                                 p4_pd_entry_hdl_t entry_hdl) {
    if (Status st = Chip::Hooks::intercept(Call::PdDelete, [&](ArgText& args) {
            args.number("sess", sess_hdl).number("dev_id", dev_id).number("hdl", entry_hdl);
        })) {
        return st;
    }
    if (Status st = sessionCheck(sess_hdl)) {
        return st;
    }
    Chip::Device* device = nullptr;
    if (Status st = Chip::device(dev_id, &device)) {
        return st;
    }
    return device->entryDelete(entry_hdl, Chip::kAnyPipe);
}

p4_pd_status_t p4_pd_olvane_switch_twiceNatAddrPort_table_reset_default_entry(
    p4_pd_sess_hdl_t sess_hdl, p4_pd_dev_target_t dev_tgt) {
    if (Status st = Chip::Hooks::intercept(Call::PdResetDefault, [&](ArgText& args) {
            args.number("sess", sess_hdl);
            logTarget(args, dev_tgt);
        })) {
        return st;
    }
    if (Status st = sessionCheck(sess_hdl)) {
        return st;
    }
    Chip::Device* device = nullptr;
    if (Status st = Chip::device(dev_tgt.device_id, &device)) {
        return st;
    }
    return device->defaultEntryReset(dev_tgt.dev_pipe_id);
}

p4_pd_status_t p4_pd_olvane_switch_twiceNatAddrPort_get_entry(
    p4_pd_sess_hdl_t sess_hdl, uint8_t dev_id, p4_pd_entry_hdl_t entry_hdl, bool read_from_hw,
    MatchSpec* match_spec, char* action_name, uint8_t* action_spec, uint64_t* hit_count,
    uint8_t* is_default) {
    if (Status st = Chip::Hooks::intercept(Call::PdGetEntry, [&](ArgText& args) {
            args.number("sess", sess_hdl).number("dev_id", dev_id).number("hdl", entry_hdl);
            args.number("read_from_hw", read_from_hw).optionalOut("hit_count", hit_count);
        })) {
        return st;
    }
    if (Status st = sessionCheck(sess_hdl)) {
        return st;
    }
    Chip::Device* device = nullptr;
    if (match_spec == nullptr || action_name == nullptr) {
        return Chip::kInvalidArg;
    }
    if (Status st = Chip::device(dev_id, &device)) {
        return st;
    }
    Chip::EntryView entry;
    if (Status st = device->entryGet(entry_hdl, Chip::kAnyPipe, &entry)) {
        return st;
    }
    bool hasParams = entry.data.action != Action::OnMiss;
    if (hasParams && action_spec == nullptr) {
        return Chip::kInvalidArg;
    }
    match_spec->ing_md_nat_key_id = entry.key.natKeyId;
    match_spec->l4_port_hdr_src_port = entry.key.srcPort;
    match_spec->l4_port_hdr_dst_port = entry.key.dstPort;
    std::strcpy(action_name, kActionNames[static_cast<uint8_t>(entry.data.action)]);
    if (hasParams) {
        std::memcpy(action_spec + offsetof(HitSpec, action_rw_id), &entry.data.rwId, 2);
        action_spec[offsetof(HitSpec, action_prot)] = entry.data.prot;
        std::memcpy(action_spec + offsetof(HitSpec, action_next_hop), &entry.data.nextHop, 2);
    }
    if (hit_count != nullptr) {
        *hit_count = 0;
    }
    if (is_default != nullptr) {
        *is_default = entry.isDefault ? 1 : 0;
    }
    return Chip::kSuccess;
}

p4_pd_status_t p4_pd_olvane_switch_twiceNatAddrPort_get_entry_count(p4_pd_sess_hdl_t sess_hdl,
                                                                    p4_pd_dev_target_t dev_tgt,
                                                                    uint32_t* count) {
    Chip::Device* device = nullptr;
    if (Status st = listingDevice(Call::PdGetEntryCount, sess_hdl, dev_tgt, &device)) {
        return st;
    }
    if (count == nullptr) {
        return Chip::kInvalidArg;
    }
    *count = static_cast<uint32_t>(device->entryHandles(dev_tgt.dev_pipe_id).size());
    return Chip::kSuccess;
}

p4_pd_status_t p4_pd_olvane_switch_twiceNatAddrPort_get_first_entry_handle(
    p4_pd_sess_hdl_t sess_hdl, p4_pd_dev_target_t dev_tgt, p4_pd_entry_hdl_t* entry_hdl) {
    Chip::Device* device = nullptr;
    if (Status st = listingDevice(Call::PdGetFirstEntryHandle, sess_hdl, dev_tgt, &device)) {
        return st;
    }
    return Chip::firstEntryHandle(*device, dev_tgt.dev_pipe_id, entry_hdl);
}

p4_pd_status_t p4_pd_olvane_switch_twiceNatAddrPort_get_next_entry_handles(
    p4_pd_sess_hdl_t sess_hdl, p4_pd_dev_target_t dev_tgt, p4_pd_entry_hdl_t entry_hdl, uint32_t n,
    p4_pd_entry_hdl_t* next_entry_handles, uint32_t* returned) {
    Chip::Device* device = nullptr;
    if (Status st = listingDevice(
            Call::PdGetNextEntryHandles, sess_hdl, dev_tgt,
            [&](ArgText& args) { args.number("hdl", entry_hdl).number("n", n); }, &device)) {
        return st;
    }
    return Chip::nextEntryHandles(*device, dev_tgt.dev_pipe_id, entry_hdl, n, next_entry_handles,
                                  returned);
}

p4_pd_status_t p4_pd_olvane_switch_twiceNatAddrPort_table_get_default_entry_handle(
    p4_pd_sess_hdl_t sess_hdl, p4_pd_dev_target_t dev_tgt, p4_pd_entry_hdl_t* entry_hdl) {
    Chip::Device* device = nullptr;
    if (Status st = listingDevice(Call::PdGetDefaultEntryHandle, sess_hdl, dev_tgt, &device)) {
        return st;
    }
    if (entry_hdl == nullptr ||
        (dev_tgt.dev_pipe_id != Chip::kAllPipes && dev_tgt.dev_pipe_id >= Chip::kPipeCount)) {
        return Chip::kInvalidArg;
    }
    *entry_hdl = device->defaultEntryHandle(dev_tgt.dev_pipe_id);
    return Chip::kSuccess;
}

}  // extern "C"
