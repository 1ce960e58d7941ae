#include "BfnTable.h"

namespace BfnTable {

Kiv::MemAllocationTracker MatchSpecBase::memAllocationTracker_{"BfnTable::MatchSpecBase"};

const Kiv::TypeInfo& MatchSpecBase::kivTypeInfo() {
    static const Kiv::TypeInfo type{
        "BfnTable::MatchSpecBase", &Kiv::PtrInterface::kivTypeInfo(), {}, {}};
    return type;
}

// Registered when the library is loaded, so generic code finds the type by name.
namespace {
const Kiv::TypeRegistration registration{&MatchSpecBase::kivTypeInfo};
}

}  // namespace BfnTable
