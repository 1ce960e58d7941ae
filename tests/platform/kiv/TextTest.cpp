// Text support: the CharRange cursor, enum names and numbers, object reference texts.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

#include "TestTypes.h"
#include "support/LeakCheck.h"
#include "support/Thrown.h"

namespace KivTest {
namespace {

using Kiv::CharRange;
using Kiv::RangeException;
using ::testing::HasSubstr;
using namespace std::string_literals;

// The RangeException that `parse` raises (an empty one, failing the test, if none).
template <class F>
RangeException rangeError(F&& parse) {
    return TestSupport::thrown<RangeException>(parse).value_or(RangeException("", 0));
}

TEST(CharRangeTest, ReadsNumbersAndNamesAndSaysWhatWasExpectedWhere) {
    using Parse = std::string (*)(CharRange&);
    static const Parse number = [](CharRange& r) { return std::to_string(r.needUnsigned()); };
    static const Parse name = [](CharRange& r) { return std::string(r.needIdentifier()); };
    static const Parse inBrackets = [](CharRange& r) { return r.needString("("), number(r); };
    static const Parse twoNames = [](CharRange& r) { return name(r), r.skipSpaces(), name(r); };
    static const Parse alone = [](CharRange& r) {
        return number(r), r.checkAllDataConsumed(), ""s;
    };
    // An error in attribute "port" inside attribute "entry" names the innermost one.
    static const Parse inPort = [](CharRange& r) -> std::string {
        try {
            return inBrackets(r);
        } catch (const RangeException&) {
            Kiv::rethrowFromDeserializeAttr("port");
        }
    };
    static const Parse inEntry = [](CharRange& r) -> std::string {
        try {
            return inPort(r);
        } catch (const RangeException&) {
            Kiv::rethrowFromDeserializeAttr("entry");
        }
    };
    const struct {
        const char* text;
        Parse parse;
        const char* result;  // the value read and the rest, or the error and its attribute
    } cases[] = {
        {"42,", number, "42 ,"},
        {"0x1F)", number, "31 )"},
        {"0XfF", number, "255 "},
        {"18446744073709551615", number, "18446744073709551615 "},
        {"0xffffffffffffffff", number, "18446744073709551615 "},
        {"Kiv::Type_2::x:: y", name, "Kiv::Type_2::x :: y"},  // a "::" must lead to a name
        {"18446744073709551616", number, "number too large at offset 0"},
        {"0x1ffffffffffffffff", number, "number too large at offset 0"},
        {"(-1)", inBrackets, "expected an unsigned number but found '-1)' at offset 1"},
        {"", number, "expected an unsigned number but found end of text at offset 0"},
        {"[1]", inBrackets, "expected '(' but found '[1]' at offset 0"},
        {"(x", inEntry,
         "attribute 'port': expected an unsigned number but found 'x' at offset 1 [port]"},
        {"a 9b", twoNames, "expected a name but found '9b' at offset 2"},
        {"12 and a long tail of text", alone,
         "unexpected trailing text ' and a long tail of text' at offset 2"},
        {"12 and a much longer tail of text", alone,
         "unexpected trailing text ' and a much longer tail ...' at offset 2"},
    };
    for (const auto& c : cases) {
        CharRange range(c.text);
        std::string result;
        try {
            result = c.parse(range);
            result += " " + std::string(range.rest());
        } catch (const RangeException& e) {
            result = e.message() + (e.attribute().empty() ? "" : " [" + e.attribute() + "]");
        }
        EXPECT_EQ(result, c.result) << c.text;
    }
    EXPECT_EQ(rangeError([] { CharRange("ab7").cannotConvert("U16", 2); }).message(),
              "cannot convert to U16 at offset 2");
}

TEST(EnumTypeTest, NamesAndNumbersConvertBothWaysAndOthersAreRejected) {
    for (Kiv::U8 v = 0; v < kColor.size(); ++v)
        EXPECT_EQ(kColor.valueOf(std::string_view(kColor.strep(v))), v);
    EXPECT_EQ(kColor.nameOf(3), nullptr);
    std::ostringstream out;
    kColor.print(out, 1);
    kColor.print(out, 9);  // a value without a name prints as its number
    EXPECT_EQ(out.str(), "green9");
    EXPECT_EQ(rangeError([] { kColor.valueOf(Kiv::U64{256 + 1}); }).message(),
              "257 is not a value of KivTest::Color (0 to 2)");  // not truncated to a byte
    CharRange text("color=purple");
    text.needString("color=");
    EXPECT_EQ(rangeError([&] { kColor.read(text); }).message(),
              "'purple' is not a value of KivTest::Color at offset 6");
}

class ReferenceTextTest : public TestSupport::LeakCheck {
  protected:
    static Kiv::ObjectRef parse(const Kiv::String& text) {
        CharRange range(text);
        Kiv::ObjectRef object = Kiv::sequenceToValueOfPtr(range);
        range.checkAllDataConsumed();
        return object;
    }
    static Kiv::String refText(const char* type, const void* address) {
        return Kiv::_fmt("Ref('%s', %p)", type, address);
    }
};

// Bad references are rejected before anything is read through them (ASan would see that).
TEST_F(ReferenceTextTest, PrintedReferenceReadsBackAndStaleForgedOrWrongTypeOnesAreRejected) {
    Widget::Ptr widget = Kiv::create<Widget>();
    const auto* base = reinterpret_cast<const char*>(widget.ptr());
    const Kiv::String text = Kiv::valueToStrepOfRawPtr(widget.ptr());
    EXPECT_EQ(text, refText("KivTest::Widget", base));
    {
        const Kiv::ObjectRef back = parse(text);
        EXPECT_EQ(back.ptr(), widget.ptr());
        EXPECT_EQ(widget->references(), 2u) << "the parsed reference counts";
    }
    const Kiv::String stale = Kiv::valueToStrepOfRawPtr(Kiv::create<Widget>().ptr());
    // Built outside the creation path: its slot is live but nothing owns it.
    const auto loose = std::make_unique<Gadget>();
    const struct {
        Kiv::String text;
        const char* message;
    } cases[] = {
        {stale, "no live object at"},
        {refText("KivTest::Widget", base + 1), "no live object at"},
        {"Ref('KivTest::Widget', 0x10)", "no live object at 0x10"},
        {"Ref('KivTest::Widget', 0xffffffffffffffff)", "no live object at 0xffffffffffffffff"},
        {refText("KivTest::Gadget", base), "is not a KivTest::Gadget"},
        {refText("KivTest::Sprocket", base), "is not a KivTest::Sprocket"},
        {Kiv::valueToStrepOfRawPtr(loose.get()), "is not a KivTest::Gadget"},
        {"Ref(KivTest::Widget, 0x10)", "expected 'Ref('' but found"},
        {"Ref('KivTest::Widget' 0x10)", "expected '', ' but found"},
        {"Ref('KivTest::Widget', 0x10", "expected ')' but found end of text"},
    };
    for (const auto& c : cases) {
        EXPECT_THAT(rangeError([&] { parse(c.text); }).message(), HasSubstr(c.message)) << c.text;
    }
    EXPECT_EQ(widget->references(), 1u) << "a rejected text holds no reference";
    // The offset points at the address for a dead one, at the start for a wrong type.
    EXPECT_EQ(rangeError([&] { parse(stale); }).offset(), stale.find("0x"));
    EXPECT_EQ(rangeError([&] { parse(refText("KivTest::Gadget", base)); }).offset(), 0u);
}

}  // namespace
}  // namespace KivTest
