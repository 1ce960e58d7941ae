#pragma once
// The types that a table library shares with the platform: the SDK's entry
// handle and the common base of match specs.

#include "kiv/Kiv.h"

namespace BfnTable {

// The SDK's handle of an installed entry; 0 stands for no entry.
using BfnSdkEntryHandle = Kiv::U32;

// The base through which the platform (key manager, status manager) holds a
// table's match specs. Match specs are compared by identity, so the base
// carries no fields: the object itself is the key.
class MatchSpecBase : public Kiv::PtrInterface {
    KIV_CLASS(MatchSpecBase)

  public:
    using Ptr = Dorvu::Ptr<MatchSpecBase>;
    using PtrConst = Dorvu::Ptr<const MatchSpecBase>;

  protected:
    MatchSpecBase() = default;
};

}  // namespace BfnTable
