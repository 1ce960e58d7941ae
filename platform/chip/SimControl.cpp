// The simulator's control entry point, exported by both PD libraries: what tools and
// tests need of the chip beyond the SDK's own calls.
#include "sdk/SimControl.h"

#include <exception>
#include <stdexcept>

#include "ChipRegistry.h"
#include "ChipTestHooks.h"

namespace Chip {

namespace {

bool isOneOf(Call call, std::initializer_list<Call> calls) {
    for (Call c : calls) {
        if (c == call) {
            return true;
        }
    }
    return false;
}

SimControl::CallCounts classify(const TestHooks::CallCounts& byCall) {
    SimControl::CallCounts counts;
    for (std::size_t i = 0; i < byCall.size(); ++i) {
        const auto call = static_cast<Call>(i);
        uint64_t& bucket =
            isOneOf(call, {Call::PdAddOnMiss, Call::PdAddHit, Call::PdAddHitDynamic,
                           Call::PdAddHitEcmp, Call::PdAddHitEcmpDynamic, Call::TableEntryAdd})
                ? counts.adds
            : isOneOf(call,
                      {Call::PdModOnMiss, Call::PdModHit, Call::PdModHitDynamic, Call::PdModHitEcmp,
                       Call::PdModHitEcmpDynamic, Call::PdDefOnMiss, Call::PdDefHit,
                       Call::PdDefHitDynamic, Call::PdDefHitEcmp, Call::PdDefHitEcmpDynamic,
                       Call::TableEntryMod, Call::TableDefaultEntrySet})
                ? counts.modifies
            : isOneOf(call, {Call::PdDelete, Call::PdResetDefault, Call::TableEntryDel,
                             Call::TableDefaultEntryReset})
                ? counts.deletes
            : isOneOf(call, {Call::PdGetEntry, Call::TableEntryGet}) ? counts.reads
                                                                     : counts.other;
        bucket += byCall[i];
    }
    return counts;
}

class Control final : public SimControl::Control {
  public:
    std::string deviceOpen(uint32_t deviceId, uint32_t capacity) override {
        try {
            open(deviceId, capacity);
            return {};
        } catch (const std::exception& e) {
            return e.what();
        }
    }

    bool deviceExists(uint32_t deviceId) override { return exists(deviceId); }

    Status deviceInfo(uint32_t deviceId, SimControl::DeviceInfo* info) override {
        Device* device = nullptr;
        if (info == nullptr) {
            return kInvalidArg;
        }
        if (Status st = Chip::device(deviceId, &device)) {
            return st;
        }
        *info = {device->capacity(), device->entryCount()};
        return kSuccess;
    }

    std::string deviceWipe(uint32_t deviceId) override {
        wipe(deviceId);
        return segmentName(deviceId);
    }

    std::vector<SimControl::BadRecord> badRecords(uint32_t deviceId) override {
        std::vector<SimControl::BadRecord> out;
        Device* device = nullptr;
        if (Chip::device(deviceId, &device) == kSuccess) {
            for (const BadRecord& bad : device->badRecords()) {
                out.push_back({bad.index, badReasonText(bad.reason)});
            }
        }
        return out;
    }

    Status badRecordClear(uint32_t deviceId, uint32_t index) override {
        Device* device = nullptr;
        if (Status st = Chip::device(deviceId, &device)) {
            return st;
        }
        return device->badRecordClear(index);
    }

    void callCountingIs(bool on) override { TestHooks::callCountingEnable(on); }
    SimControl::CallCounts callCounts() const override { return classify(TestHooks::callCounts()); }

    bool faultIs(const std::string& function, uint32_t count, Status status) override {
        try {
            TestHooks::faultIs(function, count, status);
            return true;
        } catch (const std::invalid_argument&) {
            return false;
        }
    }
};

}  // namespace

}  // namespace Chip

extern "C" SimControl::Control* olvane_switch_sim_control() {
    static Chip::Control control;
    return &control;
}
