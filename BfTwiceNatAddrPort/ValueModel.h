#pragma once
// The values that the agent and the table exchange: the match spec (the key
// of one entry), the action specs (one class per action of the table), the
// action type enumeration and the table entry that pairs a match with an
// action. Specs are runtime objects compared by identity, never by value.

#include <ostream>

#include "Export.h"
#include "bfntable/BfnTable.h"
#include "kiv/Kiv.h"

namespace BfTwiceNatAddrPort {

using Kiv::U16;
using Kiv::U32;
using Kiv::U64;
using Kiv::U8;

class BF_TWICE_NAT_ADDR_PORT_API TwiceNatAddrPortMatchSpec : public BfnTable::MatchSpecBase {
    KIV_CLASS(TwiceNatAddrPortMatchSpec)

  public:
    using Ptr = Dorvu::Ptr<TwiceNatAddrPortMatchSpec>;
    using PtrConst = Dorvu::Ptr<const TwiceNatAddrPortMatchSpec>;

    TwiceNatAddrPortMatchSpec() = default;
    ~TwiceNatAddrPortMatchSpec() override;
    static Ptr TwiceNatAddrPortMatchSpecIs();

    U16 ingMdNatKeyId() const noexcept { return ingMdNatKeyId_; }
    void ingMdNatKeyIdIs(U16 v) noexcept { ingMdNatKeyId_ = v; }
    U16 l4PortHdrDstPort() const noexcept { return l4PortHdrDstPort_; }
    void l4PortHdrDstPortIs(U16 v) noexcept { l4PortHdrDstPort_ = v; }
    U16 l4PortHdrSrcPort() const noexcept { return l4PortHdrSrcPort_; }
    void l4PortHdrSrcPortIs(U16 v) noexcept { l4PortHdrSrcPort_ = v; }

  private:
    U16 ingMdNatKeyId_ = 0;
    U16 l4PortHdrDstPort_ = 0;
    U16 l4PortHdrSrcPort_ = 0;
};

BF_TWICE_NAT_ADDR_PORT_API TwiceNatAddrPortMatchSpec::Ptr twiceNatAddrPortMatchSpecFactory();

enum TwiceNatAddrPortActionSpecType : U8 {
    onMissActionSpec = 0,
    twiceNatAddrPortHitActionSpec = 1,
    twiceNatAddrPortHitDynamicActionSpec = 2,
    twiceNatAddrPortHitEcmpActionSpec = 3,
    twiceNatAddrPortHitEcmpDynamicActionSpec = 4,
};

BF_TWICE_NAT_ADDR_PORT_API const Kiv::EnumType& twiceNatAddrPortActionSpecTypeEnum();
BF_TWICE_NAT_ADDR_PORT_API TwiceNatAddrPortActionSpecType
TwiceNatAddrPortActionSpecTypeInstance(unsigned value);
BF_TWICE_NAT_ADDR_PORT_API TwiceNatAddrPortActionSpecType
TwiceNatAddrPortActionSpecTypeInstance(const Kiv::String& name);
BF_TWICE_NAT_ADDR_PORT_API Kiv::String stringValue(TwiceNatAddrPortActionSpecType value);
BF_TWICE_NAT_ADDR_PORT_API Kiv::String valueToStrep(const TwiceNatAddrPortActionSpecType& value);
BF_TWICE_NAT_ADDR_PORT_API std::ostream& operator<<(std::ostream& out,
                                                    TwiceNatAddrPortActionSpecType value);
BF_TWICE_NAT_ADDR_PORT_API void sequenceToValue(Kiv::CharRange& range,
                                                TwiceNatAddrPortActionSpecType& value);

class BF_TWICE_NAT_ADDR_PORT_API TwiceNatAddrPortBaseActionSpec : public Kiv::PtrInterface {
    KIV_CLASS(TwiceNatAddrPortBaseActionSpec)

  public:
    using Ptr = Dorvu::Ptr<TwiceNatAddrPortBaseActionSpec>;
    using PtrConst = Dorvu::Ptr<const TwiceNatAddrPortBaseActionSpec>;

