// Defaults, action types, attributes in declaration order, creation
// through the tracked allocator, and the identity rules of specs and entries.

#include <functional>
#include <tuple>

#include "TableTestSupport.h"

namespace TableTest {
namespace {

using Bf::TwiceNatAddrPortTableEntry;

std::vector<std::string> attributeNames(const Kiv::TypeInfo& type) {
    std::vector<std::string> names;
    for (const Kiv::AttributeInfo* a : type.attributes()) names.emplace_back(a->name);
    return names;
}

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

// Both creation functions of a class, its type and tracker; the class-level
// one is named after the class, the namespace-level one with a lower-case initial.
// clang-format off
#define SPEC_CLASS(Class, factory, actionType, ...)                              \
    SpecClass{#Class,                                                            \
              [] { return Kiv::PtrInterface::Ptr(Bf::Class::Class##Is()); },     \
              [] { return Kiv::PtrInterface::Ptr(Bf::factory()); },              \
              Bf::Class::kivTypeInfo(), Bf::Class::memAllocationTracker_,        \
              actionType, __VA_ARGS__}
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
                         [](const auto& info) { return std::string(info.param.name); });

TEST_P(SpecClassTest, BothCreationFunctionsBookTheClassTrackerAndGiveDefaults) {
    const SpecClass& c = GetParam();
    for (const auto& create : {c.classIs, c.factory}) {
        const Kiv::U64 before = c.tracker.liveObjects();
        Kiv::PtrInterface::Ptr spec = create();
        EXPECT_EQ(c.tracker.liveObjects(), before + 1);
        EXPECT_EQ(&spec->kivType(), &c.type);
        EXPECT_TRUE(spec->notification());
        for (const Kiv::AttributeInfo* a : c.type.attributes()) {
            if (std::string_view(a->name) != "actionType") {
                EXPECT_EQ(Kiv::genericGet(*spec, a->name), Kiv::Value(Kiv::U64{0})) << a->name;
            }
        }
        if (c.actionType >= 0) {
            EXPECT_EQ(Kiv::genericGet(*spec, "actionType"), Kiv::Value(Kiv::U64(c.actionType)));
        }
        spec = nullptr;
        EXPECT_EQ(c.tracker.liveObjects(), before);
    }
}

TEST_P(SpecClassTest, AttributesAreRegisteredInDeclarationOrderAndWritable) {
    const SpecClass& c = GetParam();
    std::vector<std::string> expected;
    if (c.actionType >= 0)
        expected = {"actionType", "prot", "rwId"};
    expected.insert(expected.end(), c.own.begin(), c.own.end());
    EXPECT_EQ(attributeNames(c.type), expected);

    Kiv::PtrInterface::Ptr spec = c.classIs();
    Kiv::U64 value = 1;
    for (const std::string& name : expected) Kiv::genericSet(*spec, name, Kiv::U64{value++});
    value = 1;
    for (const std::string& name : expected)
        EXPECT_EQ(Kiv::genericGet(*spec, name), Kiv::Value(Kiv::U64{value++})) << name;
}

TEST(ValueModelTest, GenericWritesReachTheTypedFieldsOfTheMatchSpec) {
    auto match = Bf::twiceNatAddrPortMatchSpecFactory();
    Kiv::genericSet(*match, "ingMdNatKeyId", Kiv::U64{1});
    Kiv::genericSet(*match, "l4PortHdrDstPort", Kiv::U64{2});
    Kiv::genericSetStrep(*match, "l4PortHdrSrcPort", "0x3");
    EXPECT_EQ(
        std::tuple(match->ingMdNatKeyId(), match->l4PortHdrDstPort(), match->l4PortHdrSrcPort()),
        std::tuple(1, 2, 3));
    EXPECT_THROW(Kiv::genericSet(*match, "ingMdNatKeyId", Kiv::U64{0x10000}),
                 Kiv::AttributeException);
}

class EntryTest : public TestSupport::LeakCheck {};

TEST_F(EntryTest, DefaultConstructedEntryIsTheEmptyDefaultValueAndUnhashable) {
    const TwiceNatAddrPortTableEntry empty;
    EXPECT_FALSE(empty.match() || empty.action());
    EXPECT_TRUE(empty.isDefaultValue());
    EXPECT_FALSE(TwiceNatAddrPortTableEntry(matchOf(1, 2, 3)).isDefaultValue());
    TwiceNatAddrPortTableEntry actionOnly;
    actionOnly.actionIs(actionOf(Bf::onMissActionSpec));
    EXPECT_FALSE(actionOnly.isDefaultValue());
    EXPECT_THROW((void)empty.hash(), Kiv::UnhashableTypeException);
    EXPECT_THROW((void)actionOnly.hash(), Kiv::UnhashableTypeException);
}

TEST_F(EntryTest, EntriesAreEqualExactlyWhenTheyHoldTheSameObjects) {
    const auto match = matchOf(1, 2, 3);
    const auto action = actionOf(Bf::twiceNatAddrPortHitActionSpec, 4, 5, 6);
    const TwiceNatAddrPortTableEntry entry = entryOf(match, action);
    EXPECT_EQ(match->references(), 2u);  // a copy holds both objects
    EXPECT_EQ(action->references(), 2u);
    EXPECT_TRUE(entry.isEq(entryOf(match, action)));
    EXPECT_TRUE(TwiceNatAddrPortTableEntry() == TwiceNatAddrPortTableEntry());
    EXPECT_FALSE(entry == entryOf(match, actionOf(Bf::twiceNatAddrPortHitActionSpec, 4, 5, 6)));
    EXPECT_FALSE(entry == entryOf(matchOf(1, 2, 3), action));
}

}  // namespace
}  // namespace TableTest
