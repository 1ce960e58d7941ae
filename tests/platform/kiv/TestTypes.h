#pragma once
// Small runtime classes that the suites exercise the runtime with: a base
// class and a derived one with every kind of attribute, an unrelated class,
// and one whose constructor can throw.

#include <atomic>
#include <stdexcept>

#include "kiv/Kiv.h"

namespace KivTest {

enum class Color : Kiv::U8 { red, green, blue };
extern const Kiv::EnumType kColor;

// Destructions of Gadget objects (and of everything derived from it).
inline std::atomic<int> gadgetsDestroyed{0};

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
    void labelIs(const Kiv::String& label) {
        label_ = label;
        attributeChanged("label");
    }
    void reset() { label_.clear(); }

  private:
    Kiv::U32 serial_;
    Kiv::String label_;
};

class Widget : public Gadget {
    KIV_CLASS(Widget)
  public:
    using Ptr = Dorvu::Ptr<Widget>;
    using Entries = Kiv::HashMap2018<const Gadget, Kiv::U32>;
    static const Kiv::CollectionOps entriesOps;

    explicit Widget(Kiv::U32 serial = 0) : Gadget(serial) {}

    Kiv::U16 port() const { return port_; }
    void portIs(Kiv::U16 port) { port_ = port; }
    bool flag() const { return flag_; }
    void flagIs(bool flag) { flag_ = flag; }
    Color color() const { return color_; }
    void colorIs(Color color) { color_ = color; }
    Gadget::PtrConst peer() const { return peer_; }
    void peerIs(const Gadget::PtrConst& peer) { peer_ = peer; }
    Entries& entries() { return entries_; }
    const Entries& entries() const { return entries_; }

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
    Entries entries_;
};

// Unrelated to Gadget; its type has no creation function.
class Sprocket : public Kiv::PtrInterface {
    KIV_CLASS(Sprocket)
};

class Fragile : public Kiv::PtrInterface {
    KIV_CLASS(Fragile)
  public:
    explicit Fragile(bool fail) {
        if (fail)
            throw std::runtime_error("Fragile refused to be built");
    }

  private:
    char payload_[200] = {};
};

}  // namespace KivTest
