#pragma once
// The types that a table library shares with the platform: the SDK's entry
// handle and the common base of match specs.

#include "kiv/Kiv.h"

namespace BfnTable {

// The SDK's handle of an installed entry; 0 stands for no entry.
using BfnSdkEntryHandle = Kiv::U32;

// What the status manager shows about an installed entry: how often the
// table touched it, and the manager's resync count at the last touch.
struct EntryStatus {
    Kiv::U64 touches = 0;
    Kiv::U64 epoch = 0;
};

class MatchSpecBase;

// A table's handle map's record of a match, kept in the match object: the
// map that holds the slot and the handle it stores there, and how many other
// maps hold the match in their own storage.
struct MatchHandleSlot {
    const void* owner = nullptr;
    BfnSdkEntryHandle handle = 0;
    Kiv::U32 elsewhere = 0;
};

// A key manager's binding of a match, kept in the match object.
struct MatchKeySlot {
    const void* owner = nullptr;  // the key manager, null when unbound
    Kiv::U64 key = 0;
};

// A status manager's record of a match, kept in the match object. The
// manager links the matches it holds, so that it can let them go.
struct MatchStatusSlot {
    const void* owner = nullptr;  // the status manager, null when none
    EntryStatus status;
    const MatchSpecBase* prev = nullptr;
    const MatchSpecBase* next = nullptr;
};

// The base through which the platform (key manager, status manager) holds a
// table's match specs. Match specs are compared by identity: the object
// itself is the key. It carries one handle map's, one key manager's and one
// status manager's record, so that programming an entry touches the match it
// already holds rather than a map of each; a second map or manager holding
// the same match keeps it in storage of its own.
class MatchSpecBase : public Kiv::PtrInterface {
    KIV_CLASS(MatchSpecBase)

  public:
    using Ptr = Dorvu::Ptr<MatchSpecBase>;
    using PtrConst = Dorvu::Ptr<const MatchSpecBase>;

    // Bookkeeping of the maps and managers, not part of the match's value.
    MatchHandleSlot& handleSlot() const noexcept { return handleSlot_; }
    MatchKeySlot& keySlot() const noexcept { return keySlot_; }
    MatchStatusSlot& statusSlot() const noexcept { return statusSlot_; }

  protected:
    MatchSpecBase() = default;

  private:
    mutable MatchHandleSlot handleSlot_;
    mutable MatchKeySlot keySlot_;
    mutable MatchStatusSlot statusSlot_;
};

}  // namespace BfnTable
