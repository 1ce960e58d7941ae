// The table object: validates object-runtime arguments, then makes one chip call.
#include "BfRtSchema.h"
#include "ChipIntercept.h"
#include "ChipRegistry.h"
#include "EntryListing.h"
#include "SimBfRt.h"

namespace Chip {

using bfrt::BfRtSession;
using bfrt::BfRtTableAttributes;
using bfrt::BfRtTableData;
using bfrt::BfRtTableKey;
using bfrt::BfRtTarget;
using bfrt::Status;
using bfrt::TableAttributesType;
using bfrt::TableEntryScope;
using bfrt::TableType;
using Hooks::ArgText;

namespace {

// The table only ever receives objects of this runtime; whether it allocated them
// itself is checked with owns().
const SimKey& simKey(const BfRtTableKey& key) {
    return static_cast<const SimKey&>(key);
}
const SimData& simData(const BfRtTableData& data) {
    return static_cast<const SimData&>(data);
}
const SimAttributes& simAttributes(const BfRtTableAttributes& attributes) {
    return static_cast<const SimAttributes&>(attributes);
}

EntryKey entryKey(const BfRtTableKey& key) {
    const uint64_t* f = simKey(key).fields;
    return {static_cast<uint16_t>(f[0]), static_cast<uint16_t>(f[1]), static_cast<uint16_t>(f[2])};
}

void keyIs(BfRtTableKey& key, const EntryKey& entry) {
    uint64_t* f = static_cast<SimKey&>(key).fields;
    f[0] = entry.natKeyId;
    f[1] = entry.srcPort;
    f[2] = entry.dstPort;
}

// False when the data carries no action.
bool actionData(const BfRtTableData& data, ActionData* out) {
    const SimData& d = simData(data);
    const schema::ActionInfo* action = schema::actionById(d.boundActionId);
    if (action == nullptr) {
        return false;
    }
    *out = {action->action, static_cast<uint8_t>(d.fields[1]), static_cast<uint16_t>(d.fields[0]),
            static_cast<uint16_t>(d.fields[2])};
    return true;
}

void dataIs(BfRtTableData& data, uint32_t actionId, const ActionData& entry) {
    SimData& d = static_cast<SimData&>(data);
    d.boundActionId = actionId;
    d.fields[0] = entry.rwId;
    d.fields[1] = entry.prot;
    d.fields[2] = entry.nextHop;
}

// Fills the key and data objects from an entry the chip read.
void entryInto(const EntryView& entry, BfRtTableKey* key, BfRtTableData* data) {
    keyIs(*key, entry.key);
    dataIs(*data, schema::actionOf(entry.data.action).id, entry.data);
}

void logKey(ArgText& args, const BfRtTableKey& key) {
    args.openList("key");
    for (uint32_t i = 0; i < schema::kKeyFieldCount; ++i) {
        args.item(schema::kKeyFields[i].id, simKey(key).fields[i]);
    }
    args.closeList();
}

void logData(ArgText& args, const BfRtTableData& data) {
    const SimData& d = simData(data);
    args.openList("data").item("action=" + std::to_string(d.boundActionId));
    const schema::ActionInfo* action = schema::actionById(d.boundActionId);
    if (action != nullptr && action->hasFields()) {
        for (uint32_t i = 0; i < schema::kDataFieldCount; ++i) {
            args.item(action->firstDataFieldId + i, d.fields[i]);
        }
    }
    args.closeList();
}

// A call on a table object, as the test hooks see it: logged with the
// table's name first, then whatever `more` adds.
template <class More>
Status tableCall(Call call, const std::string& table, const More& more) {
    return Hooks::intercept(call, [&](ArgText& args) { more(args.text("table", table)); });
}

Status tableCall(Call call, const std::string& table) {
    return tableCall(call, table, [](ArgText&) {});
}

// The id of the schema entry called `name`.
template <class Entries>
Status idOfName(const Entries& entries, const std::string& name, uint32_t* id) {
    if (id == nullptr) {
        return kInvalidArg;
    }
    for (const auto& entry : entries) {
        if (entry.name == name) {
            *id = entry.id;
            return kSuccess;
        }
    }
    return kObjectNotFound;
}

void logTarget(ArgText& args, const BfRtTarget& target) {
    args.bytes("target", &target, sizeof target);
}

// Modify and default-set take only the flag bits that the runtime defines for them.
bool writeFlagsKnown(uint64_t flags) {
    return (flags & ~bfrt::OlvaneBfRtTable::kFlagUpdateInPlace) == 0;
}

// The target's device, or a status: pipe ids wider than 16 bits are refused here so
// that they cannot collide with the chip's "any pipe" value.
Status targetDevice(const BfRtTarget& target, Device** device) {
    if (target.pipe_id > 0xFFFF) {
        return kInvalidArg;
    }
    return Chip::device(target.dev_id, device);
}

// What every call on the table's entries does first, in this order: the hooks (the
// log shows the table, session and target, then what `more` adds), an open session, a
// table that holds entries, the call's own argument checks (`argumentsOk`), the target's device.
template <class More>
Status entryCall(Call call, const std::string& table, bool holdsEntries, const BfRtSession& session,
                 const BfRtTarget& target, bool argumentsOk, Device** device, const More& more) {
    if (Status st = tableCall(call, table, [&](ArgText& args) {
            args.number("sess", session.sessHandleGet());
            logTarget(args, target);
            more(args);
        })) {
        return st;
    }
    if (!sessionIsOpen(session.sessHandleGet())) {
        return kSessionNotFound;
    }
    if (!holdsEntries) {
        return kNotSupported;
    }
    if (!argumentsOk) {
        return kInvalidArg;
    }
    return targetDevice(target, device);
}

}  // namespace

SimTable::SimTable(TableType type, std::string name) : type_(type), name_(std::move(name)) {}

bool SimTable::owns(const BfRtTableKey& key) const {
    return simKey(key).table == name_;
}

bool SimTable::owns(const BfRtTableData& data) const {
    return simData(data).table == name_;
}

bool SimTable::holdsEntries() const {
    return type_ == TableType::MatchDirect || type_ == TableType::MatchIndirect ||
           type_ == TableType::MatchIndirectSelector;
}

Status SimTable::tableTypeGet(TableType* type) const {
    if (Status st = tableCall(Call::TableTypeGet, name_)) {
        return st;
    }
    if (type == nullptr) {
        return kInvalidArg;
    }
    *type = type_;
    return kSuccess;
}

Status SimTable::keyFieldIdGet(const std::string& name, uint32_t* fieldId) const {
    if (Status st = tableCall(Call::KeyFieldIdGet, name_,
                              [&](ArgText& args) { args.text("name", name); })) {
        return st;
    }
    return idOfName(schema::kKeyFields, name, fieldId);
}

Status SimTable::actionIdGet(const std::string& name, uint32_t* actionId) const {
    if (Status st = tableCall(Call::TableActionIdGet, name_,
                              [&](ArgText& args) { args.text("name", name); })) {
        return st;
    }
    return idOfName(schema::kActions, name, actionId);
}

Status SimTable::dataFieldIdGet(const std::string& name, const uint32_t& actionId,
                                uint32_t* fieldId) const {
    if (Status st = tableCall(Call::DataFieldIdGet, name_, [&](ArgText& args) {
            args.text("name", name).number("action", actionId);
        })) {
        return st;
    }
    const schema::ActionInfo* action = schema::actionById(actionId);
    if (fieldId == nullptr || action == nullptr) {
        return kInvalidArg;
    }
    for (uint32_t i = 0; action->hasFields() && i < schema::kDataFieldCount; ++i) {
        if (action->fields[i].name == name) {
            *fieldId = action->firstDataFieldId + i;
            return kSuccess;
        }
    }
    return kObjectNotFound;
}

Status SimTable::keyAllocate(std::unique_ptr<BfRtTableKey>* key) const {
    if (Status st = tableCall(Call::KeyAllocate, name_)) {
        return st;
    }
    if (key == nullptr) {
        return kInvalidArg;
    }
    *key = std::make_unique<SimKey>(name_);
    return kSuccess;
}

Status SimTable::keyReset(BfRtTableKey* key) const {
    if (Status st = tableCall(Call::KeyReset, name_)) {
        return st;
    }
    if (key == nullptr || !owns(*key)) {
        return kInvalidArg;
    }
    keyIs(*key, EntryKey{});
    return kSuccess;
}

Status SimTable::dataAllocate(std::unique_ptr<BfRtTableData>* data) const {
    if (Status st = tableCall(Call::DataAllocate, name_)) {
        return st;
    }
    if (data == nullptr) {
        return kInvalidArg;
    }
    *data = std::make_unique<SimData>(name_);
    return kSuccess;
}

Status SimTable::dataReset(const uint32_t& actionId, BfRtTableData* data) const {
    if (Status st = tableCall(Call::DataReset, name_,
                              [&](ArgText& args) { args.number("action", actionId); })) {
        return st;
    }
    if (data == nullptr || !owns(*data) || schema::actionById(actionId) == nullptr) {
        return kInvalidArg;
    }
    dataIs(*data, actionId, ActionData{});
    return kSuccess;
}

Status SimTable::dataReset(BfRtTableData* data) const {
    if (Status st = tableCall(Call::DataReset, name_)) {
        return st;
    }
    if (data == nullptr || !owns(*data)) {
        return kInvalidArg;
    }
    dataIs(*data, 0, ActionData{});
    return kSuccess;
}

Status SimTable::deviceTargetIs(const BfRtTarget& target) {
    if (Status st = tableCall(Call::DeviceTargetIs, name_,
                              [&](ArgText& args) { logTarget(args, target); })) {
        return st;
    }
    if (target.dev_id >= kMaxDevices || target.pipe_id > 0xFFFF) {
        return kInvalidArg;
    }
    target_ = target;
    return kSuccess;
}

Status SimTable::attributeAllocate(const TableAttributesType& type,
                                   std::unique_ptr<BfRtTableAttributes>* attributes) const {
    if (Status st = tableCall(Call::AttributeAllocate, name_, [&](ArgText& args) {
            args.number("type", static_cast<uint32_t>(type));
        })) {
        return st;
    }
    if (attributes == nullptr) {
        return kInvalidArg;
    }
    if (type != TableAttributesType::EntryScope) {
        return kNotSupported;
    }
    *attributes = std::make_unique<SimAttributes>(type);
    return kSuccess;
}

Status SimTable::tableAttributesSet(const BfRtSession& session, const BfRtTarget& target,
                                    const BfRtTableAttributes& attributes) const {
    const SimAttributes& a = simAttributes(attributes);
    Device* device = nullptr;
    if (Status st = entryCall(
            Call::TableAttributesSet, name_, holdsEntries(), session, target,
            a.type == TableAttributesType::EntryScope, &device,
            [&](ArgText& args) { args.number("scope", static_cast<uint32_t>(a.scope)); })) {
        return st;
    }
    return device->entryScopeIs(a.scope == TableEntryScope::AllPipelines ? EntryScope::AllPipes
                                                                         : EntryScope::SinglePipe);
}

Status SimTable::tableEntryAdd(const BfRtSession& session, const BfRtTarget& target,
                               const BfRtTableKey& key, const BfRtTableData& data,
                               uint32_t* handle) const {
    ActionData action;
    const bool argumentsOk =
        handle != nullptr && owns(key) && owns(data) && actionData(data, &action);
    Device* device = nullptr;
    if (Status st = entryCall(Call::TableEntryAdd, name_, holdsEntries(), session, target,
                              argumentsOk, &device, [&](ArgText& args) {
                                  logKey(args, key);
                                  logData(args, data);
                              })) {
        return st;
    }
    return device->entryAdd(target.pipe_id, entryKey(key), action, handle);
}

Status SimTable::tableEntryMod(const BfRtSession& session, const BfRtTarget& target,
                               const uint64_t& flags, const uint32_t& handle,
                               const BfRtTableData& data) const {
    ActionData action;
    const bool argumentsOk = writeFlagsKnown(flags) && owns(data) && actionData(data, &action);
    Device* device = nullptr;
    if (Status st = entryCall(Call::TableEntryMod, name_, holdsEntries(), session, target,
                              argumentsOk, &device, [&](ArgText& args) {
                                  args.number("flags", flags).number("hdl", handle);
                                  logData(args, data);
                              })) {
        return st;
    }
    return device->entryModify(handle, target.pipe_id, action);
}

Status SimTable::tableDefaultEntrySet(const BfRtSession& session, const BfRtTarget& target,
                                      const uint64_t& flags, const BfRtTableData& data,
                                      uint32_t* handle) const {
    ActionData action;
    const bool argumentsOk =
        handle != nullptr && writeFlagsKnown(flags) && owns(data) && actionData(data, &action);
    Device* device = nullptr;
    if (Status st = entryCall(Call::TableDefaultEntrySet, name_, holdsEntries(), session, target,
                              argumentsOk, &device, [&](ArgText& args) {
                                  args.number("flags", flags);
                                  logData(args, data);
                              })) {
        return st;
    }
    return device->defaultEntrySet(target.pipe_id, action, handle);
}

Status SimTable::tableEntryDel(const BfRtSession& session, const BfRtTarget& target,
                               const uint32_t& handle) const {
    Device* device = nullptr;
    if (Status st = entryCall(Call::TableEntryDel, name_, holdsEntries(), session, target, true,
                              &device, [&](ArgText& args) { args.number("hdl", handle); })) {
        return st;
    }
    return device->entryDelete(handle, target.pipe_id);
}

Status SimTable::tableDefaultEntryReset(const BfRtSession& session,
                                        const BfRtTarget& target) const {
    Device* device = nullptr;
    if (Status st = entryCall(Call::TableDefaultEntryReset, name_, holdsEntries(), session, target,
                              true, &device, [](ArgText&) {})) {
        return st;
    }
    return device->defaultEntryReset(target.pipe_id);
}

Status SimTable::tableEntryGet(const BfRtSession& session, const BfRtTarget& target,
                               const uint64_t& flags, const uint32_t& handle, BfRtTableKey* key,
                               BfRtTableData* data) const {
    Device* device = nullptr;
    if (Status st =
            entryCall(Call::TableEntryGet, name_, holdsEntries(), session, target,
                      key != nullptr && data != nullptr && owns(*key) && owns(*data), &device,
                      [&](ArgText& args) { args.number("flags", flags).number("hdl", handle); })) {
        return st;
    }
    EntryView entry;
    if (Status st = device->entryGet(handle, target.pipe_id, &entry)) {
        return st;
    }
    entryInto(entry, key, data);
    return kSuccess;
}

Status SimTable::tableUsageGet(const BfRtSession& session, const BfRtTarget& target,
                               const uint64_t& flags, uint32_t* count) const {
    Device* device = nullptr;
    if (Status st =
            entryCall(Call::TableUsageGet, name_, holdsEntries(), session, target, count != nullptr,
                      &device, [&](ArgText& args) { args.number("flags", flags); })) {
        return st;
    }
    *count =
        static_cast<uint32_t>(device->entryHandles(static_cast<uint16_t>(target.pipe_id)).size());
    return kSuccess;
}

Status SimTable::tableEntryGetFirst(const BfRtSession& session, const BfRtTarget& target,
                                    const uint64_t& flags, BfRtTableKey* key, BfRtTableData* data,
                                    uint32_t* handle) const {
    Device* device = nullptr;
    if (Status st = entryCall(Call::TableEntryGetFirst, name_, holdsEntries(), session, target,
                              key != nullptr && data != nullptr && owns(*key) && owns(*data),
                              &device, [&](ArgText& args) { args.number("flags", flags); })) {
        return st;
    }
    if (Status st = firstEntryHandle(*device, static_cast<uint16_t>(target.pipe_id), handle)) {
        return st;
    }
    EntryView entry;
    if (Status st = device->entryGet(*handle, target.pipe_id, &entry)) {
        return st;
    }
    entryInto(entry, key, data);
    return kSuccess;
}

Status SimTable::tableEntryGetNext_n(const BfRtSession& session, const BfRtTarget& target,
                                     const uint32_t& handle, const uint32_t& n,
                                     uint32_t* nextHandles, uint32_t* returned) const {
    Device* device = nullptr;
    if (Status st =
            entryCall(Call::TableEntryGetNextN, name_, holdsEntries(), session, target, true,
                      &device, [&](ArgText& args) { args.number("hdl", handle).number("n", n); })) {
        return st;
    }
    return nextEntryHandles(*device, static_cast<uint16_t>(target.pipe_id), handle, n, nextHandles,
                            returned);
}

}  // namespace Chip
