#pragma once
// Pieces of the BfRt backend's suite, over TableTestSupport.h:
//
//   ScriptedBfRtTable   a chip table object whose chosen calls misbehave
//   ScopedTableObject   a table object in one of a device's slots for a scope
//   OrderedKeyManager   a key manager whose requests join the chip's call log
//   raisedBy            which BfTable exception an operation raised
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
using Kiv::_fmt;
using Kiv::U64;
using Texts = std::vector<std::string>;

class ScriptedBfRtTable : public bfrt::OlvaneBfRtTable {
  public:
    using OlvaneBfRtTable::OlvaneBfRtTable;

    // Raw values that a successful tableEntryGet leaves in place of the chip's.
    std::optional<U64> readNatKeyId, readProt;
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

    Table* operator->() const { return table_; }

  private:
    std::unique_ptr<bfrt::OlvaneBfRtTable>& slot_;
    Table* table_;
    std::unique_ptr<bfrt::OlvaneBfRtTable> saved_;
};

// Notes each alloc and free, while the chip's call log is on, with the number
// of chip calls made before it.
class OrderedKeyManager : public MbbZabroKey::ZabroKeyManager {
    KIV_CLASS(OrderedKeyManager)

  public:
    using Ptr = Dorvu::Ptr<OrderedKeyManager>;
    using ZabroKeyManager::ZabroKeyManager;
    ~OrderedKeyManager() override { notificationIs(false); }

    EntryKey alloc(const MatchPtrConst& match, bool reuseBound) override {
        note("ZabroKeyManager::alloc(reuseBound=" + std::to_string(reuseBound) + ")");
        return ZabroKeyManager::alloc(match, reuseBound);
    }
    void free(EntryKey key) override {
        note("ZabroKeyManager::free()");
        ZabroKeyManager::free(key);
    }

    std::vector<std::pair<std::size_t, std::string>> requests;

  private:
    void note(std::string text) {
        if (Chip::TestHooks::callLogEnabled())
            requests.emplace_back(Chip::TestHooks::callLog().size(), std::move(text));
    }
};

// The exception's class, status and message, or "nothing".
struct Raised {
    std::string kind = "nothing";
    U32 status = 0;
    std::string message;
    bool operator==(const Raised&) const = default;
};
inline std::ostream& operator<<(std::ostream& out, const Raised& r) {
    return out << r.kind << "(" << r.status << ", \"" << r.message << "\")";
}
Raised raisedBy(const std::function<void()>& operation);

// "nat=1 src=2 dst=3 TwiceNatAddrPortHitActionSpec(1) rwId=7 prot=17 param=300",
// or "empty".
std::string describe(const Bf::TwiceNatAddrPortTableEntry& entry);

// The chip's ids of an action: its action id and first data field id (0 for
// onMiss, which has none).
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

inline Texts operator+(Texts a, const Texts& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The texts that the chip logs for the calls of this table.
struct CallTexts {
    static std::string call(const std::string& method, const std::string& args = {},
                            const std::string& name = "twiceNatAddrPort") {
        return "OlvaneBfRtTable::" + method + "(table=" + name + (args.empty() ? "" : ", ") + args +
               ")";
    }
    static std::string target(U32 device = kDevice, U32 pipe = kPipe) {
        return _fmt("[%02x 00 00 00 %02x %02x 00 00]", device, pipe & 0xFF, pipe >> 8);
    }
    static std::string sessionTarget(U32 device = kDevice, U32 pipe = kPipe) {
        const auto session = bfrt::deviceObjects(device).tableIntf->bfRtSessionGet();
        return _fmt("sess=%u, target=", session->sessHandleGet()) + target(device, pipe);
    }
    static std::string keySet(U32 field, U64 value) {
        return _fmt("BfRtTableKey::setValue(field=%u, value=%llu)", field,
                    (unsigned long long)value);
    }
    static std::string keyText(U64 natKeyId, U64 src, U64 dst) {
        return _fmt("key=[1:%llu 2:%llu 3:%llu]", (unsigned long long)natKeyId,
                    (unsigned long long)src, (unsigned long long)dst);
    }
    // A hit action's three data setValue calls; none for onMiss.
    static Texts dataSets(const ActionCase& a, U64 rwId, U64 prot, U64 param);
    static std::string dataText(const ActionCase& a, U64 rwId, U64 prot, U64 param);
};

// A blank chip and key segment per test, with an OrderedKeyManager.
class BfrtFixture : public TableFixture, public CallTexts {
  protected:
    BfrtFixture() {
        keys = Kiv::create<OrderedKeyManager>(keyManager->mbbZabroTableConfig());
        keyManager = keys;
    }
    ~BfrtFixture() override {
        table = nullptr;
        keys = nullptr;
    }

    const Bf::TwiceNatAddrPortTable::Ptr& bfrtTableIs(U16 pipe = kPipe) {
        return tableIs(Backend::Bfrt, pipe);
    }
    // Starts an empty call log.
    void logOn() {
        takeCalls();
        Chip::TestHooks::callLogEnable(true);
    }
    // Chip calls and key manager requests in the order made; empties both.
    Texts takeCalls();

    OrderedKeyManager::Ptr keys;
};

// The text glibc's assert prints for `expression`, as a death test pattern.
std::string assertion(const std::string& expression);

}  // namespace BfrtTest
