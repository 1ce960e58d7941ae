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

TEST_F(EntryTextTest, PrintedEntryParsesBackToTheSameObjects) {
    for (int type = 0; type < 5; ++type) {
        const auto entry = entryOf(matchOf(1, 2, 3), actionOf(type, 4, 5, 6));
        const Kiv::String text = Bf::valueToStrep(entry);
        EXPECT_EQ(text, textOf(entry.match().ptr(), entry.action().ptr()));
        std::ostringstream printed;
        printed << entry;
        EXPECT_EQ(printed.str(), text);
        EXPECT_EQ(Kiv::ValueTraits<TwiceNatAddrPortTableEntry>::to(entry), Kiv::Value(text));
        EXPECT_TRUE(TwiceNatAddrPortTableEntry::strepToValue(text) == entry) << type;
        EXPECT_TRUE(Kiv::ValueTraits<TwiceNatAddrPortTableEntry>::from(text, "test") == entry);
    }
    const Kiv::String empty = Bf::valueToStrep(TwiceNatAddrPortTableEntry());
    EXPECT_EQ(empty, kHead + "'match': None, 'action': None})");
    EXPECT_TRUE(TwiceNatAddrPortTableEntry::strepToValue(empty).isDefaultValue());
}

TEST_F(EntryTextTest, BadReferenceIsRejectedForItsAttributeAndReleasesWhatWasRead) {
    const auto match = matchOf(1, 2, 3);
    const auto action = actionOf(kHit);
    const Kiv::RangeException inMatch = parseError(textOf(action.ptr(), action.ptr()));
    EXPECT_EQ(inMatch.attribute(), "match");
    EXPECT_THAT(inMatch.message(),
                ::testing::HasSubstr("cannot convert to TwiceNatAddrPortMatchSpec"));
    const Kiv::RangeException inAction = parseError(textOf(match.ptr(), match.ptr()));
    EXPECT_EQ(inAction.attribute(), "action");
    EXPECT_THAT(inAction.message(),
                ::testing::HasSubstr("cannot convert to TwiceNatAddrPortBaseActionSpec"));
    const std::string okMatch = kHead + "'match': " + Kiv::valueToStrepOfRawPtr(match.ptr());
    EXPECT_EQ(parseError(okMatch + ", 'action': Ref('Bogus', 0x10)})").attribute(), "action");
    EXPECT_EQ(parseError(kHead + "'match': Nothing, 'action': None})").attribute(), "match");
    EXPECT_EQ(match->references(), 1u);  // the match read before each failure is released
    EXPECT_EQ(action->references(), 1u);
}

TEST_F(EntryTextTest, MissingLiteralOrTrailingTextIsTheRuntimesErrorUnchanged) {
    for (const std::string& text :
         {std::string("Value('Other', ** {'match': None, 'action': None})"),
          kHead + "'action': None, 'match': None})"}) {
        EXPECT_EQ(parseError(text).attribute(), "") << text;
    }
    const auto entry = entryOf(matchOf(1, 2, 3), actionOf(kOnMiss));
    const std::string text = Bf::valueToStrep(entry) + "x";
    Kiv::CharRange range(text);
    EXPECT_TRUE(TwiceNatAddrPortTableEntry(range) == entry);  // from a range: stops before
    EXPECT_EQ(range.rest(), "x");
    EXPECT_EQ(parseError(text).attribute(), "");  // as a whole text: refused
    EXPECT_EQ(entry.match()->references(), 1u);   // the discarded parse released its references
    EXPECT_EQ(entry.action()->references(), 1u);
}

TEST(ActionSpecTypeTest, NamesAndNumbersConvertBothWays) {
    const char* names[] = {
        "onMissActionSpec", "twiceNatAddrPortHitActionSpec", "twiceNatAddrPortHitDynamicActionSpec",
        "twiceNatAddrPortHitEcmpActionSpec", "twiceNatAddrPortHitEcmpDynamicActionSpec"};
    for (unsigned n = 0; n < 5; ++n) {
        const auto value = Bf::TwiceNatAddrPortActionSpecTypeInstance(n);
        std::ostringstream out;
        out << value;
        EXPECT_EQ(std::tuple(static_cast<unsigned>(value),
                             Bf::TwiceNatAddrPortActionSpecTypeInstance(Kiv::String(names[n])),
                             Bf::stringValue(value), Bf::valueToStrep(value), out.str()),
                  std::tuple(n, value, names[n], names[n], names[n]));
        for (const std::string& text : {std::string(names[n]), std::to_string(n)}) {
            Kiv::CharRange range(text);
            ActionType read = Bf::onMissActionSpec;
            Bf::sequenceToValue(range, read);
            EXPECT_EQ(read, value) << text;
            EXPECT_TRUE(range.empty());
        }
    }
    EXPECT_THROW(Bf::TwiceNatAddrPortActionSpecTypeInstance(5u), Kiv::RangeException);
    EXPECT_THROW(Bf::TwiceNatAddrPortActionSpecTypeInstance(Kiv::String("hitActionSpec")),
                 Kiv::RangeException);
    Kiv::CharRange five("5");
    ActionType read{};
    EXPECT_THROW(Bf::sequenceToValue(five, read), Kiv::RangeException);
}

}  // namespace
}  // namespace TableTest
