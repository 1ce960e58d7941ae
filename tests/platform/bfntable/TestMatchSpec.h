#pragma once
// A match spec without fields: any two are equal in value, so the key and status
// managers' suites show that matches go by identity.

#include "bfntable/BfnTable.h"

namespace BfnTableTest {

class TestMatchSpec : public BfnTable::MatchSpecBase {
    KIV_CLASS(TestMatchSpec)

  public:
    using PtrConst = Dorvu::Ptr<const TestMatchSpec>;

    static PtrConst TestMatchSpecIs() { return Kiv::create<TestMatchSpec>(); }
    ~TestMatchSpec() override { notificationIs(false); }
};

inline Kiv::MemAllocationTracker TestMatchSpec::memAllocationTracker_{
    "BfnTableTest::TestMatchSpec"};
inline const Kiv::TypeInfo& TestMatchSpec::kivTypeInfo() {
    static const Kiv::TypeInfo type{
        "BfnTableTest::TestMatchSpec", &BfnTable::MatchSpecBase::kivTypeInfo(), {}, {}};
    return type;
}

}  // namespace BfnTableTest
