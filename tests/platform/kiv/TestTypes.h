#pragma once
// Runtime classes for the suites: a base, a derived one with every kind of attribute and
// an unrelated one; they register when the program loads, as a library's classes do.

#include <atomic>
#include <stdexcept>

#include "kiv/Kiv.h"

namespace KivTest {

enum class Color : Kiv::U8 { red, green, blue };
inline const Kiv::EnumType kColor("KivTest::Color", {"red", "green", "blue"});

inline std::atomic<int> gadgetsDestroyed{0};  // also of derived objects

class Gadget : public Kiv::Entity {
    KIV_CLASS(Gadget)
  public:
    using Ptr = Dorvu::Ptr<Gadget>;
    using PtrConst = Dorvu::Ptr<const Gadget>;

    explicit Gadget(Kiv::U32 serial = 0) : serial_(serial) {}
    ~Gadget() override {
        notificationIs(false);
        serial_ = 0;
        ++gadgetsDestroyed;
    }

    Kiv::U32 serial() const { return serial_; }
    Kiv::String label() const { return label_; }
    void labelIs(const Kiv::String& label) { label_ = label; }
    void reset() { label_.clear(); }

  private:
    Kiv::U32 serial_;
    Kiv::String label_;
};

class Widget : public Gadget {
    KIV_CLASS(Widget)
  public:
    using Ptr = Dorvu::Ptr<Widget>;

    explicit Widget(Kiv::U32 serial = 0) : Gadget(serial) {}

    Kiv::U16 port() const { return port_; }
    void portIs(Kiv::U16 port) { port_ = port; }
    bool flag() const { return flag_; }
    void flagIs(bool flag) { flag_ = flag; }
    Color color() const { return color_; }
    void colorIs(Color color) { color_ = color; }
    Gadget::PtrConst peer() const { return peer_; }
    void peerIs(const Gadget::PtrConst& peer) { peer_ = peer; }

    Kiv::U32 add(Kiv::U16 a, Kiv::U16 b) const { return Kiv::U32{a} + b; }
    // Sets the peer and hands back the previous one.
    Gadget::PtrConst swapPeer(Gadget::PtrConst peer) {
        std::swap(peer, peer_);
        return peer;
    }

  private:
    Kiv::U16 port_ = 0;
    bool flag_ = false;
    Color color_ = Color::red;
    Gadget::PtrConst peer_;
};

// Unrelated to Gadget; no creation function; its constructor throws when asked to.
class Sprocket : public Kiv::PtrInterface {
    KIV_CLASS(Sprocket)
  public:
    explicit Sprocket(bool fail = false) {
        if (fail)
            throw std::runtime_error("Sprocket refused to be built");
    }
};

inline Kiv::MemAllocationTracker Gadget::memAllocationTracker_{"KivTest::Gadget"};
inline Kiv::MemAllocationTracker Widget::memAllocationTracker_{"KivTest::Widget"};
inline Kiv::MemAllocationTracker Sprocket::memAllocationTracker_{"KivTest::Sprocket"};

inline const Kiv::TypeInfo& Gadget::kivTypeInfo() {
    static const Kiv::TypeInfo type{
        "KivTest::Gadget",
        &Kiv::Entity::kivTypeInfo(),
        {Kiv::readOnlyAttribute<&Gadget::serial>("serial"),
         Kiv::attribute<&Gadget::label, &Gadget::labelIs>("label")},
        {Kiv::operation<&Gadget::reset>("reset")},
        []() -> Kiv::PtrInterface::Ptr { return Kiv::create<Gadget>(); }};
    return type;
}

inline const Kiv::TypeInfo& Widget::kivTypeInfo() {
    static const Kiv::CollectionOps noEntries{};  // only its kind is ever asked for
    static const Kiv::TypeInfo type{
        "KivTest::Widget",
        &Gadget::kivTypeInfo(),
        {Kiv::attribute<&Widget::port, &Widget::portIs>("port"),
         Kiv::attribute<&Widget::flag, &Widget::flagIs>("flag"),
         Kiv::enumAttribute<&Widget::color, &Widget::colorIs>("color", kColor),
         Kiv::attribute<&Widget::peer, &Widget::peerIs>("peer"),
         Kiv::collectionAttribute("entries", noEntries)},
        {Kiv::operation<&Widget::add>("add"), Kiv::operation<&Widget::swapPeer>("swapPeer")},
        []() -> Kiv::PtrInterface::Ptr { return Kiv::create<Widget>(); }};
    return type;
}

inline const Kiv::TypeInfo& Sprocket::kivTypeInfo() {
    static const Kiv::TypeInfo type{"KivTest::Sprocket", &Kiv::PtrInterface::kivTypeInfo(), {}, {}};
    return type;
}

[[maybe_unused]] inline const bool kRegistered =
    (Widget::kivTypeInfo(), Sprocket::kivTypeInfo(), true);

}  // namespace KivTest
