#pragma once
// One device and pipe as the agent drives it: the chip (which must exist;
// only create() makes one), the key manager and the status
// manager, the PD library and the table library, and the table, which the
// exported factory builds on first use, resyncing from the key records.
//
// Members are declared so that everything holding objects of the table
// library goes before the library itself is closed.

#include <cstdint>
#include <memory>
#include <string>

#include "EntryBook.h"
#include "Options.h"
#include "SharedLibrary.h"
#include "TableLibrary.h"
#include "TableSchema.h"
#include "chip/ChipDevice.h"

namespace NatAgent {

struct LibraryPaths {
    std::string table;
    std::string pd;
};
LibraryPaths libraryPaths(const DeviceOptions& options);

class AgentDevice {
  public:
    // The SDK session the agent passes to the table; the chip takes any.
    static constexpr Kiv::U32 kSessionId = 1;

    // Throws AgentError when the chip does not exist, or the chip, the key
    // records or a library cannot be set up.
    explicit AgentDevice(const DeviceOptions& options);

    // Whether the chip of `device` exists; looking creates nothing.
    static bool exists(unsigned device);
    // Creates the chip with `options.capacity` entries; AgentError when it
    // exists already or cannot be created.
    static void create(const DeviceOptions& options);
    // Removes the key records of the options' device and pipe; the chip stays.
    static void clearKeyRecords(const DeviceOptions& options);
    ~AgentDevice();
    AgentDevice(const AgentDevice&) = delete;
    AgentDevice& operator=(const AgentDevice&) = delete;

    Kiv::U8 deviceId() const noexcept { return static_cast<Kiv::U8>(options_.device); }
    Kiv::U16 pipe() const noexcept { return static_cast<Kiv::U16>(options_.pipe); }
    std::string pipeText() const;
    Chip::Device& chip() noexcept { return *chip_; }
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
    TableLibrary tableLibrary_;
    Chip::Device* chip_;
    KeyManager::Ptr keys_;
    StatusManager::Ptr status_;
    std::unique_ptr<TableSchema> schema_;
    Table::Ptr table_;
    EntryBook book_;
    Kiv::U64 recordsDropped_ = 0;
};

}  // namespace NatAgent
