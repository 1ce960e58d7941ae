#pragma once
// Pieces of the BfRt backend's suite, over TableTestSupport.h:
//
//   ScriptedBfRtTable   a chip table object whose chosen calls misbehave
//   ScopedTableObject   a table object in one of a device's slots for a scope
//   OrderedKeyManager   a key manager whose requests join the chip's call log
//   Raised, raisedBy    which BfTable exception an operation raised
//   describe            an entry's values as text, comparable across objects
//   BfrtFixture         TableFixture with the merged call log and the texts
//                       that the chip logs for this table's calls

#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "BfTwiceNatAddrPort/BfrtModule.h"
#include "TableTestSupport.h"
#include "chip/ChipRegistry.h"
#include "chip/bfrt.h"

namespace BfrtTest {

namespace Bf = BfTwiceNatAddrPort;
using namespace TableTest;
using Kiv::U64;

// ---- Chip objects

class ScriptedBfRtTable : public bfrt::OlvaneBfRtTable {
  public:
    using OlvaneBfRtTable::OlvaneBfRtTable;

    // Raw values that a successful tableEntryGet leaves in place of the chip's.
    std::optional<U64> readNatKeyId;
    std::optional<U64> readProt;
    std::optional<U32> readActionId;
    // Added to the handle that tableDefaultEntrySet reports.
    U32 defaultHandleShift = 0;
    // attributeAllocate reports success without giving an object.
    bool attributesWithheld = false;

    bfrt::Status tableEntryGet(const bfrt::BfRtSession& session, const bfrt::BfRtTarget& target,
                               const uint64_t& flags, const uint32_t& handle,
                               bfrt::BfRtTableKey* key, bfrt::BfRtTableData* data) const override;
    bfrt::Status tableDefaultEntrySet(const bfrt::BfRtSession& session,
                                      const bfrt::BfRtTarget& target, const uint64_t& flags,
                                      const bfrt::BfRtTableData& data,
                                      uint32_t* handle) const override;
    bfrt::Status attributeAllocate(
        const bfrt::TableAttributesType& type,
        std::unique_ptr<bfrt::BfRtTableAttributes>* attributes) const override;
};

// The device objects live as long as the process, so a test that replaces one
// gives the original back.
template <class Table = bfrt::OlvaneBfRtTable>
class ScopedTableObject {
  public:
    ScopedTableObject(std::unique_ptr<bfrt::OlvaneBfRtTable>& slot, std::unique_ptr<Table> table)
        : slot_(slot), table_(table.get()), saved_(std::exchange(slot, std::move(table))) {}
    ~ScopedTableObject() { slot_ = std::move(saved_); }
    ScopedTableObject(const ScopedTableObject&) = delete;
    ScopedTableObject& operator=(const ScopedTableObject&) = delete;

    Table& operator*() const { return *table_; }
    Table* operator->() const { return table_; }

  private:
    std::unique_ptr<bfrt::OlvaneBfRtTable>& slot_;
    Table* table_;
    std::unique_ptr<bfrt::OlvaneBfRtTable> saved_;
};

// ---- Key manager

class OrderedKeyManager : public MbbZabroKey::ZabroKeyManager {
    KIV_CLASS(OrderedKeyManager)

  public:
    using Ptr = Dorvu::Ptr<OrderedKeyManager>;
    struct Request {
        std::size_t chipCallsBefore;
        std::string text;
    };

    explicit OrderedKeyManager(const Zabro::MbbZabroTableConfig::Ptr& config)
        : ZabroKeyManager(config) {}
    ~OrderedKeyManager() override { notificationIs(false); }

    EntryKey alloc(const MatchPtrConst& match, bool reuseBound) override;
    void free(EntryKey key) override;

    // Only while the chip's call log is on.
    std::vector<Request> requests;
};

// ---- Outcomes and values

struct Raised {
    std::string kind = "nothing";
    U32 status = 0;
    std::string message;
    bool operator==(const Raised&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Raised& raised);
Raised raisedBy(const std::function<void()>& operation);

// "nat=1 src=2 dst=3 TwiceNatAddrPortHitActionSpec(1) rwId=7 prot=17 param=300",
// or "empty".
std::string describe(const Bf::TwiceNatAddrPortTableEntry& entry);

// The chip's ids of one action: its action id and its first data field id
// (0 for onMiss, which has none).
struct ActionCase {
    Bf::TwiceNatAddrPortActionSpecType type;
    const char* name;
    U32 actionId;
    U32 firstField;
};
inline constexpr ActionCase kActionCases[] = {
    {Bf::onMissActionSpec, "onMiss", 101, 0},
    {Bf::twiceNatAddrPortHitActionSpec, "twiceNatAddrPortHit", 102, 11},
    {Bf::twiceNatAddrPortHitDynamicActionSpec, "twiceNatAddrPortHitDynamic", 103, 21},
    {Bf::twiceNatAddrPortHitEcmpActionSpec, "twiceNatAddrPortHitEcmp", 104, 31},
    {Bf::twiceNatAddrPortHitEcmpDynamicActionSpec, "twiceNatAddrPortHitEcmpDynamic", 105, 41},
};

// ---- Fixture

class BfrtFixture : public TableFixture {
  protected:
    BfrtFixture();
    ~BfrtFixture() override;

    const Bf::TwiceNatAddrPortTable::Ptr& bfrtTableIs(U16 pipe = kPipe) {
        return tableIs(Backend::Bfrt, pipe);
    }

    // Empties the chip's call log and the key manager's requests, and switches
    // the log on.
    void logOn();
    // Chip calls and key manager requests in the order made; empties both.
    std::vector<std::string> takeCalls();

    // "OlvaneBfRtTable::<method>(table=<table>[, <args>])"
    static std::string tableCall(const std::string& method, const std::string& args = {},
                                 const std::string& table = "twiceNatAddrPort");
    // "sess=<n>, target=[<device> <pipe>]" as the chip logs them.
    static std::string sessionTarget(U32 device = kDevice, U32 pipe = kPipe);
    static std::string target(U32 device = kDevice, U32 pipe = kPipe);
    static std::string keySet(U32 field, U64 value);
    // The data setValue calls of a hit action, none for onMiss.
    static std::vector<std::string> dataSets(const ActionCase& a, U64 rwId, U64 prot, U64 param);
    static std::string keyText(U64 natKeyId, U64 srcPort, U64 dstPort);
    static std::string dataText(const ActionCase& a, U64 rwId, U64 prot, U64 param);

    OrderedKeyManager::Ptr keys;
};

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b);

// The text glibc's assert prints for `expression`, as a death test pattern.
std::string assertion(const std::string& expression);

}  // namespace BfrtTest
