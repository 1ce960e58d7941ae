#pragma once
// One device and pipe as the agent drives it: the PD library (over a
// simulator, the chip must exist; only create() makes one), the key manager
// and the status manager, the table library, and the table, which the
// exported factory builds on first use, resyncing from the key records.
//
// Members are declared so that everything holding objects of the table
// library goes before the library itself is closed.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "EntryBook.h"
#include "Options.h"
#include "SdkView.h"
#include "SharedLibrary.h"
#include "TableLibrary.h"
#include "TableSchema.h"
#include "sdk/SimControl.h"
#include "shm/WriterLock.h"

namespace NatAgent {

struct LibraryPaths {
    std::string table;
    std::string pd;
};
LibraryPaths libraryPaths(const DeviceOptions& options);

// The simulator's control that `pdLibrary` offers, or null for a PD library
// over hardware.
SimControl::Control* simControlOf(const SharedLibrary& pdLibrary);
// The same, for `what`, which needs it: throws AgentError saying why when the
// PD library offers none.
SimControl::Control& simControlFor(const SharedLibrary& pdLibrary, const std::string& what);

// The writer lock of the options' device and pipe, waited for up to
// options.waitSeconds; AgentError naming the holder's pid when it stays taken.
Shm::WriterLock lockWriter(const DeviceOptions& options);

class AgentDevice {
  public:
    // The SDK session the agent passes to the table and the PD functions.
    static constexpr Kiv::U32 kSessionId = 1;

    // Throws AgentError when the chip does not exist, or a library, the chip
    // or the key records cannot be set up. With options.writes, holds the
    // writer lock from before the key records are opened until the end
    // (unless the caller holds it already: options.lockHeld). Without, it
    // works on a private snapshot of the key records and takes no lock.
    explicit AgentDevice(const DeviceOptions& options);

    // Whether the chip of the options' device exists; looking creates
    // nothing. Without the simulator's control (an SDK over hardware) it does.
    static bool exists(const SharedLibrary& pdLibrary, const DeviceOptions& options);
    // Creates the chip with `options.capacity` entries through the simulator's
    // control; AgentError when it exists already, cannot be created, or the
    // PD library runs over no simulator.
    static void create(const SharedLibrary& pdLibrary, const DeviceOptions& options);
    // "device N does not exist; create it with ...", for every command but init.
    static std::string missingText(const DeviceOptions& options);
    // Removes the key records of the options' device and pipe; the chip stays.
    static void clearKeyRecords(const DeviceOptions& options);
    ~AgentDevice();
    AgentDevice(const AgentDevice&) = delete;
    AgentDevice& operator=(const AgentDevice&) = delete;

    Kiv::U8 deviceId() const noexcept { return static_cast<Kiv::U8>(options_.device); }
    Kiv::U16 pipe() const noexcept { return static_cast<Kiv::U16>(options_.pipe); }
    std::string pipeText() const;
    // The simulator's control, or null when the PD library runs over no simulator.
    SimControl::Control* simControl() const noexcept { return simControl_; }
    // The control, for `what` that needs it; throws AgentError saying why when
    // the PD library offers none.
    SimControl::Control& simControlFor(const std::string& what) const {
        return NatAgent::simControlFor(pdLibrary_, what);
    }
    const SdkView& sdk() const noexcept { return sdk_; }
    // The chip's capacity and entries of all scopes, which only the
    // simulator's control tells; empty without it.
    std::optional<SimControl::DeviceInfo> chipInfo() const;
    // The chip records that the simulator found damaged; empty without its control.
    std::vector<SimControl::BadRecord> badChipRecords() const;
    KeyManager& keys() noexcept { return *keys_; }
    StatusManager& status() noexcept { return *status_; }
    const SharedLibrary& pdLibrary() const noexcept { return pdLibrary_; }

    // Gives a chip entry that no key record names a record of its own, so
    // that the table's resync takes it over; call before table().
    void adoptChipEntry(Kiv::U32 handle);

    // The table, built by the factory on first use; throws AgentError when
    // the factory fails.
    Table& table();
    bool hasTable() const noexcept { return static_cast<bool>(table_); }
    // "BfRt" or "PD": what the table library chose from the PD library.
    std::string backendName();
    // Key records the resync dropped because their entry could not be read back.
    Kiv::U64 recordsDroppedByResync() const noexcept { return recordsDropped_; }
    // Valid once the table exists.
    EntryBook& book() noexcept { return book_; }
    const TableSchema& schema();

  private:
    void checkBackend();

    DeviceOptions options_;
    SharedLibrary pdLibrary_;
    SimControl::Control* simControl_;
    std::optional<Shm::WriterLock> writer_;
    SdkView sdk_;
    TableLibrary tableLibrary_;
    KeyManager::Ptr keys_;
    StatusManager::Ptr status_;
    std::unique_ptr<TableSchema> schema_;
    Table::Ptr table_;
    EntryBook book_;
    Kiv::U64 recordsDropped_ = 0;
};

// The device of a command after which the process ends. It is never torn
// down: the process's exit gives its memory back at once, where a teardown
// would release the objects of every entry one by one. Sanitizer builds do
// tear it down at exit, so that they still see every leak.
AgentDevice& deviceUntilExit(const DeviceOptions& options);

}  // namespace NatAgent
