// Generic access by name: attributes and operations in declaration order,
// values set from Values and from text, and collection attributes.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "TestTypes.h"
#include "support/LeakCheck.h"
#include "support/Thrown.h"

namespace KivTest {
namespace {

using Kiv::AttributeException;
using Kiv::RangeException;
using Kiv::Value;
using ::testing::HasSubstr;
using TestSupport::thrown;

class TypeRegistryTest : public TestSupport::LeakCheck {
  protected:
    Widget::Ptr widget_ = Kiv::create<Widget>(5u);
};

TEST_F(TypeRegistryTest, TypesListMembersInDeclarationOrderCreateObjectsAndServeCollections) {
    std::string attributes, operations;
    for (const auto* a : widget_->kivType().attributes()) {
        attributes += a->name + std::string(a->writable() ? " " : "(ro) ");
    }
    for (const auto* o : widget_->kivType().operations()) operations += o->name + std::string(" ");
    EXPECT_EQ(attributes, "serial(ro) label port flag color peer entries(ro) ");
    EXPECT_EQ(operations, "reset add swapPeer ");
    const Kiv::TypeInfo* type = Kiv::TypeInfo::named("KivTest::Widget");
    ASSERT_EQ(type, &Widget::kivTypeInfo());
    EXPECT_TRUE(type->isA(Kiv::Entity::kivTypeInfo()));
    EXPECT_FALSE(Gadget::kivTypeInfo().isA(*type));
    EXPECT_EQ(Kiv::TypeInfo::named("KivTest::Widge"), nullptr);
    const Kiv::PtrInterface::Ptr made = type->create();
    ASSERT_TRUE(made);
    EXPECT_EQ(&made->kivType(), type);
    EXPECT_EQ(Kiv::TypeInfo::named("KivTest::Sprocket")->create(), nullptr);
    widget_->entries().insertOrAssign(Kiv::create<Gadget>(), 1);
    EXPECT_EQ(genericCollection(*widget_, "entries").count(*widget_), 1u);
}

TEST_F(TypeRegistryTest, GetAndSetByNameFromTextAndValues) {
    const struct {
        const char* attribute;
        const char* text;
        Value read;
    } cases[] = {
        {"port", "65535", Value(Kiv::U64{65535})},
        {"port", "0x1F90", Value(Kiv::U64{8080})},
        {"flag", "true", Value(true)},
        {"color", "blue", Value(Kiv::U64{2})},  // enums read as numbers
        {"color", "1", Value(Kiv::U64{1})},
        {"label", "any text, even ) and '", Value(Kiv::String("any text, even ) and '"))},
        {"peer", "None", Value(Kiv::ObjectRef())},
    };
    for (const auto& c : cases) {
        genericSetStrep(*widget_, c.attribute, c.text);
        EXPECT_EQ(genericGet(*widget_, c.attribute), c.read) << c.text;
    }
    EXPECT_EQ(widget_->color(), Color::green);
    EXPECT_EQ(genericGet(*widget_, "serial"), Value(Kiv::U64{5}));
    const Widget::Ptr other = Kiv::create<Widget>();  // a subclass is accepted
    genericSetStrep(*widget_, "peer", Kiv::valueToStrepOfRawPtr(other.ptr()));
    EXPECT_EQ(widget_->peer(), other);
    genericSet(*widget_, "label", Value(Kiv::String("front")));  // inherited attribute
    genericSet(*widget_, "flag", Value(false));
    genericSet(*widget_, "color", Value(Kiv::String("red")));  // an enum by name
    EXPECT_EQ(widget_->label(), "front");
    EXPECT_FALSE(widget_->flag());
    EXPECT_EQ(widget_->color(), Color::red);
}

// Each request fails with an error naming what went wrong, and leaves the object unchanged.
TEST_F(TypeRegistryTest, BadRequestsAreRejectedWithTheAttributeNamed) {
    struct Case {
        const char* attribute;
        const char* text;
        const char* message;
    };
    const Case rangeErrors[] = {
        {"port", "eighty", "attribute 'port': expected an unsigned number but found 'eighty'"},
        {"flag", "yes", "attribute 'flag': expected true or false at offset 0"},
        {"color", "purple", "attribute 'color': 'purple' is not a value of KivTest::Color"},
        {"color", "3", "attribute 'color': 3 is not a value of KivTest::Color (0 to 2)"},
        {"peer", "Ref(0x10)", "attribute 'peer': expected 'Ref('' but found 'Ref(0x10)'"},
    };
    for (const Case& c : rangeErrors) {
        SCOPED_TRACE(c.text);
        if (const auto e =
                thrown<RangeException>([&] { genericSetStrep(*widget_, c.attribute, c.text); })) {
            EXPECT_THAT(e->what(), HasSubstr(c.message));
            EXPECT_EQ(e->attribute(), c.attribute);
        }
    }
    const Case attributeErrors[] = {
        {"port", "70000", "attribute 'port' takes a U16 (0 to 65535), not 70000"},
        {"serial", "9", "attribute 'serial' of KivTest::Widget is read only"},
        {"volume", "9", "KivTest::Widget has no attribute 'volume'"},
        {"entries", "9", "attribute 'entries' of KivTest::Widget is a collection"},
    };
    for (const Case& c : attributeErrors) {
        SCOPED_TRACE(c.text);
        const auto e =
            thrown<AttributeException>([&] { genericSetStrep(*widget_, c.attribute, c.text); });
        EXPECT_THAT(e ? e->what() : "", HasSubstr(c.message));
    }
    EXPECT_THROW(genericSet(*widget_, "port", Value(Kiv::String("80"))), AttributeException);
    EXPECT_THROW(genericSet(*widget_, "flag", Value(Kiv::U64{1})), AttributeException);
    EXPECT_THROW(genericSet(*widget_, "peer", Value(Kiv::ObjectRef(Kiv::create<Sprocket>()))),
                 AttributeException);
    EXPECT_THROW(genericGet(*widget_, "entries"), AttributeException);
    EXPECT_THROW(genericCollection(*widget_, "port"), AttributeException);
    EXPECT_EQ(widget_->port(), 0);
    EXPECT_FALSE(widget_->flag());
    EXPECT_EQ(widget_->color(), Color::red);
}

TEST_F(TypeRegistryTest, OperationsAreCalledByNameWithCheckedArguments) {
    const Value args[] = {Value(Kiv::U64{40000}), Value(Kiv::U64{30000})};
    EXPECT_EQ(genericCall(*widget_, "add", args), Value(Kiv::U64{70000}));
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
        {"add",
         {Value(Kiv::U64{1})},
         "operation 'add' of KivTest::Widget takes 2 arguments, not 1"},
        {"add", {Value(Kiv::U64{1}), Value(true)}, "argument 2 of 'add' takes U16, not true"},
        {"add",
         {Value(Kiv::U64{70000}), Value(Kiv::U64{1})},
         "argument 1 of 'add' takes a U16 (0 to 65535), not 70000"},
        {"swapPeer",
         {Value(Kiv::ObjectRef(Kiv::create<Sprocket>()))},
         "argument 1 of 'swapPeer' takes a KivTest::Gadget, not a KivTest::Sprocket"},
        {"fly", {}, "KivTest::Widget has no operation 'fly'"},
    };
    for (const auto& c : errors) {
        const auto e =
            thrown<AttributeException>([&] { genericCall(*widget_, c.operation, c.args); });
        EXPECT_THAT(e ? e->what() : "", HasSubstr(c.message));
    }
    EXPECT_EQ(widget_->peer(), gadget);
}

}  // namespace
}  // namespace KivTest
