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

TEST_F(TypeRegistryTest, AttributesAndOperationsListBaseFirstInDeclarationOrder) {
    std::vector<std::string> names;
    std::vector<bool> writable;
    for (const auto* a : widget_->kivType().attributes()) {
        names.push_back(a->name);
        writable.push_back(a->writable());
    }
    EXPECT_EQ(names, (std::vector<std::string>{"serial", "label", "port", "flag", "color", "peer",
                                               "entries"}));
    EXPECT_EQ(writable, (std::vector<bool>{false, true, true, true, true, true, false}));
    names.clear();
    for (const auto* o : widget_->kivType().operations()) names.push_back(o->name);
    EXPECT_EQ(names, (std::vector<std::string>{"reset", "add", "swapPeer"}));
    EXPECT_EQ(Kiv::TypeInfo::named("KivTest::Gadget")->attributes().size(), 2u);
}

TEST_F(TypeRegistryTest, TypesAreFoundByNameAndCreateTrackedObjects) {
    const Kiv::TypeInfo* type = Kiv::TypeInfo::named("KivTest::Widget");
    ASSERT_EQ(type, &Widget::kivTypeInfo());
    EXPECT_TRUE(type->isA(Gadget::kivTypeInfo()));
    EXPECT_TRUE(type->isA(Kiv::Entity::kivTypeInfo()));
    EXPECT_FALSE(Gadget::kivTypeInfo().isA(*type));
    EXPECT_EQ(Kiv::TypeInfo::named("KivTest::Nothing"), nullptr);
    EXPECT_EQ(Kiv::TypeInfo::named("KivTest::Widge"), nullptr);

    Kiv::PtrInterface::Ptr made = type->create();
    ASSERT_TRUE(made);
    EXPECT_EQ(&made->kivType(), type);
    EXPECT_EQ(Widget::memAllocationTracker_.liveObjects(), 2u);
    EXPECT_EQ(Kiv::TypeInfo::named("KivTest::Sprocket")->create(),
              nullptr);  // no creation function
}

TEST_F(TypeRegistryTest, GetAndSetByNameFromValuesAndText) {
    genericSet(*widget_, "label", Value(Kiv::String("front")));  // inherited attribute
    genericSet(*widget_, "port", Value(Kiv::U64{65535}));
    genericSetStrep(*widget_, "flag", "true");
    genericSetStrep(*widget_, "color", "blue");
    EXPECT_EQ(widget_->label(), "front");
    EXPECT_EQ(widget_->port(), 65535);
    EXPECT_TRUE(widget_->flag());
    EXPECT_EQ(widget_->color(), Color::blue);
    EXPECT_EQ(genericGet(*widget_, "serial"), Value(Kiv::U64{5}));
    EXPECT_EQ(genericGet(*widget_, "label"), Value(Kiv::String("front")));
    EXPECT_EQ(genericGet(*widget_, "color"), Value(Kiv::U64{2}));  // enums read as numbers

    genericSetStrep(*widget_, "port", "0x1F90");
    genericSetStrep(*widget_, "label", "any text, even ) and '");
    genericSetStrep(*widget_, "color", "1");
    genericSet(*widget_, "flag", Value(false));
    EXPECT_EQ(genericGet(*widget_, "port"), Value(Kiv::U64{8080}));
    EXPECT_EQ(widget_->label(), "any text, even ) and '");
    EXPECT_EQ(widget_->color(), Color::green);
    EXPECT_FALSE(widget_->flag());
    genericSet(*widget_, "color", Value(Kiv::String("red")));
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
        {"port", "80x", "attribute 'port': unexpected trailing text 'x' at offset 2"},
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
    EXPECT_THROW(genericGet(*widget_, "entries"), AttributeException);
    EXPECT_EQ(widget_->port(), 0);
    EXPECT_FALSE(widget_->flag());
    EXPECT_EQ(widget_->color(), Color::red);
    EXPECT_EQ(widget_->serial(), 5u);
}

