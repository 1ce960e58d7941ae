#include "TestTypes.h"

namespace KivTest {

using Kiv::Value;

const Kiv::EnumType kColor("KivTest::Color", {"red", "green", "blue"});

Kiv::MemAllocationTracker Gadget::memAllocationTracker_{"KivTest::Gadget"};
Kiv::MemAllocationTracker Widget::memAllocationTracker_{"KivTest::Widget"};
Kiv::MemAllocationTracker Sprocket::memAllocationTracker_{"KivTest::Sprocket"};
Kiv::MemAllocationTracker Fragile::memAllocationTracker_{"KivTest::Fragile"};

const Kiv::TypeInfo& Gadget::kivTypeInfo() {
    static const Kiv::TypeInfo type{
        "KivTest::Gadget",
        &Kiv::Entity::kivTypeInfo(),
        {Kiv::readOnlyAttribute<&Gadget::serial>("serial"),
         Kiv::attribute<&Gadget::label, &Gadget::labelIs>("label")},
        {Kiv::operation<&Gadget::reset>("reset")},
        []() -> Kiv::PtrInterface::Ptr { return Kiv::create<Gadget>(); }};
    return type;
}

namespace {

const Widget::Entries& entriesOf(const Kiv::PtrInterface& o) {
    return static_cast<const Widget&>(o).entries();
}
Widget::Entries& entriesOf(Kiv::PtrInterface& o) {
    return static_cast<Widget&>(o).entries();
}
Gadget::PtrConst keyOf(const Value& key) {
    return Kiv::ValueTraits<Gadget::PtrConst>::from(key, "key of 'entries'");
}

}  // namespace

const Kiv::CollectionOps Widget::entriesOps{
    [](const Kiv::PtrInterface& o) { return entriesOf(o).size(); },
    [](const Kiv::PtrInterface& o, const Value& key) {
        return entriesOf(o).find(keyOf(key).ptr()) != nullptr;
    },
    [](const Kiv::PtrInterface& o, const Value& key) -> Value {
        const Kiv::U32* v = entriesOf(o).find(keyOf(key).ptr());
        return v ? Value(Kiv::U64{*v}) : Value();
    },
    [](Kiv::PtrInterface& o, const Value& key, const Value& value) {
        entriesOf(o).insertOrAssign(keyOf(key),
                                    Kiv::ValueTraits<Kiv::U32>::from(value, "value of 'entries'"));
    },
    [](Kiv::PtrInterface& o, const Value& key) -> Value {
        Kiv::U32 removed = 0;
        return entriesOf(o).erase(keyOf(key).ptr(), &removed) ? Value(Kiv::U64{removed}) : Value();
    },
    [](const Kiv::PtrInterface& o, const Value& start,
       const std::function<bool(const Value&, const Value&)>& visit) {
        entriesOf(o).forEachFrom(keyOf(start).ptr(), [&](const auto& key, Kiv::U32 value) {
            return visit(Kiv::ObjectRef(key.ptr()), Value(Kiv::U64{value}));
        });
    }};

const Kiv::TypeInfo& Widget::kivTypeInfo() {
    static const Kiv::TypeInfo type{
        "KivTest::Widget",
        &Gadget::kivTypeInfo(),
        {Kiv::attribute<&Widget::port, &Widget::portIs>("port"),
         Kiv::attribute<&Widget::flag, &Widget::flagIs>("flag"),
         Kiv::enumAttribute<&Widget::color, &Widget::colorIs>("color", kColor),
         Kiv::attribute<&Widget::peer, &Widget::peerIs>("peer"),
         Kiv::collectionAttribute("entries", entriesOps)},
        {Kiv::operation<&Widget::add>("add"), Kiv::operation<&Widget::swapPeer>("swapPeer")},
        []() -> Kiv::PtrInterface::Ptr { return Kiv::create<Widget>(); }};
    return type;
}

const Kiv::TypeInfo& Sprocket::kivTypeInfo() {
    static const Kiv::TypeInfo type{"KivTest::Sprocket", &Kiv::PtrInterface::kivTypeInfo(), {}, {}};
    return type;
}

const Kiv::TypeInfo& Fragile::kivTypeInfo() {
    static const Kiv::TypeInfo type{"KivTest::Fragile", &Kiv::PtrInterface::kivTypeInfo(), {}, {}};
    return type;
}

// Registers the types when the test program loads, as a library does.
[[maybe_unused]] const bool registered = (Widget::kivTypeInfo(), Sprocket::kivTypeInfo(), true);

}  // namespace KivTest
