// The entry's text form and parser, and the action type's names.

#include <sstream>

#include "TableTestSupport.h"

namespace TableTest {
namespace {

using Bf::TwiceNatAddrPortTableEntry;

const std::string kHead = "Value('BfTwiceNatAddrPort::TwiceNatAddrPortTableEntry', ** {";

std::string textOf(const Kiv::PtrInterface* match, const Kiv::PtrInterface* action) {
    return kHead + "'match': " + Kiv::valueToStrepOfRawPtr(match) +
           ", 'action': " + Kiv::valueToStrepOfRawPtr(action) + "})";
}

// The RangeException that parsing `text` raises.
Kiv::RangeException parseError(const std::string& text) {
    try {
        TwiceNatAddrPortTableEntry::strepToValue(text);
    } catch (const Kiv::RangeException& e) {
        return e;
    }
    ADD_FAILURE() << "parsed: " << text;
    return Kiv::RangeException("", 0);
}

class EntryTextTest : public TestSupport::LeakCheck {};

class TextFormTest : public TestSupport::LeakCheck,
                     public ::testing::WithParamInterface<Bf::TwiceNatAddrPortActionSpecType> {};

INSTANTIATE_TEST_SUITE_P(AllActions, TextFormTest,
                         ::testing::Values(Bf::onMissActionSpec, Bf::twiceNatAddrPortHitActionSpec,
                                           Bf::twiceNatAddrPortHitDynamicActionSpec,
                                           Bf::twiceNatAddrPortHitEcmpActionSpec,
                                           Bf::twiceNatAddrPortHitEcmpDynamicActionSpec),
                         [](const auto& info) { return Bf::stringValue(info.param); });

TEST_P(TextFormTest, PrintedEntryParsesBackToTheSameObjects) {
    const auto entry = entryOf(matchOf(1, 2, 3), actionOf(GetParam(), 4, 5, 6));
    const Kiv::String text = Bf::valueToStrep(entry);
    EXPECT_EQ(text, textOf(entry.match().ptr(), entry.action().ptr()));
    std::ostringstream printed;
    printed << entry;
    EXPECT_EQ(printed.str(), text);
    EXPECT_EQ(Kiv::ValueTraits<TwiceNatAddrPortTableEntry>::to(entry), Kiv::Value(text));

    const TwiceNatAddrPortTableEntry parsed = TwiceNatAddrPortTableEntry::strepToValue(text);
    EXPECT_TRUE(parsed == entry);
    EXPECT_TRUE(Kiv::ValueTraits<TwiceNatAddrPortTableEntry>::from(text, "test") == entry);
}

TEST_F(EntryTextTest, EmptyEntryPrintsNoneTwiceAndParsesBackEmpty) {
    const Kiv::String text = Bf::valueToStrep(TwiceNatAddrPortTableEntry());
    EXPECT_EQ(text, kHead + "'match': None, 'action': None})");
    EXPECT_TRUE(TwiceNatAddrPortTableEntry::strepToValue(text).isDefaultValue());
}

TEST_F(EntryTextTest, SpecOfTheWrongClassIsRejectedForItsAttribute) {
    const auto match = matchOf(1, 2, 3);
    const auto action = actionOf(Bf::twiceNatAddrPortHitActionSpec);
    const Kiv::RangeException inMatch = parseError(textOf(action.ptr(), action.ptr()));
    EXPECT_EQ(inMatch.attribute(), "match");
    EXPECT_THAT(inMatch.message(),
                ::testing::HasSubstr("cannot convert to TwiceNatAddrPortMatchSpec"));
    const Kiv::RangeException inAction = parseError(textOf(match.ptr(), match.ptr()));
    EXPECT_EQ(inAction.attribute(), "action");
    EXPECT_THAT(inAction.message(),
                ::testing::HasSubstr("cannot convert to TwiceNatAddrPortBaseActionSpec"));
    EXPECT_EQ(match->references(), 1u);  // the match read before the failure is released
    EXPECT_EQ(action->references(), 1u);
}

TEST_F(EntryTextTest, UnreadableReferenceIsReportedForItsAttribute) {
    const auto match = matchOf(1, 2, 3);
    const std::string okMatch = kHead + "'match': " + Kiv::valueToStrepOfRawPtr(match.ptr());
    EXPECT_EQ(parseError(okMatch + ", 'action': Ref('Bogus', 0x10)})").attribute(), "action");
    EXPECT_EQ(parseError(kHead + "'match': Nothing, 'action': None})").attribute(), "match");
    EXPECT_EQ(match->references(), 1u);
}

TEST_F(EntryTextTest, MissingLiteralIsTheRuntimesErrorUnchanged) {
    for (const std::string& text :
         {std::string("Value('Other', ** {'match': None, 'action': None})"),
          kHead + "'match': None 'action': None})", kHead + "'match': None, 'action': None}",
          kHead + "'action': None, 'match': None})"}) {
        EXPECT_EQ(parseError(text).attribute(), "") << text;
    }
}

TEST_F(EntryTextTest, TrailingCharacterParsesFromARangeButNotAsAWholeText) {
    const auto entry = entryOf(matchOf(1, 2, 3), actionOf(Bf::onMissActionSpec));
    const std::string text = Bf::valueToStrep(entry) + "x";
    Kiv::CharRange range(text);
    EXPECT_TRUE(TwiceNatAddrPortTableEntry(range) == entry);
    EXPECT_EQ(range.rest(), "x");
    parseError(text);
    EXPECT_EQ(entry.match()->references(), 1u);  // the discarded parse released its references
    EXPECT_EQ(entry.action()->references(), 1u);
}

TEST(ActionSpecTypeTest, NamesAndNumbersConvertBothWays) {
    const char* names[] = {
        "onMissActionSpec", "twiceNatAddrPortHitActionSpec", "twiceNatAddrPortHitDynamicActionSpec",
        "twiceNatAddrPortHitEcmpActionSpec", "twiceNatAddrPortHitEcmpDynamicActionSpec"};
    for (unsigned n = 0; n < 5; ++n) {
        const auto value = Bf::TwiceNatAddrPortActionSpecTypeInstance(n);
        EXPECT_EQ(static_cast<unsigned>(value), n);
        EXPECT_EQ(Bf::TwiceNatAddrPortActionSpecTypeInstance(Kiv::String(names[n])), value);
        EXPECT_EQ(Bf::stringValue(value), names[n]);
        EXPECT_EQ(Bf::valueToStrep(value), names[n]);
        std::ostringstream out;
        out << value;
        EXPECT_EQ(out.str(), names[n]);
        for (const std::string& text : {std::string(names[n]), std::to_string(n)}) {
            Kiv::CharRange range(text);
            Bf::TwiceNatAddrPortActionSpecType read = Bf::onMissActionSpec;
            Bf::sequenceToValue(range, read);
            EXPECT_EQ(read, value) << text;
            EXPECT_TRUE(range.empty());
        }
    }
    EXPECT_THROW(Bf::TwiceNatAddrPortActionSpecTypeInstance(5u), Kiv::RangeException);
    EXPECT_THROW(Bf::TwiceNatAddrPortActionSpecTypeInstance(Kiv::String("hitActionSpec")),
                 Kiv::RangeException);
    Kiv::CharRange five("5");
    Bf::TwiceNatAddrPortActionSpecType read{};
    EXPECT_THROW(Bf::sequenceToValue(five, read), Kiv::RangeException);
}

}  // namespace
}  // namespace TableTest
