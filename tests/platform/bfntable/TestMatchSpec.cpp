#include "TestMatchSpec.h"

namespace BfnTableTest {

Kiv::MemAllocationTracker TestMatchSpec::memAllocationTracker_{"BfnTableTest::TestMatchSpec"};

const Kiv::TypeInfo& TestMatchSpec::kivTypeInfo() {
    static const Kiv::TypeInfo type{"BfnTableTest::TestMatchSpec",
                                    &BfnTable::MatchSpecBase::kivTypeInfo(),
                                    {Kiv::readOnlyAttribute<&TestMatchSpec::value>("value")},
                                    {}};
    return type;
}

TestMatchSpec::PtrConst TestMatchSpec::TestMatchSpecIs(Kiv::U32 value) {
    return Kiv::create<TestMatchSpec>(value);
}

}  // namespace BfnTableTest