TEST_F(TypeRegistryTest, ReferenceAttributesCheckTheTypeOfTheObject) {
    Gadget::Ptr gadget = Kiv::create<Gadget>(1u);
    Widget::Ptr other = Kiv::create<Widget>(2u);
    genericSetStrep(*widget_, "peer", Kiv::valueToStrepOfRawPtr(gadget.ptr()));
    EXPECT_EQ(widget_->peer(), gadget);
    genericSet(*widget_, "peer", Value(Kiv::ObjectRef(other)));  // a subclass is accepted
    EXPECT_EQ(widget_->peer(), other);
    EXPECT_EQ(genericGet(*widget_, "peer"), Value(Kiv::ObjectRef(other)));
    const auto e = thrown<AttributeException>(
        [&] { genericSet(*widget_, "peer", Value(Kiv::ObjectRef(Kiv::create<Sprocket>()))); });
    EXPECT_THAT(e ? e->what() : "",
                HasSubstr("attribute 'peer' takes a KivTest::Gadget, not a KivTest::Sprocket"));
    EXPECT_EQ(widget_->peer(), other);
    genericSetStrep(*widget_, "peer", "None");
    EXPECT_FALSE(widget_->peer());
}

TEST_F(TypeRegistryTest, OperationsAreCalledByNameWithCheckedArguments) {
    const Value args[] = {Value(Kiv::U64{40000}), Value(Kiv::U64{30000})};
    EXPECT_EQ(genericCall(*widget_, "add", args), Value(Kiv::U64{70000}));

    Gadget::Ptr gadget = Kiv::create<Gadget>();
    const Value peer[] = {Value(Kiv::ObjectRef(gadget))};
    EXPECT_EQ(genericCall(*widget_, "swapPeer", peer), Value(Kiv::ObjectRef()));
    EXPECT_EQ(widget_->peer(), gadget);
    EXPECT_EQ(genericCall(*widget_, "swapPeer", peer), Value(Kiv::ObjectRef(gadget)));

    widget_->labelIs("x");
    EXPECT_EQ(genericCall(*widget_, "reset"), Value());  // inherited, returns nothing
    EXPECT_EQ(widget_->label(), "");

    struct Case {
        const char* operation;
        std::vector<Value> args;
        const char* message;
    };
    const Case errors[] = {
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
    for (const Case& c : errors) {
        const auto e =
            thrown<AttributeException>([&] { genericCall(*widget_, c.operation, c.args); });
        EXPECT_THAT(e ? e->what() : "", HasSubstr(c.message));
    }
    EXPECT_EQ(widget_->peer(), gadget);
}

TEST_F(TypeRegistryTest, CollectionAttributeServesLookupUpdateAndIteration) {
    const Kiv::CollectionOps& entries = genericCollection(*widget_, "entries");
    std::vector<Value> keys;
    for (Kiv::U32 i = 0; i < 40; ++i) {
        keys.emplace_back(Kiv::ObjectRef(Kiv::create<Gadget>(i)));
        entries.set(*widget_, keys.back(), Value(Kiv::U64{i * 10}));
    }
    entries.set(*widget_, keys[3], Value(Kiv::U64{7}));
    EXPECT_EQ(entries.count(*widget_), 40u);
    EXPECT_TRUE(entries.has(*widget_, keys[3]));
    EXPECT_EQ(entries.get(*widget_, keys[3]), Value(Kiv::U64{7}));
    EXPECT_EQ(entries.del(*widget_, keys[3]), Value(Kiv::U64{7}));
    EXPECT_FALSE(entries.has(*widget_, keys[3]));
    EXPECT_EQ(entries.get(*widget_, keys[3]), Value());
    EXPECT_EQ(entries.del(*widget_, keys[3]), Value());
    EXPECT_EQ(entries.count(*widget_), 39u);

    const auto collect = [&](const Value& start) {
        std::vector<Value> seen;
        entries.iterate(*widget_, start, [&](const Value& k, const Value& v) {
            const auto* gadget = static_cast<const Gadget*>(std::get<Kiv::ObjectRef>(k).ptr());
            EXPECT_EQ(v, Value(Kiv::U64{gadget->serial() * 10}));
            seen.push_back(k);
            return true;
        });
        return seen;
    };
    const std::vector<Value> all = collect(Value());
    ASSERT_EQ(all.size(), 39u);
    EXPECT_EQ(collect(all[20]), std::vector<Value>(all.begin() + 20, all.end()));
    EXPECT_TRUE(collect(keys[3]).empty());  // no longer a key
    EXPECT_THROW(genericCollection(*widget_, "port"), AttributeException);
}

}  // namespace
}  // namespace KivTest
