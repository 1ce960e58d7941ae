// Control of a simulated chip, for the tools and tests that run over a simulator
// rather than hardware: create and wipe a device, count the calls made to it, make
// chosen calls fail. A PD library over a simulator offers it through the C entry point
// olvane_switch_sim_control(); a PD library over hardware has no such entry point, and
// its users go without what needs it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "SdkStatus.h"

namespace SimControl {

// Calls made to the SDK, by what they do to the table's entries.
struct CallCounts {
    uint64_t adds = 0;
    uint64_t modifies = 0;  // default-entry sets included
    uint64_t deletes = 0;   // default-entry resets included
    uint64_t reads = 0;     // entry reads
    uint64_t other = 0;     // key and data objects, table setup, listing

    uint64_t writes() const { return adds + modifies + deletes; }
};

struct DeviceInfo {
    uint32_t capacity = 0;    // entries the device's table holds
    uint32_t entryCount = 0;  // entries installed, all scopes, default entries excluded
};

// A record that the device found damaged when it was opened; it stays out of use
// (its key can be added anew) until it is cleared.
struct BadRecord {
    uint32_t index = 0;
    std::string reason;
};

// Lives as long as the PD library that hands it out.
class Control {
  public:
    // Opens the device, creating it with room for `capacity` entries when it does not
    // exist; an existing device keeps its own capacity. Empty on success, else why not.
    virtual std::string deviceOpen(uint32_t deviceId, uint32_t capacity) = 0;
    // Whether the device exists; asking creates nothing.
    virtual bool deviceExists(uint32_t deviceId) = 0;
    // kInvalidArg for a device id out of range, kInitError for a device that cannot be
    // opened.
    virtual SdkStatus::Status deviceInfo(uint32_t deviceId, DeviceInfo* info) = 0;
    // Removes the device and everything in it; the next user finds it blank. Returns
    // what was removed, for the user to see.
    virtual std::string deviceWipe(uint32_t deviceId) = 0;

    // The device's bad records, in record order; empty for a device that cannot be opened.
    virtual std::vector<BadRecord> badRecords(uint32_t deviceId) = 0;
    // Frees a bad entry record or resets a bad default record to the miss action.
    // kObjectNotFound when `index` is not a bad record of the device.
    virtual SdkStatus::Status badRecordClear(uint32_t deviceId, uint32_t index) = 0;

    // Turning counting on starts from zero.
    virtual void callCountingIs(bool on) = 0;
    virtual CallCounts callCounts() const = 0;

    // The next `count` calls of `function` (its C name, or "OlvaneBfRtTable::<call>"
    // and the like) return `status`. False for a name that is no call of the SDK or a
    // status of 0.
    virtual bool faultIs(const std::string& function, uint32_t count, SdkStatus::Status status) = 0;

  protected:
    ~Control() = default;
};

}  // namespace SimControl

#define OLVANE_SWITCH_SIM_CONTROL_SYMBOL "olvane_switch_sim_control"
extern "C" {
typedef SimControl::Control* (*olvane_switch_sim_control_fn)(void);
}
