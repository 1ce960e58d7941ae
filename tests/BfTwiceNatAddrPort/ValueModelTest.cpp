// Spec classes (creation, defaults, attributes in declaration order) and the
// identity rules of entries.

#include <functional>

#include "TableTestSupport.h"

namespace TableTest {
namespace {

using Bf::TwiceNatAddrPortTableEntry;

struct SpecClass {
    const char* name;
    std::function<Kiv::PtrInterface::Ptr()> classIs;
    std::function<Kiv::PtrInterface::Ptr()> factory;
    const Kiv::TypeInfo& type;
    Kiv::MemAllocationTracker& tracker;
    int actionType;                // -1 for the match spec
    std::vector<std::string> own;  // attributes after those of the base class
};
void PrintTo(const SpecClass& c, std::ostream* out) {
    *out << c.name;
}

// Both creation functions of a class: the class-level one named after the
// class, the namespace-level one with a lower-case initial.
// clang-format off
#define SPEC_CLASS(Class, factory, actionType, ...)                                   \
    SpecClass{#Class, [] { return Kiv::PtrInterface::Ptr(Bf::Class::Class##Is()); },   \
              [] { return Kiv::PtrInterface::Ptr(Bf::factory()); }, Bf::Class::kivTypeInfo(), \
              Bf::Class::memAllocationTracker_, actionType, __VA_ARGS__}
// clang-format on

const std::vector<SpecClass>& specClasses() {
    static const std::vector<SpecClass> classes = {
        SPEC_CLASS(TwiceNatAddrPortMatchSpec, twiceNatAddrPortMatchSpecFactory, -1,
                   {"ingMdNatKeyId", "l4PortHdrDstPort", "l4PortHdrSrcPort"}),
        SPEC_CLASS(TwiceNatAddrPortBaseActionSpec, twiceNatAddrPortBaseActionSpecFactory, 0, {}),
        SPEC_CLASS(OnMissActionSpec, onMissActionSpecFactory, 0, {}),
        SPEC_CLASS(TwiceNatAddrPortHitActionSpec, twiceNatAddrPortHitActionSpecFactory, 1,
                   {"nextHop"}),
        SPEC_CLASS(TwiceNatAddrPortHitDynamicActionSpec,
                   twiceNatAddrPortHitDynamicActionSpecFactory, 2, {"nextHop"}),
        SPEC_CLASS(TwiceNatAddrPortHitEcmpActionSpec, twiceNatAddrPortHitEcmpActionSpecFactory, 3,
                   {"ecmpGroup"}),
        SPEC_CLASS(TwiceNatAddrPortHitEcmpDynamicActionSpec,
                   twiceNatAddrPortHitEcmpDynamicActionSpecFactory, 4, {"ecmpGroup"}),
    };
    return classes;
}
#undef SPEC_CLASS

class SpecClassTest : public TestSupport::LeakCheck,
                      public ::testing::WithParamInterface<SpecClass> {};

INSTANTIATE_TEST_SUITE_P(AllClasses, SpecClassTest, ::testing::ValuesIn(specClasses()),
                         ::testing::PrintToStringParamName());

TEST_P(SpecClassTest, CreatesTrackedObjectsWithDefaultsAndAttributesInDeclarationOrder) {
    const SpecClass& c = GetParam();
    std::vector<std::string> expected;
    if (c.actionType >= 0)
        expected = {"actionType", "prot", "rwId"};
    expected.insert(expected.end(), c.own.begin(), c.own.end());
    std::vector<std::string> names;
    for (const Kiv::AttributeInfo* a : c.type.attributes()) names.emplace_back(a->name);
    EXPECT_EQ(names, expected);

    for (const auto& create : {c.classIs, c.factory}) {
        const U64 before = c.tracker.liveObjects();
        Kiv::PtrInterface::Ptr spec = create();
        EXPECT_EQ(c.tracker.liveObjects(), before + 1);
        EXPECT_EQ(&spec->kivType(), &c.type);
        EXPECT_TRUE(spec->notification());
        for (const std::string& name : expected) {
            const U64 initial = name == "actionType" ? c.actionType : 0;
            EXPECT_EQ(Kiv::genericGet(*spec, name), Kiv::Value(initial)) << name;
        }
        U64 value = 1;
        for (const std::string& name : expected) Kiv::genericSet(*spec, name, U64{value++});
        value = 1;
        for (const std::string& name : expected)
            EXPECT_EQ(Kiv::genericGet(*spec, name), Kiv::Value(U64{value++})) << name;
        spec = nullptr;
        EXPECT_EQ(c.tracker.liveObjects(), before);
    }
}

TEST(ValueModelTest, GenericWritesReachTheTypedFieldsOfTheMatchSpec) {
    auto match = Bf::twiceNatAddrPortMatchSpecFactory();
    Kiv::genericSet(*match, "ingMdNatKeyId", U64{1});
    Kiv::genericSet(*match, "l4PortHdrDstPort", U64{2});
    Kiv::genericSetStrep(*match, "l4PortHdrSrcPort", "0x3");
    EXPECT_EQ(describe(entryOf(match, actionOf(kOnMiss))), described(1, 3, 2, 0));
    EXPECT_THROW(Kiv::genericSet(*match, "ingMdNatKeyId", U64{0x10000}), Kiv::AttributeException);
}

class EntryTest : public TestSupport::LeakCheck {};

TEST_F(EntryTest, EntriesAreEqualExactlyWhenTheyHoldTheSameObjectsAndNeverHashable) {
    const TwiceNatAddrPortTableEntry empty;
    EXPECT_TRUE(empty.isDefaultValue());
    EXPECT_TRUE(empty == TwiceNatAddrPortTableEntry());
    EXPECT_FALSE(TwiceNatAddrPortTableEntry(matchOf(1, 2, 3)).isDefaultValue());
    TwiceNatAddrPortTableEntry actionOnly;
    actionOnly.actionIs(actionOf(kOnMiss));
    EXPECT_FALSE(actionOnly.isDefaultValue());
    EXPECT_THROW((void)empty.hash(), Kiv::UnhashableTypeException);
    EXPECT_THROW((void)actionOnly.hash(), Kiv::UnhashableTypeException);

    const auto match = matchOf(1, 2, 3);
    const auto action = actionOf(kHit, 4, 5, 6);
    const TwiceNatAddrPortTableEntry entry = entryOf(match, action);
    EXPECT_EQ(match->references(), 2u);  // the entry holds both objects
    EXPECT_EQ(action->references(), 2u);
    EXPECT_TRUE(entry.isEq(entryOf(match, action)));
    EXPECT_FALSE(entry == entryOf(match, actionOf(kHit, 4, 5, 6)));
    EXPECT_FALSE(entry == entryOf(matchOf(1, 2, 3), action));
}

}  // namespace
}  // namespace TableTest
