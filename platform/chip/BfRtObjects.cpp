// Sessions, key, data and attributes objects of the object runtime, and the objects
// of each device.
#include <array>
#include <mutex>
#include <stdexcept>
#include <utility>

#include "BfRtSchema.h"
#include "ChipIntercept.h"
#include "ChipRegistry.h"
#include "SimBfRt.h"

namespace Chip {

using bfrt::Status;
using Hooks::ArgText;
using Hooks::ObjectKind;

std::shared_ptr<SimSession> SimSession::create() {
    uint32_t handle = 0;
    (void)sessionOpen(&handle);
    return std::shared_ptr<SimSession>(new SimSession(handle));
}

SimSession::~SimSession() {
    (void)sessionClose(handle_);
}

SimKey::SimKey(std::string table) : table(std::move(table)) {
    Hooks::objectCreated(ObjectKind::Key);
}
SimKey::~SimKey() {
    Hooks::objectDestroyed(ObjectKind::Key);
}

Status SimKey::setValue(const uint32_t& fieldId, const uint64_t& value) {
    if (Status st = Hooks::intercept(Call::KeySetValue, [&](ArgText& args) {
            args.number("field", fieldId).number("value", value);
        })) {
        return st;
    }
    if (fieldId == 0 || fieldId > schema::kKeyFieldCount || value > schema::kKeyFieldMax) {
        return kInvalidArg;
    }
    fields[fieldId - 1] = value;
    return kSuccess;
}

Status SimKey::getValue(const uint32_t& fieldId, uint64_t* value) const {
    if (Status st = Hooks::intercept(Call::KeyGetValue,
                                     [&](ArgText& args) { args.number("field", fieldId); })) {
        return st;
    }
    if (fieldId == 0 || fieldId > schema::kKeyFieldCount || value == nullptr) {
        return kInvalidArg;
    }
    *value = fields[fieldId - 1];
    return kSuccess;
}

SimData::SimData(std::string table) : table(std::move(table)) {
    Hooks::objectCreated(ObjectKind::Data);
}
SimData::~SimData() {
    Hooks::objectDestroyed(ObjectKind::Data);
}

int SimData::slotOf(uint32_t fieldId) const {
    const schema::ActionInfo* action = schema::actionById(boundActionId);
    if (action == nullptr || !action->hasFields() || fieldId < action->firstDataFieldId ||
        fieldId >= action->firstDataFieldId + schema::kDataFieldCount) {
        return -1;
    }
    return static_cast<int>(fieldId - action->firstDataFieldId);
}

Status SimData::setValue(const uint32_t& fieldId, const uint64_t& value) {
    if (Status st = Hooks::intercept(Call::DataSetValue, [&](ArgText& args) {
            args.number("field", fieldId).number("value", value);
        })) {
        return st;
    }
    int slot = slotOf(fieldId);
    if (slot < 0 || value > schema::actionById(boundActionId)->fields[slot].max) {
        return kInvalidArg;
    }
    fields[slot] = value;
    return kSuccess;
}

Status SimData::getValue(const uint32_t& fieldId, uint64_t* value) const {
    if (Status st = Hooks::intercept(Call::DataGetValue,
                                     [&](ArgText& args) { args.number("field", fieldId); })) {
        return st;
    }
    int slot = slotOf(fieldId);
    if (slot < 0 || value == nullptr) {
        return kInvalidArg;
    }
    *value = fields[slot];
    return kSuccess;
}

Status SimData::actionIdGet(uint32_t* actionId) const {
    if (Status st = Hooks::intercept(Call::DataActionIdGet, [](ArgText&) {})) {
        return st;
    }
    if (actionId == nullptr) {
        return kInvalidArg;
    }
    *actionId = boundActionId;
    return kSuccess;
}

SimAttributes::SimAttributes(bfrt::TableAttributesType type) : type(type) {
    Hooks::objectCreated(ObjectKind::Attributes);
}

SimAttributes::~SimAttributes() {
    Hooks::objectDestroyed(ObjectKind::Attributes);
}

Status SimAttributes::entryScopeParamsSet(const bfrt::TableEntryScope& scope) {
    if (Status st = Hooks::intercept(Call::EntryScopeParamsSet, [&](ArgText& args) {
            args.number("scope", static_cast<uint32_t>(scope));
        })) {
        return st;
    }
    if (type != bfrt::TableAttributesType::EntryScope || static_cast<uint32_t>(scope) > 1) {
        return kInvalidArg;
    }
    this->scope = scope;
    return kSuccess;
}

DeviceObjects& deviceObjects(uint32_t devId) {
    static std::mutex mutex;
    static std::array<DeviceObjects, kMaxDevices> devices;
    if (devId >= kMaxDevices) {
        throw std::invalid_argument("device id " + std::to_string(devId) + " out of range");
    }
    std::lock_guard lock(mutex);
    DeviceObjects& objects = devices[devId];
    if (objects.tableIntf == nullptr) {  // first use; a test may null the table after
        objects.tableIntf = std::make_shared<SimTableIntf>(SimSession::create());
        objects.table = std::make_unique<SimTable>(bfrt::TableType::MatchDirect);
    }
    return objects;
}

}  // namespace Chip
