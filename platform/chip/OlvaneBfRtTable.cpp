// The table object: validates object-runtime arguments, then makes one chip call.
#include "BfRtSchema.h"
#include "ChipIntercept.h"
#include "ChipRegistry.h"
#include "bfrt.h"

namespace bfrt {

using Chip::Call;
using Chip::Hooks::ArgText;

struct BfRtAccess {
    static Chip::EntryKey entryKey(const BfRtTableKey& key) {
        return {static_cast<uint16_t>(key.fields_[0]), static_cast<uint16_t>(key.fields_[1]),
                static_cast<uint16_t>(key.fields_[2])};
    }

    static void keyIs(BfRtTableKey& key, const Chip::EntryKey& entry) {
        key.fields_[0] = entry.natKeyId;
        key.fields_[1] = entry.srcPort;
        key.fields_[2] = entry.dstPort;
    }

    // False when the data carries no action.
    static bool actionData(const BfRtTableData& data, Chip::ActionData* out) {
        const schema::ActionInfo* action = schema::actionById(data.actionId_);
        if (action == nullptr) {
            return false;
        }
        *out = {action->action, static_cast<uint8_t>(data.fields_[1]),
                static_cast<uint16_t>(data.fields_[0]), static_cast<uint16_t>(data.fields_[2])};
        return true;
    }

    static void dataIs(BfRtTableData& data, uint32_t actionId, const Chip::ActionData& entry) {
        data.actionId_ = actionId;
        data.fields_[0] = entry.rwId;
        data.fields_[1] = entry.prot;
        data.fields_[2] = entry.nextHop;
    }

    static TableEntryScope scope(const BfRtTableAttributes& attributes) {
        return attributes.scope_;
    }

    static bool isEntryScope(const BfRtTableAttributes& attributes) {
        return attributes.type_ == TableAttributesType::EntryScope;
    }

    static void log(ArgText& args, const BfRtTableKey& key) {
        args.openList("key");
        for (uint32_t i = 0; i < schema::kKeyFieldCount; ++i) {
            args.item(schema::kKeyFields[i].id, key.fields_[i]);
        }
        args.closeList();
    }

