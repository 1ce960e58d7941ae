// The value model: match and action specs, the action type enumeration and
// the table entry with its text form.

#include "ValueModel.h"

#include <cassert>

namespace BfTwiceNatAddrPort {

namespace {

using Kiv::attribute;
using Kiv::enumAttribute;

template <class T>
Kiv::PtrInterface::Ptr createAny() {
    return Kiv::create<T>();
}

constexpr const char* kEntryHead = "Value('BfTwiceNatAddrPort::TwiceNatAddrPortTableEntry', ** {";

// Reads one spec reference of the entry's text and checks its class.
template <class Spec>
typename Spec::PtrConst readSpecRef(Kiv::CharRange& range, const char* attributeName,
                                    const char* className) {
    try {
        const std::size_t start = range.offset();
        const Kiv::ObjectRef object = Kiv::sequenceToValueOfPtr(range);
        if (!object)
            return nullptr;
        if (!object->kivType().isA(Spec::kivTypeInfo()))
            range.cannotConvert(className, start);
        return typename Spec::PtrConst(static_cast<const Spec*>(object.ptr()));
    } catch (const Kiv::RangeException&) {
        Kiv::rethrowFromDeserializeAttr(attributeName);
    }
}

}  // namespace

// ---- Match spec

Kiv::MemAllocationTracker TwiceNatAddrPortMatchSpec::memAllocationTracker_{
    "BfTwiceNatAddrPort::TwiceNatAddrPortMatchSpec"};

const Kiv::TypeInfo& TwiceNatAddrPortMatchSpec::kivTypeInfo() {
    using T = TwiceNatAddrPortMatchSpec;
    static const Kiv::TypeInfo type{
        "BfTwiceNatAddrPort::TwiceNatAddrPortMatchSpec",
        &BfnTable::MatchSpecBase::kivTypeInfo(),
        {
            attribute<&T::ingMdNatKeyId, &T::ingMdNatKeyIdIs>("ingMdNatKeyId"),
            attribute<&T::l4PortHdrDstPort, &T::l4PortHdrDstPortIs>("l4PortHdrDstPort"),
            attribute<&T::l4PortHdrSrcPort, &T::l4PortHdrSrcPortIs>("l4PortHdrSrcPort"),
        },
        {},
        &createAny<T>};
    return type;
}

TwiceNatAddrPortMatchSpec::~TwiceNatAddrPortMatchSpec() {
    notificationIs(false);
}

TwiceNatAddrPortMatchSpec::Ptr TwiceNatAddrPortMatchSpec::TwiceNatAddrPortMatchSpecIs() {
    return Kiv::create<TwiceNatAddrPortMatchSpec>();
}

TwiceNatAddrPortMatchSpec::Ptr twiceNatAddrPortMatchSpecFactory() {
    return TwiceNatAddrPortMatchSpec::TwiceNatAddrPortMatchSpecIs();
}

// ---- Action type

const Kiv::EnumType& twiceNatAddrPortActionSpecTypeEnum() {
    static const Kiv::EnumType type{
        "BfTwiceNatAddrPort::TwiceNatAddrPortActionSpecType",
        {"onMissActionSpec", "twiceNatAddrPortHitActionSpec",
         "twiceNatAddrPortHitDynamicActionSpec", "twiceNatAddrPortHitEcmpActionSpec",
         "twiceNatAddrPortHitEcmpDynamicActionSpec"}};
    return type;
}

TwiceNatAddrPortActionSpecType TwiceNatAddrPortActionSpecTypeInstance(unsigned value) {
    return static_cast<TwiceNatAddrPortActionSpecType>(
        twiceNatAddrPortActionSpecTypeEnum().valueOf(U64{value}));
}

TwiceNatAddrPortActionSpecType TwiceNatAddrPortActionSpecTypeInstance(const Kiv::String& name) {
    return static_cast<TwiceNatAddrPortActionSpecType>(
        twiceNatAddrPortActionSpecTypeEnum().valueOf(std::string_view(name)));
}

Kiv::String stringValue(TwiceNatAddrPortActionSpecType value) {
    return twiceNatAddrPortActionSpecTypeEnum().strep(value);
}

Kiv::String valueToStrep(const TwiceNatAddrPortActionSpecType& value) {
    return twiceNatAddrPortActionSpecTypeEnum().strep(value);
}

std::ostream& operator<<(std::ostream& out, TwiceNatAddrPortActionSpecType value) {
    twiceNatAddrPortActionSpecTypeEnum().print(out, value);
    return out;
}

void sequenceToValue(Kiv::CharRange& range, TwiceNatAddrPortActionSpecType& value) {
    value = static_cast<TwiceNatAddrPortActionSpecType>(
        twiceNatAddrPortActionSpecTypeEnum().read(range));
}

// ---- Action specs

Kiv::MemAllocationTracker TwiceNatAddrPortBaseActionSpec::memAllocationTracker_{
    "BfTwiceNatAddrPort::TwiceNatAddrPortBaseActionSpec"};

const Kiv::TypeInfo& TwiceNatAddrPortBaseActionSpec::kivTypeInfo() {
    using T = TwiceNatAddrPortBaseActionSpec;
    static const Kiv::TypeInfo type{"BfTwiceNatAddrPort::TwiceNatAddrPortBaseActionSpec",
                                    &Kiv::PtrInterface::kivTypeInfo(),
                                    {
                                        enumAttribute<&T::actionType, &T::actionTypeIs>(
                                            "actionType", twiceNatAddrPortActionSpecTypeEnum()),
                                        attribute<&T::prot, &T::protIs>("prot"),
                                        attribute<&T::rwId, &T::rwIdIs>("rwId"),
                                    },
                                    {},
                                    &createAny<T>};
    return type;
}

TwiceNatAddrPortBaseActionSpec::~TwiceNatAddrPortBaseActionSpec() {
    notificationIs(false);
}

TwiceNatAddrPortBaseActionSpec::Ptr
TwiceNatAddrPortBaseActionSpec::TwiceNatAddrPortBaseActionSpecIs() {
    return Kiv::create<TwiceNatAddrPortBaseActionSpec>();
}

TwiceNatAddrPortBaseActionSpec::Ptr twiceNatAddrPortBaseActionSpecFactory() {
    return TwiceNatAddrPortBaseActionSpec::TwiceNatAddrPortBaseActionSpecIs();
}

Kiv::MemAllocationTracker OnMissActionSpec::memAllocationTracker_{
    "BfTwiceNatAddrPort::OnMissActionSpec"};

const Kiv::TypeInfo& OnMissActionSpec::kivTypeInfo() {
    static const Kiv::TypeInfo type{"BfTwiceNatAddrPort::OnMissActionSpec",
                                    &TwiceNatAddrPortBaseActionSpec::kivTypeInfo(),
                                    {},
                                    {},
                                    &createAny<OnMissActionSpec>};
    return type;
}

OnMissActionSpec::~OnMissActionSpec() {
    notificationIs(false);
}

OnMissActionSpec::Ptr OnMissActionSpec::OnMissActionSpecIs() {
    return Kiv::create<OnMissActionSpec>();
}

OnMissActionSpec::Ptr onMissActionSpecFactory() {
    return OnMissActionSpec::OnMissActionSpecIs();
}

// The definitions that each hit action class needs: tracker, type table with
// its one field, destructor and the two creation functions.
#define BF_TWICE_NAT_HIT_ACTION_SPEC_DEFINE(Class, factory, field)                             \
    Kiv::MemAllocationTracker Class::memAllocationTracker_{"BfTwiceNatAddrPort::" #Class};     \
    const Kiv::TypeInfo& Class::kivTypeInfo() {                                                \
        static const Kiv::TypeInfo type{"BfTwiceNatAddrPort::" #Class,                         \
                                        &TwiceNatAddrPortBaseActionSpec::kivTypeInfo(),        \
                                        {attribute<&Class::field, &Class::field##Is>(#field)}, \
                                        {},                                                    \
                                        &createAny<Class>};                                    \
        return type;                                                                           \
    }                                                                                          \
    Class::~Class() {                                                                          \
        notificationIs(false);                                                                 \
    }                                                                                          \
    Class::Ptr Class::Class##Is() {                                                            \
        return Kiv::create<Class>();                                                           \
    }                                                                                          \
    Class::Ptr factory() {                                                                     \
        return Class::Class##Is();                                                             \
    }

BF_TWICE_NAT_HIT_ACTION_SPEC_DEFINE(TwiceNatAddrPortHitActionSpec,
                                    twiceNatAddrPortHitActionSpecFactory, nextHop)
BF_TWICE_NAT_HIT_ACTION_SPEC_DEFINE(TwiceNatAddrPortHitDynamicActionSpec,
                                    twiceNatAddrPortHitDynamicActionSpecFactory, nextHop)
BF_TWICE_NAT_HIT_ACTION_SPEC_DEFINE(TwiceNatAddrPortHitEcmpActionSpec,
                                    twiceNatAddrPortHitEcmpActionSpecFactory, ecmpGroup)
BF_TWICE_NAT_HIT_ACTION_SPEC_DEFINE(TwiceNatAddrPortHitEcmpDynamicActionSpec,
                                    twiceNatAddrPortHitEcmpDynamicActionSpecFactory, ecmpGroup)
#undef BF_TWICE_NAT_HIT_ACTION_SPEC_DEFINE

// ---- Building and reading action specs by type

TwiceNatAddrPortBaseActionSpec::Ptr actionSpecOf(TwiceNatAddrPortActionSpecType type, U16 rwId,
                                                 U8 prot, U16 param) {
    TwiceNatAddrPortBaseActionSpec::Ptr spec;
    switch (type) {
        case onMissActionSpec:
            return onMissActionSpecFactory();
        case twiceNatAddrPortHitActionSpec: {
            auto hit = twiceNatAddrPortHitActionSpecFactory();
            hit->nextHopIs(param);
            spec = hit;
            break;
        }
        case twiceNatAddrPortHitDynamicActionSpec: {
            auto hit = twiceNatAddrPortHitDynamicActionSpecFactory();
            hit->nextHopIs(param);
            spec = hit;
            break;
        }
        case twiceNatAddrPortHitEcmpActionSpec: {
            auto hit = twiceNatAddrPortHitEcmpActionSpecFactory();
            hit->ecmpGroupIs(param);
            spec = hit;
            break;
        }
        case twiceNatAddrPortHitEcmpDynamicActionSpec: {
            auto hit = twiceNatAddrPortHitEcmpDynamicActionSpecFactory();
            hit->ecmpGroupIs(param);
            spec = hit;
            break;
        }
    }
    assert(spec);
    spec->rwIdIs(rwId);
    spec->protIs(prot);
    return spec;
}

U16 hitActionParam(const TwiceNatAddrPortBaseActionSpec& action) noexcept {
    // The action type names the object's class, which is what makes these casts safe.
    switch (action.actionType()) {
        case twiceNatAddrPortHitActionSpec:
            return static_cast<const TwiceNatAddrPortHitActionSpec&>(action).nextHop();
        case twiceNatAddrPortHitDynamicActionSpec:
            return static_cast<const TwiceNatAddrPortHitDynamicActionSpec&>(action).nextHop();
        case twiceNatAddrPortHitEcmpActionSpec:
            return static_cast<const TwiceNatAddrPortHitEcmpActionSpec&>(action).ecmpGroup();
        case twiceNatAddrPortHitEcmpDynamicActionSpec:
            return static_cast<const TwiceNatAddrPortHitEcmpDynamicActionSpec&>(action).ecmpGroup();
        default:
            return 0;
    }
}

// ---- Table entry

TwiceNatAddrPortTableEntry::TwiceNatAddrPortTableEntry(Kiv::CharRange& range) {
    // Built in locals so that a failure releases whatever was read so far.
    range.needString(kEntryHead);
    range.needString("'match': ");
    auto match =
        readSpecRef<TwiceNatAddrPortMatchSpec>(range, "match", "TwiceNatAddrPortMatchSpec");
    range.needString(", 'action': ");
    auto action = readSpecRef<TwiceNatAddrPortBaseActionSpec>(range, "action",
                                                              "TwiceNatAddrPortBaseActionSpec");
    range.needString("})");
    match_ = std::move(match);
    action_ = std::move(action);
}

std::size_t TwiceNatAddrPortTableEntry::hash() const {
    throw Kiv::UnhashableTypeException("BfTwiceNatAddrPort::TwiceNatAddrPortTableEntry");
}

TwiceNatAddrPortTableEntry TwiceNatAddrPortTableEntry::strepToValue(const Kiv::String& text) {
    Kiv::CharRange range(text);
    TwiceNatAddrPortTableEntry entry(range);
    range.checkAllDataConsumed();
    return entry;
}

Kiv::String valueToStrep(const TwiceNatAddrPortTableEntry& entry) {
    return Kiv::_fmt("%s'match': %s, 'action': %s})", kEntryHead,
                     Kiv::valueToStrepOfRawPtr(entry.match().ptr()).c_str(),
                     Kiv::valueToStrepOfRawPtr(entry.action().ptr()).c_str());
}

std::ostream& operator<<(std::ostream& out, const TwiceNatAddrPortTableEntry& entry) {
    return out << valueToStrep(entry);
}

// Found by name from the moment the library is loaded (the agent creates
// action specs by class name).
const Kiv::TypeRegistration registrations[] = {
    Kiv::TypeRegistration{&TwiceNatAddrPortMatchSpec::kivTypeInfo},
    Kiv::TypeRegistration{&TwiceNatAddrPortBaseActionSpec::kivTypeInfo},
    Kiv::TypeRegistration{&OnMissActionSpec::kivTypeInfo},
    Kiv::TypeRegistration{&TwiceNatAddrPortHitActionSpec::kivTypeInfo},
    Kiv::TypeRegistration{&TwiceNatAddrPortHitDynamicActionSpec::kivTypeInfo},
    Kiv::TypeRegistration{&TwiceNatAddrPortHitEcmpActionSpec::kivTypeInfo},
    Kiv::TypeRegistration{&TwiceNatAddrPortHitEcmpDynamicActionSpec::kivTypeInfo},
};

}  // namespace BfTwiceNatAddrPort
