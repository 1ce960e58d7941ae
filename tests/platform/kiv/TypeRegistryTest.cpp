// Generic access by name: members in declaration order, sets from Values and text, calls.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "TestTypes.h"
#include "support/LeakCheck.h"

namespace KivTest {
namespace {

using Kiv::AttributeException;
using Kiv::RangeException;
using Kiv::U64;
using Kiv::Value;
using ::testing::StartsWith;

class TypeRegistryTest : public TestSupport::LeakCheck {
  protected:
    // "ok", or the class (a range error with its attribute) and message `request` raised.
    template <class F>
    static std::string failure(F&& request) {
        try {
            request();
        } catch (const RangeException& e) {
            return "range(" + e.attribute() + ") " + e.what();
        } catch (const AttributeException& e) {
            return std::string("attribute ") + e.what();
        }
        return "ok";
    }

    Widget::Ptr widget_ = Kiv::create<Widget>(5u);
};

TEST_F(TypeRegistryTest, TypesListMembersInDeclarationOrderAndKnowTheirBases) {
    std::string attributes, operations;
    for (const auto* a : widget_->kivType().attributes())
        attributes += a->name + std::string(a->writable() ? " " : "(ro) ");
    for (const auto* o : widget_->kivType().operations()) operations += o->name + std::string(" ");
    EXPECT_EQ(attributes, "serial(ro) label port flag color peer entries(ro) ");
    EXPECT_EQ(operations, "reset add swapPeer ");
    const Kiv::TypeInfo* type = Kiv::TypeInfo::named("KivTest::Widget");
    ASSERT_EQ(type, &Widget::kivTypeInfo());
    EXPECT_TRUE(type->isA(Kiv::Entity::kivTypeInfo()));
    EXPECT_FALSE(Gadget::kivTypeInfo().isA(*type));
    EXPECT_EQ(Kiv::TypeInfo::named("KivTest::Widge"), nullptr);
    EXPECT_EQ(Kiv::TypeInfo::named("KivTest::Sprocket")->create(), nullptr) << "no creation";
}

// Each bad request names what went wrong and leaves the object as the last good one left it.
TEST_F(TypeRegistryTest, SetByNameFromTextReadsBackOrNamesTheAttributeThatRefusedIt) {
    const struct {
        const char* attribute;
        const char* text;
        Value read;
    } accepted[] = {
        {"port", "65535", Value(U64{65535})},
        {"port", "0x1F90", Value(U64{8080})},
        {"flag", "true", Value(true)},
        {"color", "blue", Value(U64{2})},  // enums read as numbers
        {"color", "1", Value(U64{1})},
        {"label", "any text, even ) and '", Value(Kiv::String("any text, even ) and '"))},
        {"peer", "None", Value(Kiv::ObjectRef())},
    };
    for (const auto& c : accepted) {
        EXPECT_EQ(failure([&] { genericSetStrep(*widget_, c.attribute, c.text); }), "ok") << c.text;
        EXPECT_EQ(genericGet(*widget_, c.attribute), c.read) << c.text;
    }
    // "attribute=text", and the start of the failure.
    const std::pair<std::string, const char*> refused[] = {
        {"port=eighty", "range(port) attribute 'port': expected an unsigned number but found"},
        {"flag=yes", "range(flag) attribute 'flag': expected true or false at offset 0"},
        {"color=purple", "range(color) attribute 'color': 'purple' is not a value of KivTest::"},
        {"color=3", "range(color) attribute 'color': 3 is not a value of KivTest::Color (0 to 2)"},
        {"peer=Ref(0x10)", "range(peer) attribute 'peer': expected 'Ref('' but found 'Ref(0x10)'"},
        {"port=70000", "attribute attribute 'port' takes a U16 (0 to 65535), not 70000"},
        {"serial=9", "attribute attribute 'serial' of KivTest::Widget is read only"},
        {"volume=9", "attribute KivTest::Widget has no attribute 'volume'"},
        {"entries=9", "attribute attribute 'entries' of KivTest::Widget is a collection"},
    };
    for (const auto& [request, failed] : refused) {
        const std::size_t eq = request.find('=');
        EXPECT_THAT(failure([&] {
                        genericSetStrep(*widget_, request.substr(0, eq), request.substr(eq + 1));
                    }),
                    StartsWith(failed));
    }
    EXPECT_EQ(std::tuple(widget_->color(), widget_->serial()), std::tuple(Color::green, 5u));
    const Widget::Ptr other = Kiv::create<Widget>();  // a subclass is accepted
    genericSetStrep(*widget_, "peer", Kiv::valueToStrepOfRawPtr(other.ptr()));
    EXPECT_EQ(widget_->peer(), other);
    genericSet(*widget_, "label", Value(Kiv::String("front")));  // inherited attribute
    genericSet(*widget_, "color", Value(Kiv::String("red")));    // an enum by name
    EXPECT_EQ(std::tuple(widget_->label(), widget_->color()), std::tuple("front", Color::red));
    const std::pair<const char*, Value> mistyped[] = {
        {"port", Kiv::String("80")},
        {"flag", U64{1}},
        {"peer", Kiv::ObjectRef(Kiv::create<Sprocket>())}};
    for (const auto& [attribute, value] : mistyped)
        EXPECT_THROW(genericSet(*widget_, attribute, value), AttributeException) << attribute;
    EXPECT_THROW(genericGet(*widget_, "entries"), AttributeException);
    EXPECT_THROW(genericCollection(*widget_, "port"), AttributeException);
    EXPECT_EQ(std::tuple(widget_->port(), widget_->flag()), std::tuple(8080, true));
}

TEST_F(TypeRegistryTest, OperationsAreCalledByNameWithCheckedArguments) {
    const Value args[] = {Value(U64{40000}), Value(U64{30000})};
    EXPECT_EQ(genericCall(*widget_, "add", args), Value(U64{70000}));
    const Widget::Ptr gadget = Kiv::create<Widget>();  // a subclass is accepted
    const Value peer[] = {Value(Kiv::ObjectRef(gadget))};
    EXPECT_EQ(genericCall(*widget_, "swapPeer", peer), Value(Kiv::ObjectRef()));
    EXPECT_EQ(genericCall(*widget_, "swapPeer", peer), Value(Kiv::ObjectRef(gadget)));
    widget_->labelIs("x");
    EXPECT_EQ(genericCall(*widget_, "reset"), Value());  // inherited, returns nothing
    EXPECT_EQ(widget_->label(), "");
    const struct {
        const char* operation;
        std::vector<Value> args;
        const char* message;
    } errors[] = {
        {"add", {U64{1}}, "operation 'add' of KivTest::Widget takes 2 arguments, not 1"},
        {"add", {U64{1}, true}, "argument 2 of 'add' takes U16, not true"},
        {"add", {U64{70000}, U64{1}}, "argument 1 of 'add' takes a U16 (0 to 65535), not 70000"},
        {"swapPeer",
         {Kiv::ObjectRef(Kiv::create<Sprocket>())},
         "argument 1 of 'swapPeer' takes a KivTest::Gadget, not a KivTest::Sprocket"},
        {"fly", {}, "KivTest::Widget has no operation 'fly'"},
    };
    for (const auto& c : errors)
        EXPECT_THAT(failure([&] { genericCall(*widget_, c.operation, c.args); }),
                    StartsWith(std::string("attribute ") + c.message));
    EXPECT_EQ(widget_->peer(), gadget);
}

}  // namespace
}  // namespace KivTest
