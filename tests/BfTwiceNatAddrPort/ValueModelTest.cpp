// Spec classes, entry identity, the entry's text form and parser, the action type's names; the
// status texts, the class and message each of the three checks gives, the hidden bases.

#include <functional>
#include <sstream>
#include <type_traits>

#include "TableTestSupport.h"
#include "support/Thrown.h"

namespace TableTest {
namespace {

using Bf::TwiceNatAddrPortTableEntry;

struct SpecClass {
    const char* name;
    std::function<Kiv::PtrInterface::Ptr()> classIs;
    std::function<Kiv::PtrInterface::Ptr()> factory;
    const Kiv::TypeInfo& type;
    int actionType;  // -1 for the match spec
    Texts own;       // attributes after those of the base class
};
void PrintTo(const SpecClass& c, std::ostream* out) {
    *out << c.name;
}

// The class-level and the namespace-level creation function of a class.
// clang-format off
#define SPEC_CLASS(Class, factory, actionType, ...)                                   \
    SpecClass{#Class, [] { return Kiv::PtrInterface::Ptr(Bf::Class::Class##Is()); },   \
              [] { return Kiv::PtrInterface::Ptr(Bf::factory()); }, Bf::Class::kivTypeInfo(), \
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
                         ::testing::PrintToStringParamName());

// Through each creation function and by type name: the type, the defaults, each field by name
// (the last, 16 bits wide in every class, as hex text); the match spec's typed fields.
TEST_P(SpecClassTest, CreatesObjectsWithDefaultsAndAttributesInDeclarationOrder) {
    const SpecClass& c = GetParam();
    Texts expected = c.actionType >= 0 ? Texts{"actionType", "prot", "rwId"} : Texts{};
    expected.insert(expected.end(), c.own.begin(), c.own.end());
    Texts names;
    for (const Kiv::AttributeInfo* a : c.type.attributes()) names.emplace_back(a->name);
    EXPECT_EQ(names, expected);
    const auto byName = [&] { return Kiv::TypeInfo::named(c.type.name())->create(); };
    for (const auto& create : {c.classIs, c.factory, std::function(byName)}) {
        const Kiv::PtrInterface::Ptr spec = create();
        ASSERT_TRUE(spec);
        EXPECT_EQ(&spec->kivType(), &c.type);
        for (U64 i = 0; i < expected.size(); ++i) {
            const U64 initial = expected[i] == "actionType" ? c.actionType : 0;
            EXPECT_EQ(Kiv::genericGet(*spec, expected[i]), Kiv::Value(initial)) << expected[i];
            if (i + 1 < expected.size())
                Kiv::genericSet(*spec, expected[i], i + 1);
            else
                Kiv::genericSetStrep(*spec, expected[i], "0x" + std::to_string(i + 1));
        }
        for (U64 i = 0; i < expected.size(); ++i)
            EXPECT_EQ(Kiv::genericGet(*spec, expected[i]), Kiv::Value(i + 1)) << expected[i];
        EXPECT_THROW(Kiv::genericSet(*spec, expected.back(), U64{0x10000}),
                     Kiv::AttributeException);
        if (const auto match = Dorvu::ptrCast<Bf::TwiceNatAddrPortMatchSpec>(spec)) {
            EXPECT_EQ(describe(entryOf(match, actionOf(kOnMiss))), described(1, 3, 2, 0));
        }
    }
}

using EntryTest = TestSupport::LeakCheck;

const std::string kHead = "Value('BfTwiceNatAddrPort::TwiceNatAddrPortTableEntry', ** {";

std::string textOf(const Kiv::PtrInterface* match, const Kiv::PtrInterface* action) {
    return kHead + "'match': " + Kiv::valueToStrepOfRawPtr(match) +
           ", 'action': " + Kiv::valueToStrepOfRawPtr(action) + "})";
}

// Equal exactly when they hold the same objects, which they keep alive; never hashable.
TEST_F(EntryTest, EntriesAreTheirObjectsAndParseBackFromTheirText) {
    for (int type = 0; type < 5; ++type) {
        const auto match = matchOf(1, 2, 3);
        const auto action = actionOf(type, 4, 5, 6);
        const auto entry = entryOf(match, action);
        EXPECT_EQ(std::tuple(match->references(), action->references()), std::tuple(2u, 2u));
        EXPECT_TRUE(entry.isEq(entryOf(match, action)));
        EXPECT_FALSE(entry == entryOf(match, actionOf(type, 4, 5, 6)) ||
                     entry == entryOf(matchOf(1, 2, 3), action));
        const Kiv::String text = Bf::valueToStrep(entry);
        std::ostringstream printed;
        printed << entry;
        EXPECT_EQ(std::tuple(text, printed.str(),
                             Kiv::ValueTraits<TwiceNatAddrPortTableEntry>::to(entry)),
                  std::tuple(textOf(match.ptr(), action.ptr()), text, Kiv::Value(text)));
        EXPECT_TRUE(TwiceNatAddrPortTableEntry::strepToValue(text) == entry &&
                    Kiv::ValueTraits<TwiceNatAddrPortTableEntry>::from(text, "test") == entry)
            << type;
    }
    const TwiceNatAddrPortTableEntry empty;
    TwiceNatAddrPortTableEntry actionOnly;
    actionOnly.actionIs(actionOf(kOnMiss));
    EXPECT_TRUE(empty.isDefaultValue() && empty == TwiceNatAddrPortTableEntry() &&
                !actionOnly.isDefaultValue() &&
                !TwiceNatAddrPortTableEntry(matchOf(1, 2, 3)).isDefaultValue());
    EXPECT_THROW((void)empty.hash(), Kiv::UnhashableTypeException);
    const Kiv::String text = Bf::valueToStrep(empty);
    EXPECT_EQ(text, kHead + "'match': None, 'action': None})");
    EXPECT_TRUE(TwiceNatAddrPortTableEntry::strepToValue(text).isDefaultValue());
}

// A bad reference names its attribute and releases what was read; a syntax error names none.
TEST_F(EntryTest, BadTextIsRejectedForItsAttributeAndReleasesWhatWasRead) {
    const auto entry = entryOf(matchOf(1, 2, 3), actionOf(kHit));
    const Kiv::PtrInterface *match = entry.match().ptr(), *action = entry.action().ptr();
    const std::string okMatch = kHead + "'match': " + Kiv::valueToStrepOfRawPtr(match);
    const struct {
        std::string text;
        const char* attribute;
        const char* message;
    } cases[] = {
        {textOf(action, action), "match", "cannot convert to TwiceNatAddrPortMatchSpec"},
        {textOf(match, match), "action", "cannot convert to TwiceNatAddrPortBaseActionSpec"},
        {okMatch + ", 'action': Ref('Bogus', 0x10)})", "action", "no live object"},
        {kHead + "'match': Nothing, 'action': None})", "match", "expected"},
        {"Value('Other', ** {'match': None, 'action': None})", "", "expected"},
        {kHead + "'action': None, 'match': None})", "", "expected"},
        {Bf::valueToStrep(entry) + "x", "", "unexpected trailing text"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const Kiv::RangeException e = TestSupport::thrown<Kiv::RangeException>([&] {
                                          TwiceNatAddrPortTableEntry::strepToValue(c.text);
                                      }).value_or(Kiv::RangeException("", 0));
        EXPECT_EQ(e.attribute(), c.attribute);
        EXPECT_THAT(e.message(), ::testing::HasSubstr(c.message));
    }
    Kiv::CharRange range(cases[6].text);
    EXPECT_TRUE(TwiceNatAddrPortTableEntry(range) == entry);
    EXPECT_EQ(range.rest(), "x");
    EXPECT_EQ(std::tuple(match->references(), action->references()), std::tuple(1u, 1u));
}

TEST(ActionSpecTypeTest, NamesAndNumbersConvertBothWays) {
    for (unsigned n = 0; n < 5; ++n) {
        const std::string name = std::string(kActionCases[n].name) + "ActionSpec";
        const auto value = Bf::TwiceNatAddrPortActionSpecTypeInstance(n);
        std::ostringstream out;
        out << value;
        Kiv::CharRange range(name);
        ActionType read = Bf::onMissActionSpec;
        Bf::sequenceToValue(range, read);
        EXPECT_EQ(std::tuple(static_cast<unsigned>(value),
                             Bf::TwiceNatAddrPortActionSpecTypeInstance(name),
                             Bf::stringValue(value), Bf::valueToStrep(value), out.str(), read),
                  std::tuple(n, value, name, name, name, value));
    }
    EXPECT_THROW(Bf::TwiceNatAddrPortActionSpecTypeInstance(5u), Kiv::RangeException);
}

// The class that the PD operation, BfRt operation and BfRt call check raise ("nothing":
// none) and the status text in their messages: the table's ends, one inside, unknown codes.
struct CheckCase {
    Bf::SdkStatus status;
    const char* text;
    const char* pdOperation;
    const char* bfRtOperation;
    const char* bfRtCall;
};
const char* const kOther = "BfTableException";
const char* const kUnknown = "Unknown error";
const CheckCase kCheckCases[] = {
    {0, "Success", "nothing", "nothing", "nothing"},
    {2, "No system resources", "BfNoSysResources", "BfNoSysResources", kOther},
    {4, "Already exists", kOther, "BfDuplicateEntry", kOther},
    {9, "Not enough space", "BfTableFull", "BfTableFull", kOther},
    {10, "Resource temporarily not available, try again later", kOther, kOther, "BfTryAgain"},
    {17, "Operation not supported", "BfNotSupported", "BfNotSupported", kOther},
    {26, "Hardware entry not found", kOther, kOther, kOther},
    {28, kUnknown, kOther, kOther, kOther},
    {-1, kUnknown, kOther, kOther, kOther},
};

TEST(StatusCheckTest, EachCheckPicksItsClassAndFormatsItsMessage) {
    for (const CheckCase& c : kCheckCases) {
        SCOPED_TRACE(c.status);
        const auto expected = [&](std::string cls, const std::string& message) {
            return cls == "nothing" ? Raised{} : Raised{cls, static_cast<U32>(c.status), message};
        };
        EXPECT_STREQ(Bf::sdkStatusText(c.status), c.text);
        const std::string text = c.text;
        EXPECT_EQ(raised([&] { Bf::checkPdOperation(c.status, "pd_delete"); }),
                  expected(c.pdOperation, "pd_delete() failed: " + text));
        EXPECT_EQ(raised([&] { Bf::checkBfRtOperation(c.status, "bfrt_add"); }),
                  expected(c.bfRtOperation, "bfrt_add() failed: " + text));
        EXPECT_EQ(raised([&] { Bf::checkBfRtCall(c.status); }),
                  expected(c.bfRtCall, "BFRT call failed: " + text));
    }
}

// Three classes hide their bases: a handler of the base does not catch them.
static_assert(std::is_convertible_v<BfTable::BfTableFull*, BfTable::BfTableException*>);
static_assert(std::is_convertible_v<BfTable::BfNoSysResources*, Kiv::InternalException*>);
static_assert(!std::is_convertible_v<BfTable::BfTryAgain*, BfTable::BfTableException*>);
static_assert(!std::is_convertible_v<BfTable::BfNotSupported*, Kiv::InternalException*>);
static_assert(!std::is_convertible_v<BfTable::BfDuplicateEntry*, std::exception*>);
static_assert(std::is_base_of_v<BfTable::BfTableException, BfTable::BfTryAgain>);

}  // namespace
}  // namespace TableTest
