#pragma once
// The key manager's record of one table entry, as requests on the table
// config hand it out, and the hint that carries a walk from one record to
// the next.

#include "kiv/Kiv.h"

namespace Zabro {

class MbbZabroTableConfig;

namespace MbbPostcodef {

// A key the key manager gave an entry; never 0 for a record of the table config.
using EntryKey = Kiv::U64;
// The table config's sequence number of the write that last changed a record.
using OpId = Kiv::U64;

class EntryConfig {
  public:
    // The table has recorded the entry's SDK handle (a handle of 0 is then a real one).
    static constexpr Kiv::U32 kFlagHandleSet = 1u << 0;

    EntryConfig(EntryKey key, OpId opId, Kiv::U32 sdkEntryHandle, Kiv::U32 flags,
                Kiv::U32 generation) noexcept
        : key_(key),
          opId_(opId),
          sdkEntryHandle_(sdkEntryHandle),
          flags_(flags),
          generation_(generation) {}

    EntryKey key() const noexcept { return key_; }
    OpId opId() const noexcept { return opId_; }
    Kiv::U32 sdkEntryHandle() const noexcept { return sdkEntryHandle_; }
    Kiv::U32 flags() const noexcept { return flags_; }
    // How many times the key's slot has been allocated; tells a reused key from its predecessor.
    Kiv::U32 generation() const noexcept { return generation_; }
    bool handleSet() const noexcept { return flags_ & kFlagHandleSet; }

    bool operator==(const EntryConfig&) const = default;

  private:
    EntryKey key_;
    OpId opId_;
    Kiv::U32 sdkEntryHandle_;
    Kiv::U32 flags_;
    Kiv::U32 generation_;
};

}  // namespace MbbPostcodef

// Where a walk stands: the map and slot of the record handed out last. A
// following-record request that names that record's key resumes right after
// it; any other key (or a fresh hint) is located from the key itself.
class IterHint {
  public:
    IterHint() = default;

  private:
    friend class MbbZabroTableConfig;
    const void* map_ = nullptr;
    Kiv::U64 slot_ = 0;
    MbbPostcodef::EntryKey key_ = 0;
};

}  // namespace Zabro
