// Sessions, key, data and attributes objects of the object runtime, and the objects
// of each device.
#include <array>
#include <atomic>
#include <mutex>
#include <stdexcept>

#include "BfRtSchema.h"
#include "ChipIntercept.h"
#include "ChipRegistry.h"
#include "bfrt.h"

namespace bfrt {

using Chip::Call;
using Chip::Hooks::ArgText;
using Chip::Hooks::ObjectKind;

std::shared_ptr<BfRtSession> BfRtSession::sessionCreate() {
    static std::atomic<uint32_t> nextHandle{1};
    return std::shared_ptr<BfRtSession>(new BfRtSession(nextHandle.fetch_add(1)));
}

BfRtTableKey::BfRtTableKey() {
    Chip::Hooks::objectCreated(ObjectKind::Key);
}
BfRtTableKey::~BfRtTableKey() {
    Chip::Hooks::objectDestroyed(ObjectKind::Key);
}

Status BfRtTableKey::setValue(const uint32_t& fieldId, const uint64_t& value) {
    if (Status st = Chip::Hooks::intercept(Call::KeySetValue, [&](ArgText& args) {
            args.number("field", fieldId).number("value", value);
        })) {
        return st;
    }
    if (fieldId == 0 || fieldId > schema::kKeyFieldCount || value > schema::kKeyFieldMax) {
        return Chip::kInvalidArg;
    }
    fields_[fieldId - 1] = value;
    return Chip::kSuccess;
}

Status BfRtTableKey::getValue(const uint32_t& fieldId, uint64_t* value) const {
    if (Status st = Chip::Hooks::intercept(Call::KeyGetValue,
                                           [&](ArgText& args) { args.number("field", fieldId); })) {
        return st;
    }
    if (fieldId == 0 || fieldId > schema::kKeyFieldCount || value == nullptr) {
        return Chip::kInvalidArg;
    }
    *value = fields_[fieldId - 1];
    return Chip::kSuccess;
}

BfRtTableData::BfRtTableData() {
    Chip::Hooks::objectCreated(ObjectKind::Data);
}
BfRtTableData::~BfRtTableData() {
    Chip::Hooks::objectDestroyed(ObjectKind::Data);
}

int BfRtTableData::slotOf(uint32_t fieldId) const {
    const schema::ActionInfo* action = schema::actionById(actionId_);
    if (action == nullptr || !action->hasFields() || fieldId < action->firstDataFieldId ||
        fieldId >= action->firstDataFieldId + schema::kDataFieldCount) {
        return -1;
    }
    return static_cast<int>(fieldId - action->firstDataFieldId);
}

Status BfRtTableData::setValue(const uint32_t& fieldId, const uint64_t& value) {
    if (Status st = Chip::Hooks::intercept(Call::DataSetValue, [&](ArgText& args) {
            args.number("field", fieldId).number("value", value);
        })) {
        return st;
    }
    int slot = slotOf(fieldId);
    if (slot < 0 || value > schema::actionById(actionId_)->fields[slot].max) {
        return Chip::kInvalidArg;
    }
    fields_[slot] = value;
    return Chip::kSuccess;
}

Status BfRtTableData::getValue(const uint32_t& fieldId, uint64_t* value) const {
    if (Status st = Chip::Hooks::intercept(Call::DataGetValue,
                                           [&](ArgText& args) { args.number("field", fieldId); })) {
        return st;
    }
    int slot = slotOf(fieldId);
    if (slot < 0 || value == nullptr) {
        return Chip::kInvalidArg;
    }
    *value = fields_[slot];
    return Chip::kSuccess;
}

Status BfRtTableData::actionIdGet(uint32_t* actionId) const {
    if (Status st = Chip::Hooks::intercept(Call::DataActionIdGet, [](ArgText&) {})) {
        return st;
    }
    if (actionId == nullptr) {
        return Chip::kInvalidArg;
    }
    *actionId = actionId_;
    return Chip::kSuccess;
}

BfRtTableAttributes::BfRtTableAttributes(TableAttributesType type) : type_(type) {
    Chip::Hooks::objectCreated(ObjectKind::Attributes);
}

BfRtTableAttributes::~BfRtTableAttributes() {
    Chip::Hooks::objectDestroyed(ObjectKind::Attributes);
}

Status BfRtTableAttributes::entryScopeParamsSet(const TableEntryScope& scope) {
    if (Status st = Chip::Hooks::intercept(Call::EntryScopeParamsSet, [&](ArgText& args) {
            args.number("scope", static_cast<uint32_t>(scope));
        })) {
        return st;
    }
    if (type_ != TableAttributesType::EntryScope || static_cast<uint32_t>(scope) > 1) {
        return Chip::kInvalidArg;
    }
    scope_ = scope;
    return Chip::kSuccess;
}

DeviceObjects& deviceObjects(uint32_t devId) {
    static std::mutex mutex;
    static std::array<DeviceObjects, Chip::kMaxDevices> devices;
    if (devId >= Chip::kMaxDevices) {
        throw std::invalid_argument("device id " + std::to_string(devId) + " out of range");
    }
    std::lock_guard lock(mutex);
    DeviceObjects& objects = devices[devId];
    if (objects.table == nullptr) {
        objects.tableIntf = std::make_shared<BfRt::BfRtTableIntf>(BfRtSession::sessionCreate());
        objects.table = std::make_unique<OlvaneBfRtTable>(TableType::MatchDirect);
    }
    return objects;
}

}  // namespace bfrt
