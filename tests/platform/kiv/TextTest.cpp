// Text support: the CharRange cursor, enum names and numbers, object
// reference texts, the exception family and _fmt.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <limits>
#include <sstream>

#include "TestTypes.h"
#include "support/LeakCheck.h"
#include "support/Thrown.h"

namespace KivTest {
namespace {

using Kiv::CharRange;
using Kiv::RangeException;
using ::testing::HasSubstr;

// The RangeException that `parse` raises (an empty one when it raises none,
// which fails the test).
template <class F>
RangeException rangeError(F&& parse) {
    return TestSupport::thrown<RangeException>(parse).value_or(RangeException("", 0));
}

TEST(CharRangeTest, NumbersInDecimalAndHexadecimal) {
    const struct {
        const char* text;
        Kiv::U64 value;
        std::size_t end;
    } cases[] = {
        {"0", 0, 1},
        {"42,", 42, 2},
        {"0x1F)", 31, 4},
        {"0XfF", 255, 4},
        {"18446744073709551615", std::numeric_limits<Kiv::U64>::max(), 20},
        {"0xffffffffffffffff", std::numeric_limits<Kiv::U64>::max(), 18},
    };
    for (const auto& c : cases) {
        CharRange range(c.text);
        EXPECT_EQ(range.needUnsigned(), c.value) << c.text;
        EXPECT_EQ(range.offset(), c.end) << c.text;
    }
}

// Runs one parser call per letter of `script` on `range`: u needUnsigned,
// i needIdentifier, s skipSpaces, ( needString("("), e checkAllDataConsumed.
void runScript(CharRange& range, std::string_view script) {
    for (const char step : script) {
        if (step == 'u')
            range.needUnsigned();
        if (step == 'i')
            range.needIdentifier();
        if (step == 's')
            range.skipSpaces();
        if (step == '(')
            range.needString("(");
        if (step == 'e')
            range.checkAllDataConsumed();
    }
}

TEST(CharRangeTest, ErrorsSayWhatWasExpectedAndWhere) {
    const struct {
        const char* text;
        const char* script;
        const char* message;
        std::size_t offset;
    } cases[] = {
        {"18446744073709551616", "u", "number too large at offset 0", 0},
        {"0x1ffffffffffffffff", "u", "number too large at offset 0", 0},
        {"(-1)", "(u", "expected an unsigned number but found '-1)' at offset 1", 1},
        {"", "u", "expected an unsigned number but found end of text at offset 0", 0},
        {"[1]", "(", "expected '(' but found '[1]' at offset 0", 0},
        {"a 9b", "isi", "expected a name but found '9b' at offset 2", 2},
        {"12 and a long tail of text", "ue",
         "unexpected trailing text ' and a long tail of text' at offset 2", 2},
        {"12 and a much longer tail of text", "ue",
         "unexpected trailing text ' and a much longer tail ...' at offset 2", 2},
    };
    for (const auto& c : cases) {
        CharRange range(c.text);
        const RangeException e = rangeError([&] { runScript(range, c.script); });
        EXPECT_EQ(e.message(), c.message);
        EXPECT_EQ(e.offset(), c.offset) << c.message;
    }
    CharRange range("ab7");
    const RangeException e = rangeError([&] { range.cannotConvert("U16", 2); });
    EXPECT_EQ(e.message(), "cannot convert to U16 at offset 2");
    EXPECT_EQ(e.offset(), 2u);
}

TEST(CharRangeTest, IdentifiersTakeQualifiedNames) {
    CharRange range("Kiv::Type_2::x:: y");
    EXPECT_EQ(range.needIdentifier(), "Kiv::Type_2::x");  // a "::" must lead to a name
    EXPECT_EQ(range.rest(), ":: y");
}

TEST(CharRangeTest, RethrowFromDeserializeAttrNamesTheInnermostAttribute) {
    const auto parseAs = [](const char* attribute, const char* text) {
        CharRange range(text);
        try {
            range.needString("[");
            range.needUnsigned();
        } catch (const RangeException&) {
            Kiv::rethrowFromDeserializeAttr(attribute);
        }
    };
    const RangeException e = rangeError([&] { parseAs("port", "[x"); });
    EXPECT_EQ(e.message(),
              "attribute 'port': expected an unsigned number but found 'x' at offset 1");
    EXPECT_EQ(e.attribute(), "port");
    EXPECT_EQ(e.offset(), 1u);
    const RangeException outer = rangeError([&] {
        try {
            parseAs("port", "[x");
        } catch (const RangeException&) {
            Kiv::rethrowFromDeserializeAttr("entry");
        }
    });
    EXPECT_EQ(outer.message(), e.message());  // the innermost attribute is kept
}

TEST(EnumTypeTest, NamesAndNumbersConvertBothWays) {
    for (Kiv::U8 v = 0; v < kColor.size(); ++v) {
        const char* name = kColor.nameOf(v);
        ASSERT_NE(name, nullptr);
        EXPECT_EQ(kColor.valueOf(std::string_view(name)), v);
        EXPECT_EQ(kColor.valueOf(Kiv::U64{v}), v);
        const Kiv::String text = kColor.strep(v);
        EXPECT_EQ(text, name);
        CharRange range(text);
        EXPECT_EQ(kColor.read(range), v);
        range.checkAllDataConsumed();
    }
    EXPECT_EQ(kColor.nameOf(3), nullptr);
    std::ostringstream out;
    kColor.print(out, 1);
    kColor.print(out, 9);  // a value without a name prints as its number
    EXPECT_EQ(out.str(), "green9");
    CharRange numbers("0x2,1");
    EXPECT_EQ(kColor.read(numbers), 2);
    numbers.needString(",");
    EXPECT_EQ(kColor.read(numbers), 1);
}

TEST(EnumTypeTest, UnknownNamesAndNumbersAreRejected) {
    EXPECT_EQ(rangeError([] { kColor.valueOf(Kiv::U64{3}); }).message(),
              "3 is not a value of KivTest::Color (0 to 2)");
    EXPECT_EQ(rangeError([] { kColor.valueOf(Kiv::U64{256 + 1}); }).message(),
              "257 is not a value of KivTest::Color (0 to 2)");  // not truncated to a byte
    EXPECT_EQ(rangeError([] { kColor.valueOf("Red"); }).message(),
              "'Red' is not a value of KivTest::Color");
    const struct {
        const char* text;
        const char* message;
    } cases[] = {
        {"color=purple", "'purple' is not a value of KivTest::Color at offset 6"},
        {"color=7", "7 is not a value of KivTest::Color (0 to 2) at offset 6"},
        {"color=-1", "expected a name but found '-1' at offset 6"},
    };
    for (const auto& c : cases) {
        CharRange range(c.text);
        range.needString("color=");
        const RangeException e = rangeError([&] { kColor.read(range); });
        EXPECT_EQ(e.message(), c.message);
        EXPECT_EQ(e.offset(), 6u);
    }
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

TEST_F(ReferenceTextTest, PrintedReferenceReadsBackAsTheSameObject) {
    Widget::Ptr widget = Kiv::create<Widget>();
    Gadget::Ptr gadget = Kiv::create<Gadget>();
    for (const Kiv::PtrInterface* object : {static_cast<Kiv::PtrInterface*>(widget.ptr()),
                                            static_cast<Kiv::PtrInterface*>(gadget.ptr())}) {
        const Kiv::String text = Kiv::valueToStrepOfRawPtr(object);
        EXPECT_EQ(text, refText(object->kivType().name(), object));
        const Kiv::ObjectRef back = parse(text);
        EXPECT_EQ(back.ptr(), object);
        EXPECT_EQ(object->references(), 2u);  // the parsed reference counts
    }
    EXPECT_EQ(Kiv::valueToStrepOfRawPtr(nullptr), "None");
    EXPECT_EQ(parse("None"), nullptr);
}

// Every bad reference is rejected before anything is read through it; under
// the address sanitizer a read of the freed slot would also be reported.
TEST_F(ReferenceTextTest, StaleForgedAndWrongTypeReferencesAreRejected) {
    Widget::Ptr widget = Kiv::create<Widget>();
    const auto* base = reinterpret_cast<const char*>(widget.ptr());
    const Kiv::String stale = Kiv::valueToStrepOfRawPtr(Kiv::create<Widget>().ptr());
    int onStack = 0;
    const auto onHeap = std::make_unique<Kiv::U64>(0);
    const struct {
        Kiv::String text;
        const char* message;
    } cases[] = {
        {stale, "no live object at"},
        {refText("KivTest::Widget", base + 1), "no live object at"},
        {refText("KivTest::Widget", base + 16), "no live object at"},
        {refText("KivTest::Widget", &onStack), "no live object at"},
        {refText("KivTest::Widget", onHeap.get()), "no live object at"},
        {"Ref('KivTest::Widget', 0x1234)", "no live object at 0x1234"},
        {"Ref('KivTest::Widget', 0)", "no live object at 0x0"},
        {"Ref('KivTest::Widget', 0xffffffffffffffff)", "no live object at 0xffffffffffffffff"},
        {refText("KivTest::Gadget", base), "is not a KivTest::Gadget"},
        {refText("KivTest::Sprocket", base), "is not a KivTest::Sprocket"},
        {"Ref(KivTest::Widget, 0x10)", "expected 'Ref('' but found"},
        {"Ref('KivTest::Widget' 0x10)", "expected '', ' but found"},
        {"Ref('KivTest::Widget', 0x10", "expected ')' but found end of text"},
        {"Nil", "expected 'Ref('' but found 'Nil'"},
    };
    for (const auto& c : cases) {
        const RangeException e = rangeError([&] { parse(c.text); });
        EXPECT_THAT(e.message(), HasSubstr(c.message)) << c.text;
    }
    EXPECT_EQ(widget->references(), 1u);
    // The offset points at the address for a dead one, at the start for a wrong type.
    EXPECT_EQ(rangeError([&] { parse(stale); }).offset(), stale.find("0x"));
    EXPECT_EQ(rangeError([&] { parse(refText("KivTest::Gadget", base)); }).offset(), 0u);
}

TEST_F(ReferenceTextTest, ObjectWithoutReferencesIsNotHandedOut) {
    // Built outside the creation path: its slot is live but nothing owns it.
    auto* loose = new Gadget();
    const Kiv::String text = Kiv::valueToStrepOfRawPtr(loose);
    EXPECT_THAT(rangeError([&] { parse(text); }).message(), HasSubstr("is not a KivTest::Gadget"));
    delete loose;
}

TEST(ExceptionTest, HierarchyAndMessages) {
    static_assert(std::is_base_of_v<Kiv::Exception, Kiv::InternalException>);
    static_assert(std::is_base_of_v<Kiv::Exception, RangeException>);
    static_assert(std::is_base_of_v<Dorvu::Exception, Kiv::Exception>);
    const Kiv::InternalException internal(Kiv::_fmt("table %s broke", "t1"));
    const std::exception& root = internal;
    EXPECT_STREQ(root.what(), "table t1 broke");
    EXPECT_STREQ(internal.name(), "InternalException");
    EXPECT_EQ(Dorvu::CorruptionDetectedException("record 3: bad checksum").msg(),
              "record 3: bad checksum");
    EXPECT_STREQ(Kiv::UnhashableTypeException("KivTest::Widget").what(),
                 "unhashable type: 'KivTest::Widget'");
}

TEST(FormatTest, FormatsAnyLength) {
    EXPECT_EQ(Kiv::_fmt("%s=%u (%#x) %5.1f%%", "port", 80u, 80u, 2.25), "port=80 (0x50)   2.2%");
    EXPECT_EQ(Kiv::_fmt("%s", ""), "");
    const Kiv::String longText(5000, 'z');
    EXPECT_EQ(Kiv::_fmt("<%s>", longText.c_str()), "<" + longText + ">");
}

}  // namespace
}  // namespace KivTest
