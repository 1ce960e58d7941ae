// The object runtime: counted references, lifetime, slab and creation path in both
// counting modes; Kiv::HashMap2018, whose keys are objects held by counted references;
// text (the CharRange cursor, enum names and numbers, object reference texts); generic
// access by name (members in declaration order, sets from Values and text, calls).

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

#include "kiv/Kiv.h"
#include "support/LeakCheck.h"
#include "support/Thrown.h"

namespace KivTest {

// Runtime classes: a base, a derived one with every kind of attribute and an unrelated
// one; they register when the program loads, as a library's classes do.
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

namespace {

using Kiv::AttributeException;
using Kiv::CharRange;
using Kiv::RangeException;
using Kiv::U64;
using Kiv::Value;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using namespace std::string_literals;

// In the counting mode of the parameter, restored after.
class PtrTest : public TestSupport::LeakCheck, public ::testing::WithParamInterface<bool> {
  protected:
    void SetUp() override { Dorvu::threadSafePtrsIs(GetParam()); }
    void TearDown() override { Dorvu::threadSafePtrsIs(previous_); }

  private:
    const bool previous_ = Dorvu::threadSafePtrs();
};
INSTANTIATE_TEST_SUITE_P(Modes, PtrTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Atomic" : "Plain"; });
// Threads share counts only in the atomic mode.
class AtomicPtrTest : public PtrTest {};
INSTANTIATE_TEST_SUITE_P(Modes, AtomicPtrTest, ::testing::Values(true),
                         [](const auto&) { return "Atomic"; });

TEST_P(PtrTest, ObjectDiesExactlyWhenTheLastReferenceGoes) {
    const int destroyedBefore = gadgetsDestroyed;
    Widget::Ptr first = Kiv::create<Widget>(7u);
    const Widget* raw = first.ptr();
    EXPECT_EQ(Widget::memAllocationTracker_.liveBytes(), sizeof(Widget));  // on its own class
    EXPECT_TRUE(first->notification());  // switched on by the creation path
    {
        Gadget::Ptr second = first;
        Gadget::PtrConst third = second;             // conversion to const adds a reference
        Gadget::PtrConst fourth = std::move(third);  // a move does not
        const Kiv::PtrInterface::Ptr base = first;
        EXPECT_EQ(Dorvu::ptrCast<Gadget>(base), second);
        EXPECT_FALSE(Dorvu::ptrCast<Sprocket>(base));
        EXPECT_EQ(raw->references(), 4u) << "a cast left a reference behind";
        EXPECT_FALSE(third);
        first = nullptr;
        second = second;  // self-assignment keeps the object
        EXPECT_EQ(raw->references(), 3u);
        EXPECT_EQ(fourth->serial(), 7u);
    }
    EXPECT_EQ(gadgetsDestroyed, destroyedBefore + 1);
    EXPECT_EQ(Widget::memAllocationTracker_.liveBytes(), 0u);
    // The fixture checks that slab and trackers end as they began, also after this.
    EXPECT_THROW(Kiv::create<Sprocket>(true), std::runtime_error);
}

// Runs `work(t)` on four threads.
template <class F>
void onFourThreads(F work) {
    std::vector<std::jthread> threads;
    for (int t = 0; t < 4; ++t) threads.emplace_back(work, t);
}

// Copies and drops show a lost update in the count; then the last drop, on whichever
// thread ends last, destroys what the others read: a race for the thread sanitizer
// unless the count orders them.
TEST_P(AtomicPtrTest, ConcurrentCopiesAndDropsDestroyOnceAfterEveryUse) {
    for (int round = 0; round < 10; ++round) {
        const int destroyedBefore = gadgetsDestroyed;
        Gadget::Ptr shared = Kiv::create<Gadget>(42u);
        std::vector<std::vector<Gadget::PtrConst>> held(4);
        onFourThreads([&](int t) {
            for (int i = 0; i < 20; ++i) {
                held[t].assign(10000, shared);
                held[t].resize(1);
            }
        });
        ASSERT_EQ(shared->references(), 1u + 4);
        shared = nullptr;
        std::atomic<Kiv::U64> sum{0};
        onFourThreads([&](int t) {
            sum += held[t].front()->serial();
            auto fresh = Kiv::create<Widget>();  // the slab under concurrent use
            held[t].clear();
        });
        EXPECT_EQ(sum, 4u * 42u);
        ASSERT_EQ(gadgetsDestroyed, destroyedBefore + 5);  // the Gadget and four Widgets
    }
}

using Map = Kiv::HashMap2018<const Gadget, int>;
using HashMapTest = TestSupport::LeakCheck;

// A pseudo-random mix of inserts and erases (null key included) through growths, against a
// reference map: finds and size each step; now and then a walk visits each pair once, and
// from the middle key exactly the rest, from a non-key nothing, also while draining. Then
// cleared and reused.
TEST_F(HashMapTest, StaysEqualToAReferenceMapThroughGrowthEraseAndClear) {
    Map map;
    std::map<const Gadget*, int> expected;
    std::vector<Gadget::Ptr> pool;
    for (int i = 0; i < 3000; ++i) pool.push_back(Kiv::create<Gadget>());
    const Gadget::PtrConst none, outsider = Kiv::create<Gadget>();
    std::uint32_t rng = 12345;
    const auto next = [&] { return rng = rng * 1664525u + 1013904223u; };
    for (int step = 0; step < 20000; ++step) {
        const std::uint32_t r = next();
        const Gadget::Ptr& key = (r % 97 == 0) ? pool[0] : pool[(r >> 8) % pool.size()];
        const bool useNull = r % 211 == 0;
        const Gadget* raw = useNull ? nullptr : key.ptr();
        if ((r >> 4) % 3 == 0) {
            int removed = -1;
            const bool erased = map.erase(raw, &removed);
            ASSERT_EQ(erased, expected.count(raw) == 1) << step;
            EXPECT_EQ(removed, erased ? expected[raw] : -1);
            expected.erase(raw);
        } else {
            const bool inserted =
                useNull ? map.insertOrAssign(none, step) : map.insertOrAssign(key, step);
            ASSERT_EQ(inserted, expected.count(raw) == 0) << step;
            expected[raw] = step;
        }
        ASSERT_EQ(map.size(), expected.size()) << step;
        const Gadget* probe = pool[next() % pool.size()].ptr();
        const int* found = map.find(probe);
        ASSERT_EQ(found ? *found : -1, expected.count(probe) ? expected[probe] : -1) << step;
        // Every key now and then, so that one whose probe starts at slot 0 is met too:
        // found exactly when present, and then taken out and put back.
        for (std::size_t i = 0; step % 50 == 0 && i < pool.size(); ++i) {
            const Gadget* key = pool[i].ptr();
            const bool present = expected.count(key) == 1;
            ASSERT_EQ(map.find(key) != nullptr, present) << step;
            ASSERT_EQ(map.erase(key), present) << step;
            if (present)
                map.insertOrAssign(pool[i], expected[key]);
        }
        if (step % 997 != 0)
            continue;
        std::vector<const Gadget*> order;
        map.forEach([&](const Gadget::PtrConst& k, int v) {
            EXPECT_EQ(expected.at(k.ptr()), v);
            order.push_back(k.ptr());
            return true;
        });
        ASSERT_EQ(std::set<const Gadget*>(order.begin(), order.end()).size(), expected.size());
        ASSERT_EQ(order.size(), expected.size());
        // From the middle key, or every fourth time (and when that is null) from no key.
        std::size_t mid = order.size() / 2;
        if ((step / 997) % 4 == 0 || order.empty() || !order[mid])
            mid = order.size();
        std::vector<const Gadget*> rest;
        map.forEachFrom(mid < order.size() ? order[mid] : outsider.ptr(),
                        [&](const Gadget::PtrConst& k, int) {
                            rest.push_back(k.ptr());
                            return true;
                        });
        EXPECT_EQ(rest, std::vector(order.begin() + mid, order.end())) << step;
    }
    for (const Gadget::Ptr& g : pool) EXPECT_EQ(g->references(), 1u + expected.count(g.ptr()));
    map.clear();
    for (const Gadget::Ptr& g : pool) ASSERT_EQ(g->references(), 1u) << "clear let go of its keys";
    // Reserved while empty, the map takes as many pairs without growing; once
    // it holds pairs it keeps its size. Its destruction lets go of them (the
    // fixture counts the objects).
    map.reserve(pool.size());
    const std::size_t bytes = map.slotBytes();
    for (std::size_t i = 0; i < pool.size(); ++i) map.insertOrAssign(pool[i], int(i));
    map.reserve(100000);
    EXPECT_EQ(map.slotBytes(), bytes);
    EXPECT_EQ(*map.find(pool.back().ptr()), int(pool.size() - 1));
}

// The RangeException that `parse` raises (an empty one, failing the test, if none).
template <class F>
RangeException rangeError(F&& parse) {
    return TestSupport::thrown<RangeException>(parse).value_or(RangeException("", 0));
}

TEST(CharRangeTest, ReadsNumbersNamesAndEnumValuesAndSaysWhatWasExpectedWhere) {
    using Parse = std::string (*)(CharRange&);
    static const Parse number = [](CharRange& r) { return std::to_string(r.needUnsigned()); };
    static const Parse name = [](CharRange& r) { return std::string(r.needIdentifier()); };
    static const Parse inBrackets = [](CharRange& r) { return r.needString("("), number(r); };
    static const Parse twoNames = [](CharRange& r) { return name(r), r.skipSpaces(), name(r); };
    static const Parse alone = [](CharRange& r) {
        return number(r), r.checkAllDataConsumed(), ""s;
    };
    static const Parse color = [](CharRange& r) {
        return r.needString("color="), kColor.strep(kColor.read(r));
    };
    // An error in attribute "port" inside attribute "entry" names the innermost one.
    static const Parse inEntry = [](CharRange& r) -> std::string {
        try {
            try {
                return inBrackets(r);
            } catch (const RangeException&) {
                Kiv::rethrowFromDeserializeAttr("port");
            }
        } catch (const RangeException&) {
            Kiv::rethrowFromDeserializeAttr("entry");
        }
    };
    const struct {
        const char* text;
        Parse parse;
        const char* result;  // the value read and the rest, or the error and its attribute
    } cases[] = {
        {"0x1F)", number, "31 )"},
        {"0XfF", number, "255 "},
        {"18446744073709551615", number, "18446744073709551615 "},
        {"0xffffffffffffffff", number, "18446744073709551615 "},
        {"Kiv::Type_2::x:: y", name, "Kiv::Type_2::x :: y"},  // a "::" must lead to a name
        {"color=blue,", color, "blue ,"},
        {"color=1", color, "green "},
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
        {"color=purple", color, "'purple' is not a value of KivTest::Color at offset 6"},
        {"color=257", color, "257 is not a value of KivTest::Color (0 to 2) at offset 6"},
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
    EXPECT_EQ(kColor.strep(3), "3") << "a value without a name prints as its number";
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

// Each bad request names what went wrong and leaves the object as the last good one left it.
TEST_F(TypeRegistryTest, SetByNameFromTextReadsBackOrNamesTheAttributeThatRefusedIt) {
    const struct {
        const char* attribute;
        const char* text;
        Value read;
    } accepted[] = {
        {"port", "65535", Value(U64{65535})},
        {"flag", "true", Value(true)},
        {"color", "1", Value(U64{1})},  // enums read as numbers
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
    genericSet(*widget_, "label", Value(Kiv::String("front")));  // inherited attribute
    genericSet(*widget_, "color", Value(Kiv::String("red")));    // an enum by name
    EXPECT_EQ(std::tuple(widget_->label(), widget_->color()), std::tuple("front", Color::red));
    EXPECT_THROW(genericSet(*widget_, "flag", Value(U64{1})), AttributeException);
    EXPECT_THROW(genericGet(*widget_, "entries"), AttributeException);
    EXPECT_THROW(genericCollection(*widget_, "port"), AttributeException);
    EXPECT_EQ(std::tuple(widget_->port(), widget_->flag(), widget_->serial()),
              std::tuple(65535, true, 5u));
}

TEST_F(TypeRegistryTest, TypesListMembersInOrderAndOperationsAreCalledWithCheckedArguments) {
    std::string attributes, operations;
    for (const auto* a : widget_->kivType().attributes())
        attributes += a->name + std::string(a->writable() ? " " : "(ro) ");
    for (const auto* o : widget_->kivType().operations()) operations += o->name + std::string(" ");
    EXPECT_EQ(attributes, "serial(ro) label port flag color peer entries(ro) ");
    EXPECT_EQ(operations, "reset add swapPeer ");
    const Kiv::TypeInfo* type = Kiv::TypeInfo::named("KivTest::Widget");
    ASSERT_EQ(type, &Widget::kivTypeInfo());
    EXPECT_TRUE(type->isA(Kiv::Entity::kivTypeInfo()));
    EXPECT_EQ(Kiv::TypeInfo::named("KivTest::Widge"), nullptr);
    EXPECT_EQ(Kiv::TypeInfo::named("KivTest::Sprocket")->create(), nullptr) << "no creation";
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
