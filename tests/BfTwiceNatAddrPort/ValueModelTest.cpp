// Part 1.1: defaults, action types, attributes in declaration order, creation
// through the tracked allocator, and the identity rules of specs and entries.

#include <functional>

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

template <class T, auto ClassIs, auto Factory>
SpecClass specClass(const char* name, int actionType, std::vector<std::string> own) {
    return {name,  [] { return Kiv::PtrInterface::Ptr(ClassIs()); },
            [] { return Kiv::PtrInterface::Ptr(Factory()); },
            T::kivTypeInfo(), T::memAllocationTracker_, actionType, std::move(own)};
}

const std::vector<SpecClass>& specClasses() {
    using namespace Bf;
    static const std::vector<SpecClass> classes = {
        specClass<TwiceNatAddrPortMatchSpec, &TwiceNatAddrPortMatchSpec::TwiceNatAddrPortMatchSpecIs,
                  &twiceNatAddrPortMatchSpecFactory>(
            "MatchSpec", -1, {"ingMdNatKeyId", "l4PortHdrDstPort", "l4PortHdrSrcPort"}),
        specClass<TwiceNatAddrPortBaseActionSpec,
                  &TwiceNatAddrPortBaseActionSpec::TwiceNatAddrPortBaseActionSpecIs,
                  &twiceNatAddrPortBaseActionSpecFactory>("BaseActionSpec", 0, {}),
        specClass<OnMissActionSpec, &OnMissActionSpec::OnMissActionSpecIs,
                  &onMissActionSpecFactory>("OnMiss", 0, {}),
        specClass<TwiceNatAddrPortHitActionSpec,
                  &TwiceNatAddrPortHitActionSpec::TwiceNatAddrPortHitActionSpecIs,
                  &twiceNatAddrPortHitActionSpecFactory>("Hit", 1, {"nextHop"}),
        specClass<TwiceNatAddrPortHitDynamicActionSpec,
                  &TwiceNatAddrPortHitDynamicActionSpec::TwiceNatAddrPortHitDynamicActionSpecIs,
                  &twiceNatAddrPortHitDynamicActionSpecFactory>("HitDynamic", 2, {"nextHop"}),
        specClass<TwiceNatAddrPortHitEcmpActionSpec,
                  &TwiceNatAddrPortHitEcmpActionSpec::TwiceNatAddrPortHitEcmpActionSpecIs,
                  &twiceNatAddrPortHitEcmpActionSpecFactory>("HitEcmp", 3, {"ecmpGroup"}),
        specClass<TwiceNatAddrPortHitEcmpDynamicActionSpec,
                  &TwiceNatAddrPortHitEcmpDynamicActionSpec::
                      TwiceNatAddrPortHitEcmpDynamicActionSpecIs,
                  &twiceNatAddrPortHitEcmpDynamicActionSpecFactory>("HitEcmpDynamic", 4,
                                                                     {"ecmpGroup"}),
    };
    return classes;
}

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
    if (c.actionType >= 0) expected = {"actionType", "prot", "rwId"};
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
    EXPECT_EQ(match->ingMdNatKeyId(), 1);
    EXPECT_EQ(match->l4PortHdrDstPort(), 2);
    EXPECT_EQ(match->l4PortHdrSrcPort(), 3);
    EXPECT_THROW(Kiv::genericSet(*match, "ingMdNatKeyId", Kiv::U64{0x10000}),
                 Kiv::AttributeException);
    auto ecmp = Bf::twiceNatAddrPortHitEcmpActionSpecFactory();
    Kiv::genericSet(*ecmp, "actionType", Kiv::String("twiceNatAddrPortHitActionSpec"));
    EXPECT_EQ(ecmp->actionType(), Bf::twiceNatAddrPortHitActionSpec);  // allowed, though wrong
}

class EntryTest : public TestSupport::LeakCheck {};

TEST_F(EntryTest, DefaultConstructedEntryIsTheEmptyDefaultValue) {
    const TwiceNatAddrPortTableEntry empty;
    EXPECT_FALSE(empty.match());
    EXPECT_FALSE(empty.action());
    EXPECT_TRUE(empty.isDefaultValue());
    EXPECT_TRUE(empty == TwiceNatAddrPortTableEntry());
    const TwiceNatAddrPortTableEntry matchOnly(matchOf(1, 2, 3));
    EXPECT_FALSE(matchOnly.isDefaultValue());
    EXPECT_FALSE(matchOnly.action());
    TwiceNatAddrPortTableEntry actionOnly;
    actionOnly.actionIs(actionOf(Bf::onMissActionSpec));
    EXPECT_FALSE(actionOnly.isDefaultValue());
}

TEST_F(EntryTest, EntriesAreEqualExactlyWhenTheyHoldTheSameObjects) {
    const auto match = matchOf(1, 2, 3);
    const auto action = actionOf(Bf::twiceNatAddrPortHitActionSpec, 4, 5, 6);
    EXPECT_TRUE(entryOf(match, action).isEq(entryOf(match, action)));
    EXPECT_FALSE(entryOf(match, action) == entryOf(match, actionOf(Bf::twiceNatAddrPortHitActionSpec, 4, 5, 6)));
    EXPECT_FALSE(entryOf(match, action) == entryOf(matchOf(1, 2, 3), action));
}

TEST_F(EntryTest, CopyingAnEntryCopiesBothReferences) {
    const auto match = matchOf(1, 2, 3);
    const auto action = actionOf(Bf::onMissActionSpec);
    const TwiceNatAddrPortTableEntry entry = entryOf(match, action);
    {
        const TwiceNatAddrPortTableEntry copy = entry;  // NOLINT(performance-unnecessary-copy-initialization)
        EXPECT_EQ(match->references(), 3u);
        EXPECT_EQ(action->references(), 3u);
        EXPECT_TRUE(copy == entry);
    }
    EXPECT_EQ(match->references(), 2u);
    EXPECT_EQ(action->references(), 2u);
}

TEST_F(EntryTest, AskingForTheHashOfAnEntryThrows) {
    const TwiceNatAddrPortTableEntry entry = entryOf(matchOf(1, 2, 3), actionOf(Bf::onMissActionSpec));
    EXPECT_THROW((void)entry.hash(), Kiv::UnhashableTypeException);
    EXPECT_THROW((void)TwiceNatAddrPortTableEntry().hash(), Kiv::UnhashableTypeException);
}

}  // namespace
}  // namespace TableTest