    TwiceNatAddrPortBaseActionSpec() = default;
    ~TwiceNatAddrPortBaseActionSpec() override;
    static Ptr TwiceNatAddrPortBaseActionSpecIs();

    TwiceNatAddrPortActionSpecType actionType() const noexcept { return actionType_; }
    void actionTypeIs(TwiceNatAddrPortActionSpecType v) noexcept { actionType_ = v; }
    U8 prot() const noexcept { return prot_; }
    void protIs(U8 v) noexcept { prot_ = v; }
    U16 rwId() const noexcept { return rwId_; }
    void rwIdIs(U16 v) noexcept { rwId_ = v; }

  protected:
    explicit TwiceNatAddrPortBaseActionSpec(TwiceNatAddrPortActionSpecType type) noexcept
        : actionType_(type) {}

  private:
    TwiceNatAddrPortActionSpecType actionType_ = onMissActionSpec;
    U8 prot_ = 0;
    U16 rwId_ = 0;
};

BF_TWICE_NAT_ADDR_PORT_API TwiceNatAddrPortBaseActionSpec::Ptr
twiceNatAddrPortBaseActionSpecFactory();

class BF_TWICE_NAT_ADDR_PORT_API OnMissActionSpec : public TwiceNatAddrPortBaseActionSpec {
    KIV_CLASS(OnMissActionSpec)

  public:
    using Ptr = Dorvu::Ptr<OnMissActionSpec>;
    using PtrConst = Dorvu::Ptr<const OnMissActionSpec>;

    OnMissActionSpec() noexcept : TwiceNatAddrPortBaseActionSpec(onMissActionSpec) {}
    ~OnMissActionSpec() override;
    static Ptr OnMissActionSpecIs();
};

BF_TWICE_NAT_ADDR_PORT_API OnMissActionSpec::Ptr onMissActionSpecFactory();

// The four hit actions differ only in their class, their action type and
// the name of their one field (the next hop or the ECMP group they forward to).
#define BF_TWICE_NAT_HIT_ACTION_SPEC(Class, type, field)                             \
    class BF_TWICE_NAT_ADDR_PORT_API Class : public TwiceNatAddrPortBaseActionSpec { \
        KIV_CLASS(Class)                                                             \
                                                                                     \
      public:                                                                        \
        using Ptr = Dorvu::Ptr<Class>;                                               \
        using PtrConst = Dorvu::Ptr<const Class>;                                    \
                                                                                     \
        Class() noexcept : TwiceNatAddrPortBaseActionSpec(type) {}                   \
        ~Class() override;                                                           \
        static Ptr Class##Is();                                                      \
                                                                                     \
        U16 field() const noexcept { return field##_; }                              \
        void field##Is(U16 v) noexcept { field##_ = v; }                             \
                                                                                     \
      private:                                                                       \
        U16 field##_ = 0;                                                            \
    }

BF_TWICE_NAT_HIT_ACTION_SPEC(TwiceNatAddrPortHitActionSpec, twiceNatAddrPortHitActionSpec, nextHop);
BF_TWICE_NAT_HIT_ACTION_SPEC(TwiceNatAddrPortHitDynamicActionSpec,
                             twiceNatAddrPortHitDynamicActionSpec, nextHop);
BF_TWICE_NAT_HIT_ACTION_SPEC(TwiceNatAddrPortHitEcmpActionSpec, twiceNatAddrPortHitEcmpActionSpec,
                             ecmpGroup);
BF_TWICE_NAT_HIT_ACTION_SPEC(TwiceNatAddrPortHitEcmpDynamicActionSpec,
                             twiceNatAddrPortHitEcmpDynamicActionSpec, ecmpGroup);
#undef BF_TWICE_NAT_HIT_ACTION_SPEC

BF_TWICE_NAT_ADDR_PORT_API TwiceNatAddrPortHitActionSpec::Ptr
twiceNatAddrPortHitActionSpecFactory();
BF_TWICE_NAT_ADDR_PORT_API TwiceNatAddrPortHitDynamicActionSpec::Ptr
twiceNatAddrPortHitDynamicActionSpecFactory();
BF_TWICE_NAT_ADDR_PORT_API TwiceNatAddrPortHitEcmpActionSpec::Ptr
twiceNatAddrPortHitEcmpActionSpecFactory();
BF_TWICE_NAT_ADDR_PORT_API TwiceNatAddrPortHitEcmpDynamicActionSpec::Ptr
twiceNatAddrPortHitEcmpDynamicActionSpecFactory();

// For the backends: a new action spec of the class that `type` names, with
// its fields set (`param` is a hit action's next hop or ECMP group; onMiss
// takes none of the values), and a hit action's next hop or ECMP group.
BF_TWICE_NAT_ADDR_PORT_API TwiceNatAddrPortBaseActionSpec::Ptr actionSpecOf(
    TwiceNatAddrPortActionSpecType type, U16 rwId, U8 prot, U16 param);
BF_TWICE_NAT_ADDR_PORT_API U16
hitActionParam(const TwiceNatAddrPortBaseActionSpec& action) noexcept;

// One entry of the table: a match and an action, both held by reference.
// Entries with both references null are empty: what a lookup of a match that
// is not installed, or a failed read-back, returns.
class BF_TWICE_NAT_ADDR_PORT_API TwiceNatAddrPortTableEntry {
  public:
    TwiceNatAddrPortTableEntry() noexcept = default;
    explicit TwiceNatAddrPortTableEntry(const TwiceNatAddrPortMatchSpec::PtrConst& match) noexcept
        : match_(match) {}
    // Parses the entry's text form, leaving `range` after it.
    explicit TwiceNatAddrPortTableEntry(Kiv::CharRange& range);