    static void log(ArgText& args, const BfRtTableData& data) {
        args.openList("data").item("action=" + std::to_string(data.actionId_));
        const schema::ActionInfo* action = schema::actionById(data.actionId_);
        if (action != nullptr && action->hasFields()) {
            for (uint32_t i = 0; i < schema::kDataFieldCount; ++i) {
                args.item(action->firstDataFieldId + i, data.fields_[i]);
            }
        }
        args.closeList();
    }
};

namespace {

// A call on a table object, as the test hooks see it: logged with the
// table's name first, then whatever `more` adds.
template <class More>
Status tableCall(Call call, const std::string& table, const More& more) {
    return Chip::Hooks::intercept(call, [&](ArgText& args) { more(args.text("table", table)); });
}

Status tableCall(Call call, const std::string& table) {
    return tableCall(call, table, [](ArgText&) {});
}

// The id of the schema entry called `name`.
template <class Entries>
Status idOfName(const Entries& entries, const std::string& name, uint32_t* id) {
    if (id == nullptr) {
        return Chip::kInvalidArg;
    }
    for (const auto& entry : entries) {
        if (entry.name == name) {
            *id = entry.id;
            return Chip::kSuccess;
        }
    }
    return Chip::kObjectNotFound;
}

void logTarget(ArgText& args, const BfRtTarget& target) {
    args.bytes("target", &target, sizeof target);
}

// The target's device, or a status: pipe ids wider than 16 bits are refused here so
// that they cannot collide with the chip's "any pipe" value.
Status targetDevice(const BfRtTarget& target, Chip::Device** device) {
    if (target.pipe_id > 0xFFFF) {
        return Chip::kInvalidArg;
    }
    return Chip::device(target.dev_id, device);
}

}  // namespace

OlvaneBfRtTable::OlvaneBfRtTable(TableType type, std::string name)
    : type_(type), name_(std::move(name)) {}

bool OlvaneBfRtTable::holdsEntries() const {
    return type_ == TableType::MatchDirect || type_ == TableType::MatchIndirect ||
           type_ == TableType::MatchIndirectSelector;
}

Status OlvaneBfRtTable::tableTypeGet(TableType* type) const {
    if (Status st = tableCall(Call::TableTypeGet, name_)) {
        return st;
    }
    if (type == nullptr) {
        return Chip::kInvalidArg;
    }
    *type = type_;
    return Chip::kSuccess;
}

Status OlvaneBfRtTable::keyFieldIdGet(const std::string& name, uint32_t* fieldId) const {
    if (Status st = tableCall(Call::KeyFieldIdGet, name_,
                              [&](ArgText& args) { args.text("name", name); })) {
        return st;
    }
    return idOfName(schema::kKeyFields, name, fieldId);
}

Status OlvaneBfRtTable::actionIdGet(const std::string& name, uint32_t* actionId) const {
    if (Status st = tableCall(Call::TableActionIdGet, name_,
                              [&](ArgText& args) { args.text("name", name); })) {
        return st;
    }
    return idOfName(schema::kActions, name, actionId);
}

Status OlvaneBfRtTable::dataFieldIdGet(const std::string& name, const uint32_t& actionId,
                                       uint32_t* fieldId) const {
    if (Status st = tableCall(Call::DataFieldIdGet, name_, [&](ArgText& args) {
            args.text("name", name).number("action", actionId);
        })) {
        return st;
    }
    const schema::ActionInfo* action = schema::actionById(actionId);
    if (fieldId == nullptr || action == nullptr) {
        return Chip::kInvalidArg;
    }
    for (uint32_t i = 0; action->hasFields() && i < schema::kDataFieldCount; ++i) {
        if (action->fields[i].name == name) {
            *fieldId = action->firstDataFieldId + i;
            return Chip::kSuccess;
        }
    }
    return Chip::kObjectNotFound;
}

Status OlvaneBfRtTable::keyAllocate(std::unique_ptr<BfRtTableKey>* key) const {
    if (Status st = tableCall(Call::KeyAllocate, name_)) {
        return st;
    }
    if (key == nullptr) {
        return Chip::kInvalidArg;
    }
    *key = std::make_unique<BfRtTableKey>();
    return Chip::kSuccess;
}

Status OlvaneBfRtTable::keyReset(BfRtTableKey* key) const {
    if (Status st = tableCall(Call::KeyReset, name_)) {
        return st;
    }
    if (key == nullptr) {
        return Chip::kInvalidArg;
    }
    BfRtAccess::keyIs(*key, Chip::EntryKey{});
    return Chip::kSuccess;
}

Status OlvaneBfRtTable::dataAllocate(std::unique_ptr<BfRtTableData>* data) const {
    if (Status st = tableCall(Call::DataAllocate, name_)) {
        return st;
    }
    if (data == nullptr) {
        return Chip::kInvalidArg;
    }
    *data = std::make_unique<BfRtTableData>();
    return Chip::kSuccess;
}

Status OlvaneBfRtTable::dataReset(const uint32_t& actionId, BfRtTableData* data) const {
    if (Status st = tableCall(Call::DataReset, name_,
                              [&](ArgText& args) { args.number("action", actionId); })) {
        return st;
    }
    if (data == nullptr || schema::actionById(actionId) == nullptr) {
        return Chip::kInvalidArg;
    }
    BfRtAccess::dataIs(*data, actionId, Chip::ActionData{});
    return Chip::kSuccess;
}

Status OlvaneBfRtTable::dataReset(BfRtTableData* data) const {
    if (Status st = tableCall(Call::DataReset, name_)) {
        return st;
    }
    if (data == nullptr) {
        return Chip::kInvalidArg;
    }
    BfRtAccess::dataIs(*data, 0, Chip::ActionData{});
    return Chip::kSuccess;
}

Status OlvaneBfRtTable::deviceTargetIs(const BfRtTarget& target) {
    if (Status st = tableCall(Call::DeviceTargetIs, name_,
                              [&](ArgText& args) { logTarget(args, target); })) {
        return st;
    }
    if (target.dev_id >= Chip::kMaxDevices || target.pipe_id > 0xFFFF) {
        return Chip::kInvalidArg;
    }
    target_ = target;
    return Chip::kSuccess;
}

Status OlvaneBfRtTable::attributeAllocate(const TableAttributesType& type,
                                          std::unique_ptr<BfRtTableAttributes>* attributes) const {
    if (Status st = tableCall(Call::AttributeAllocate, name_, [&](ArgText& args) {
            args.number("type", static_cast<uint32_t>(type));
        })) {
        return st;
    }
    if (attributes == nullptr) {
        return Chip::kInvalidArg;
    }
    if (type != TableAttributesType::EntryScope) {
        return Chip::kNotSupported;
    }
    *attributes = std::make_unique<BfRtTableAttributes>(type);
    return Chip::kSuccess;
}

Status OlvaneBfRtTable::tableAttributesSet(const BfRtSession& session, const BfRtTarget& target,
                                           const BfRtTableAttributes& attributes) const {
    if (Status st = tableCall(Call::TableAttributesSet, name_, [&](ArgText& args) {
            args.number("sess", session.sessHandleGet());
            logTarget(args, target);
            args.number("scope", static_cast<uint32_t>(BfRtAccess::scope(attributes)));
        })) {
        return st;
    }
    if (!holdsEntries()) {
        return Chip::kNotSupported;
    }
    if (!BfRtAccess::isEntryScope(attributes)) {
        return Chip::kInvalidArg;
    }
    Chip::Device* device = nullptr;
    if (Status st = targetDevice(target, &device)) {
        return st;
    }
    return device->entryScopeIs(BfRtAccess::scope(attributes) == TableEntryScope::AllPipelines
                                    ? Chip::EntryScope::AllPipes
                                    : Chip::EntryScope::SinglePipe);
}

Status OlvaneBfRtTable::tableEntryAdd(const BfRtSession& session, const BfRtTarget& target,
                                      const BfRtTableKey& key, const BfRtTableData& data,
                                      uint32_t* handle) const {
    if (Status st = tableCall(Call::TableEntryAdd, name_, [&](ArgText& args) {
            args.number("sess", session.sessHandleGet());
            logTarget(args, target);
            BfRtAccess::log(args, key);
            BfRtAccess::log(args, data);
        })) {
        return st;
    }
    if (!holdsEntries()) {
        return Chip::kNotSupported;
    }
    Chip::ActionData action;
    Chip::Device* device = nullptr;
    if (handle == nullptr || !BfRtAccess::actionData(data, &action)) {
        return Chip::kInvalidArg;
    }
    if (Status st = targetDevice(target, &device)) {
        return st;
    }
    return device->entryAdd(target.pipe_id, BfRtAccess::entryKey(key), action, handle);
}

Status OlvaneBfRtTable::tableEntryMod(const BfRtSession& session, const BfRtTarget& target,
                                      const uint64_t& flags, const uint32_t& handle,
                                      const BfRtTableData& data) const {
    if (Status st = tableCall(Call::TableEntryMod, name_, [&](ArgText& args) {
            args.number("sess", session.sessHandleGet());
            logTarget(args, target);
            args.number("flags", flags).number("hdl", handle);
            BfRtAccess::log(args, data);
        })) {
        return st;
    }
    if (!holdsEntries()) {
        return Chip::kNotSupported;
    }
    Chip::ActionData action;
    Chip::Device* device = nullptr;
    if (!BfRtAccess::actionData(data, &action)) {
        return Chip::kInvalidArg;
    }
    if (Status st = targetDevice(target, &device)) {
        return st;
    }
    return device->entryModify(handle, target.pipe_id, action);
}

Status OlvaneBfRtTable::tableDefaultEntrySet(const BfRtSession& session, const BfRtTarget& target,
                                             const uint64_t& flags, const BfRtTableData& data,
                                             uint32_t* handle) const {
    if (Status st = tableCall(Call::TableDefaultEntrySet, name_, [&](ArgText& args) {
            args.number("sess", session.sessHandleGet());
            logTarget(args, target);
            args.number("flags", flags);
            BfRtAccess::log(args, data);
        })) {
        return st;
    }
    if (!holdsEntries()) {
        return Chip::kNotSupported;
    }
    Chip::ActionData action;
    Chip::Device* device = nullptr;
    if (handle == nullptr || !BfRtAccess::actionData(data, &action)) {
        return Chip::kInvalidArg;
    }
    if (Status st = targetDevice(target, &device)) {
        return st;
    }
    return device->defaultEntrySet(target.pipe_id, action, handle);
}

Status OlvaneBfRtTable::tableEntryDel(const BfRtSession& session, const BfRtTarget& target,
                                      const uint32_t& handle) const {
    if (Status st = tableCall(Call::TableEntryDel, name_, [&](ArgText& args) {
            args.number("sess", session.sessHandleGet());
            logTarget(args, target);
            args.number("hdl", handle);
        })) {
        return st;
    }
    if (!holdsEntries()) {
        return Chip::kNotSupported;
    }
    Chip::Device* device = nullptr;
    if (Status st = targetDevice(target, &device)) {
        return st;
    }
    return device->entryDelete(handle, target.pipe_id);
}

Status OlvaneBfRtTable::tableDefaultEntryReset(const BfRtSession& session,
                                               const BfRtTarget& target) const {
    if (Status st = tableCall(Call::TableDefaultEntryReset, name_, [&](ArgText& args) {
            args.number("sess", session.sessHandleGet());
            logTarget(args, target);
        })) {
        return st;
    }
    if (!holdsEntries()) {
        return Chip::kNotSupported;
    }
    Chip::Device* device = nullptr;
    if (Status st = targetDevice(target, &device)) {
        return st;
    }
    return device->defaultEntryReset(target.pipe_id);
}

Status OlvaneBfRtTable::tableEntryGet(const BfRtSession& session, const BfRtTarget& target,
                                      const uint64_t& flags, const uint32_t& handle,
                                      BfRtTableKey* key, BfRtTableData* data) const {
    if (Status st = tableCall(Call::TableEntryGet, name_, [&](ArgText& args) {
            args.number("sess", session.sessHandleGet());
            logTarget(args, target);
            args.number("flags", flags).number("hdl", handle);
        })) {
        return st;
    }
    if (!holdsEntries()) {
        return Chip::kNotSupported;
    }
    Chip::Device* device = nullptr;
    if (key == nullptr || data == nullptr) {
        return Chip::kInvalidArg;
    }
    if (Status st = targetDevice(target, &device)) {
        return st;
    }
    Chip::EntryView entry;
    if (Status st = device->entryGet(handle, target.pipe_id, &entry)) {
        return st;
    }
    BfRtAccess::keyIs(*key, entry.key);
    BfRtAccess::dataIs(*data, schema::actionOf(entry.data.action).id, entry.data);
    return Chip::kSuccess;
}

}  // namespace bfrt
