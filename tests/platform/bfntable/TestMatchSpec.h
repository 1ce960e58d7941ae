#pragma once
// A match spec with one value field: two equal objects show that the key and status
// managers go by identity, not value.

#include "bfntable/BfnTable.h"

namespace BfnTableTest {

class TestMatchSpec : public BfnTable::MatchSpecBase {
    KIV_CLASS(TestMatchSpec)

  public:
    using Ptr = Dorvu::Ptr<TestMatchSpec>;
    using PtrConst = Dorvu::Ptr<const TestMatchSpec>;

    static PtrConst TestMatchSpecIs(Kiv::U32 value) { return Kiv::create<TestMatchSpec>(value); }
    explicit TestMatchSpec(Kiv::U32 value) : value_(value) {}
    ~TestMatchSpec() override { notificationIs(false); }

    Kiv::U32 value() const noexcept { return value_; }

  private:
    Kiv::U32 value_;
};

inline Kiv::MemAllocationTracker TestMatchSpec::memAllocationTracker_{
    "BfnTableTest::TestMatchSpec"};
inline const Kiv::TypeInfo& TestMatchSpec::kivTypeInfo() {
    static const Kiv::TypeInfo type{"BfnTableTest::TestMatchSpec",
                                    &BfnTable::MatchSpecBase::kivTypeInfo(),
                                    {Kiv::readOnlyAttribute<&TestMatchSpec::value>("value")},
                                    {}};
    return type;
}

}  // namespace BfnTableTest
