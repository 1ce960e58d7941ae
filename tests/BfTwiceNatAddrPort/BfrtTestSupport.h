#pragma once
// The BfRt suites' pieces: a misbehaving chip table object, a scoped table object
// in a device's slot, and a fixture with the chip's log texts of this table's calls.

#include <functional>
#include <memory>
#include <string>

#include "BfTwiceNatAddrPort/BfrtModule.h"
#include "TableTestSupport.h"
#include "chip/SimBfRt.h"

namespace BfrtTest {

using namespace TableTest;

class ScriptedBfRtTable : public Chip::SimTable {
  public:
    using SimTable::SimTable;

    // Rewrites what a successful tableEntryGet read, also to values the setters refuse.
    std::function<void(Chip::SimKey&, Chip::SimData&)> afterRead;
    // attributeAllocate reports success without giving an object.
    bool attributesWithheld = false;

    bfrt::Status tableEntryGet(const bfrt::BfRtSession& session, const bfrt::BfRtTarget& target,
                               const uint64_t& flags, const uint32_t& handle,
                               bfrt::BfRtTableKey* key, bfrt::BfRtTableData* data) const override {
        const bfrt::Status status =
            SimTable::tableEntryGet(session, target, flags, handle, key, data);
        if (status == 0 && afterRead)
            afterRead(static_cast<Chip::SimKey&>(*key), static_cast<Chip::SimData&>(*data));
        return status;
    }
    bfrt::Status attributeAllocate(
        const bfrt::TableAttributesType& type,
        std::unique_ptr<bfrt::BfRtTableAttributes>* attributes) const override {
        return attributesWithheld ? 0 : SimTable::attributeAllocate(type, attributes);
    }
};

// A table object in a device's (process-long) slot for the scope; the original goes back after.
template <class Table>
struct ScopedTableObject {
    ScopedTableObject(std::unique_ptr<bfrt::OlvaneBfRtTable>& slot, std::unique_ptr<Table> table)
        : slot(slot), object(table.get()), saved(std::exchange(slot, std::move(table))) {}
    ~ScopedTableObject() { slot = std::move(saved); }
    Table* operator->() const { return object; }

    std::unique_ptr<bfrt::OlvaneBfRtTable>& slot;
    Table* object;
    std::unique_ptr<bfrt::OlvaneBfRtTable> saved;
};

inline Texts operator+(Texts a, const Texts& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class BfrtFixture : public TableFixture {
  protected:
    const Bf::TwiceNatAddrPortTable::Ptr& bfrtTableIs(U16 pipe = kPipe) {
        return tableIs(Backend::Bfrt, pipe);
    }
    // The calls of building a BfRt table, less the PD interface object's id lookups.
    Texts bindingCalls(U16 pipe = kPipe) {
        Texts calls = callsOf([&] { bfrtTableIs(pipe); });
        std::erase_if(calls, [](const std::string& c) { return c.find("IdGet(") != c.npos; });
        return calls;
    }

    static std::string call(const std::string& method, const std::string& args = {},
                            const std::string& name = "twiceNatAddrPort") {
        return "OlvaneBfRtTable::" + method + "(table=" + name + (args.empty() ? "" : ", ") + args +
               ")";
    }
    static std::string target(U32 device = kDevice, U32 pipe = kPipe) {
        return _fmt("[%02x 00 00 00 %02x %02x 00 00]", device, pipe & 0xFF, pipe >> 8);
    }
    static std::string sessionTarget(U32 device = kDevice, U32 pipe = kPipe) {
        const auto session = Chip::deviceObjects(device).tableIntf->bfRtSessionGet();
        return _fmt("sess=%u, target=", session->sessHandleGet()) + target(device, pipe);
    }
    // The setValue calls of a key ("Key") or data ("Data") object from `field` on.
    static Texts sets(const char* object, U32 field, std::initializer_list<U64> values) {
        Texts texts;
        for (U64 value : values)
            texts.push_back(_fmt("BfRtTable%s::setValue(field=%u, value=%llu)", object, field++,
                                 (unsigned long long)value));
        return texts;
    }
    static std::string keyText(U64 natKeyId, U64 src, U64 dst) {
        return _fmt("key=[1:%llu 2:%llu 3:%llu]", (unsigned long long)natKeyId,
                    (unsigned long long)src, (unsigned long long)dst);
    }
    static Texts dataSets(const ActionCase& a, U64 rwId, U64 prot, U64 param) {
        return a.firstField ? sets("Data", a.firstField, {rwId, prot, param}) : Texts{};
    }
    static std::string dataText(const ActionCase& a, U64 rwId, U64 prot, U64 param) {
        std::string text = "data=[action=" + std::to_string(a.actionId);
        const U64 values[] = {rwId, prot, param};
        for (U32 i = 0; a.firstField != 0 && i < 3; ++i)
            text += _fmt(" %u:%llu", a.firstField + i, (unsigned long long)values[i]);
        return text + "]";
    }
};

}  // namespace BfrtTest