    const TwiceNatAddrPortMatchSpec::PtrConst& match() const noexcept { return match_; }
    const TwiceNatAddrPortBaseActionSpec::PtrConst& action() const noexcept { return action_; }
    void actionIs(const TwiceNatAddrPortBaseActionSpec::PtrConst& action) noexcept {
        action_ = action;
    }

    // Same match object and same action object.
    bool isEq(const TwiceNatAddrPortTableEntry& other) const noexcept {
        return match_ == other.match_ && action_ == other.action_;
    }
    bool operator==(const TwiceNatAddrPortTableEntry& other) const noexcept { return isEq(other); }
    // True for the empty entry.
    bool isDefaultValue() const noexcept { return !match_ && !action_; }
    // Entries are not hashable; this always throws Kiv::UnhashableTypeException.
    [[noreturn]] std::size_t hash() const;

    static TwiceNatAddrPortTableEntry strepToValue(const Kiv::String& text);

  private:
    // Declared in this order so that destruction releases the action first.
    TwiceNatAddrPortMatchSpec::PtrConst match_;
    TwiceNatAddrPortBaseActionSpec::PtrConst action_;
};

BF_TWICE_NAT_ADDR_PORT_API Kiv::String valueToStrep(const TwiceNatAddrPortTableEntry& entry);
BF_TWICE_NAT_ADDR_PORT_API std::ostream& operator<<(std::ostream& out,
                                                    const TwiceNatAddrPortTableEntry& entry);

}  // namespace BfTwiceNatAddrPort

// Generic calls pass entries by their text form, which names the same objects.
template <>
struct Kiv::ValueTraits<BfTwiceNatAddrPort::TwiceNatAddrPortTableEntry> {
    static constexpr AttrType type = AttrType::String;
    static Value to(const BfTwiceNatAddrPort::TwiceNatAddrPortTableEntry& entry) {
        return BfTwiceNatAddrPort::valueToStrep(entry);
    }
    static BfTwiceNatAddrPort::TwiceNatAddrPortTableEntry from(const Value& v, const char* what) {
        return BfTwiceNatAddrPort::TwiceNatAddrPortTableEntry::strepToValue(
            ValueTraits<String>::from(v, what));
    }
};
