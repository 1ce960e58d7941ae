#include "BfnTable.h"

namespace BfnTable {

Kiv::MemAllocationTracker MatchSpecBase::memAllocationTracker_{"BfnTable::MatchSpecBase"};

const Kiv::TypeInfo& MatchSpecBase::kivTypeInfo() {
    static const Kiv::TypeInfo type{
        "BfnTable::MatchSpecBase", &Kiv::PtrInterface::kivTypeInfo(), {}, {}};
    return type;
}

}  // namespace BfnTable
