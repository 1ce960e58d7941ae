// Both backends on the chip model: each action's exact calls and read-backs, the failure
// sites; the BfRt backend's read-backs, binding per table type, module-wide objects, three
// table objects, another device's table and preconditions.

#include <algorithm>
#include <array>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "BfTwiceNatAddrPort/BfrtModule.h"
#include "TableTestSupport.h"
#include "chip/SimBfRt.h"

namespace TableTest {
namespace {

using bfrt::TableType;
using Call = RecordingKeyManager::Call;

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
    // The calls of building a BfRt table, less the PD interface object's id lookups.
    Texts bindingCalls(U16 pipe = kPipe) {
        Texts calls = callsOf([&] { tableIs(Backend::Bfrt, pipe); });
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
};

// ---- One action through adds, read-backs, a modify, default sets and the deletes, with
// the exact SDK calls of each backend.

// A match's natKeyId, src and dst port, or a hit action's rwId, prot and nextHop or ecmpGroup.
using Values = std::array<U16, 3>;
enum Step { add, read, modify, setDefault, deletes };

class ActionTest : public BfrtFixture,
                   public ::testing::WithParamInterface<std::tuple<Backend, ActionCase>> {
  protected:
    const Backend backend = std::get<0>(GetParam());
    const ActionCase& a = std::get<1>(GetParam());

    // The calls that programming (or reading, deleting) the match with fields `k` makes: the
    // PD calls with the fields' bytes in the PD specs (onMiss has none), or the BfRt calls,
    // where for add and set-default `h` 1 binds the action's data object first.
    Texts expected(Step step, const Values& k, const Values& v = {}, U32 h = 0) const {
        if (backend == Backend::Pd) {
            const auto b = [](U16 x) { return _fmt("%02x %02x", x & 0xFF, x >> 8); };
            const std::string name = a.name, dev = "sess=7, dev_tgt=" + target(),
                              handle = _fmt("sess=7, dev_id=2, hdl=%u", h),
                              spec = a.firstField ? _fmt(", action=[%s %02x -- %s]",
                                                         b(v[0]).c_str(), v[1], b(v[2]).c_str())
                                                  : "";
            switch (step) {
                case add:
                    return {pdCall(
                        "table_add_with_" + name,
                        dev + ", match=[" + b(k[0]) + " " + b(k[1]) + " " + b(k[2]) + "]" + spec)};
                case read:
                    return {pdCall("get_entry", handle + ", read_from_hw=0, hit_count=null")};
                case modify:
                    return {pdCall("table_modify_with_" + name, handle + spec)};
                case setDefault:
                    return {pdCall("set_default_action_" + name, dev + spec)};
                case deletes:
                    return {pdCall("table_delete", handle),
                            pdCall("table_reset_default_entry", dev)};
            }
        }
        const std::string at = sessionTarget();
        Texts keySets, dataSets,
            reads = {call("keyReset"), call("dataReset"),
                     call("tableEntryGet", at + _fmt(", flags=0, hdl=%u", h)),
                     "BfRtTableData::actionIdGet()"};
        std::string key = "key=[", data = _fmt("data=[action=%u", a.actionId);
        for (U32 i = 0; i < 3; ++i) {
            keySets.push_back(_fmt("BfRtTableKey::setValue(field=%u, value=%u)", i + 1, k[i]));
            key += _fmt("%s%u:%u", i ? " " : "", i + 1, k[i]);
            reads.push_back(_fmt("BfRtTableKey::getValue(field=%u)", i + 1));
        }
        for (U32 i = 0, f = a.firstField; f && i < 3; ++i) {
            dataSets.push_back(_fmt("BfRtTableData::setValue(field=%u, value=%u)", f + i, v[i]));
            data += _fmt(" %u:%u", f + i, v[i]);
            reads.push_back(_fmt("BfRtTableData::getValue(field=%u)", f + i));
        }
        data += "]";
        if (h && (step == add || step == setDefault))
            dataSets.insert(dataSets.begin(), {call("dataAllocate"),
                                               call("dataReset", _fmt("action=%u", a.actionId))});
        switch (step) {
            case add:
                return keySets + dataSets +
                       Texts{call("tableEntryAdd", at + ", " + key + "], " + data)};
            case read:
                return reads;
            case modify:
                return dataSets +
                       Texts{call("tableEntryMod", at + _fmt(", flags=32, hdl=%u, ", h) + data)};
            case setDefault:
                return dataSets + Texts{call("tableDefaultEntrySet", at + ", flags=32, " + data)};
            case deletes:
                return {call("tableEntryDel", at + _fmt(", hdl=%u", h)),
                        call("tableDefaultEntryReset", at)};
        }
        return {};
    }
    Texts programmed(const Bf::TwiceNatAddrPortMatchSpec::Ptr& m, const Values& v) {
        return callsOf([&] { program(m, actionOf(a.type, v[0], v[1], v[2])); });
    }
    std::string readBack(const Values& k, const Values& v) const {
        const Values w = a.firstField ? v : Values{};
        return described(k[0], k[1], k[2], a.type, w[0], w[1], w[2]);
    }
};

INSTANTIATE_TEST_SUITE_P(Actions, ActionTest,
                         ::testing::Combine(::testing::Values(Backend::Pd, Backend::Bfrt),
                                            ::testing::ValuesIn(kActionCases)),
                         [](const auto& info) {
                             return ::testing::PrintToString(std::get<0>(info.param)) + "_" +
                                    std::get<1>(info.param).name;
                         });

// The BfRt data object is bound once per binding; only the default match object sets and
// resets the default.
TEST_P(ActionTest, AddReadModifyDefaultSetAndDeleteMakeExactCalls) {
    tableIs(backend);
    const Values fields{0x0a01, 0x0b02, 0x0c03}, zeros{}, first{0x0201, 6, 0x0403},
        largest{0xFFFF, 255, 0xFFFF}, later{0x0807, 17, 0x0a09};
    const auto m = matchOf(0x0a01, 0x0b02, 0x0c03), zero = matchOf(0, 0, 0);
    const auto& def = table->defaultMatchSpec();
    // What the chip holds, read through the PD functions whichever backend wrote it, so
    // that fields swapped both on the way in and on the way out still show.
    const auto pdSees = [&](U32 handle, const std::string& action, const Values& v) {
        expectAction(ChipTest::pdRead(*pdLibrary, kDevice, handle), action,
                     {v[0], static_cast<U8>(v[1]), v[2]});
    };
    EXPECT_EQ(programmed(m, first), expected(add, fields, first, 1));
    const U32 h = handleOf(m);
    pdSees(h, a.name, first);
    // All fields 0 like the default match: an ordinary entry.
    EXPECT_EQ(programmed(zero, largest), expected(add, zeros, largest));
    Bf::TwiceNatAddrPortTableEntry read;
    EXPECT_EQ(callsOf([&] { read = table->entry(zero); }),
              expected(Step::read, zeros, {}, handleOf(zero)));
    EXPECT_EQ(describe(read), readBack(zeros, largest));

    EXPECT_EQ(programmed(m, later), expected(modify, fields, later, h));
    EXPECT_EQ(describe(table->entryByHandle(h)), readBack(fields, later));
    pdSees(h, a.name, later);
    EXPECT_EQ(programmed(def, first), expected(setDefault, zeros, first));
    const U32 defaultHandle = handleOf(def);
    pdSees(defaultHandle, a.name, first);
    table->initializeTable(table->helper());
    EXPECT_EQ(programmed(def, first), expected(setDefault, zeros, first, 1))
        << "a new binding binds the data anew";
    EXPECT_EQ(handleOf(def), defaultHandle);

    // A lookup goes by object: another with equal fields is not installed.
    EXPECT_EQ(callsOf([&] { read = table->entry(matchOf(0x0a01, 0x0b02, 0x0c03)); }), Texts{});
    EXPECT_EQ(describe(read), "empty");
    EXPECT_EQ(callsOf([&] {
                  table->entryDel(m);
                  table->entryDel(def);
              }),
              expected(deletes, fields, {}, h));
    pdSees(defaultHandle, "onMiss", {});
    EXPECT_EQ(keys->calls,
              (std::vector<Call>{{"alloc", 1, m}, {"alloc", 2, zero}, {"alloc", 3, def}}))
        << "deletes free no key: the agent does";
    EXPECT_EQ(statusManager->initStatusCount(), 7u);
}

// Read-backs cut fields to their widths and give up on an unknown action or a failed read;
// violated preconditions stop the process.
TEST_F(BfrtFixture, ReadBacksOfAScriptedTableAndViolatedPreconditions) {
    ScopedTableObject scripted(Chip::deviceObjects(kDevice).table,
                               std::make_unique<ScriptedBfRtTable>(bfrt::TableType::MatchDirect));
    tableIs(Backend::Bfrt);
    const auto match = matchOf(5, 2, 3);
    program(match, actionOf(kHit, 1, 6, 2));
    scripted->afterRead = [](Chip::SimKey& key, Chip::SimData& data) {
        key.fields[0] = (U64{1} << 16) + 1;
        data.fields[1] = 262;
    };
    EXPECT_EQ(describe(table->entry(match)), described(1, 2, 3, 1, 1, 6, 2));

    scripted->afterRead = [](Chip::SimKey&, Chip::SimData& data) { data.boundActionId = 999; };
    Bf::TwiceNatAddrPortTableEntry read;
    EXPECT_EQ(callsOf([&] { read = table->entry(match); }).size(), 7u)
        << "no data field is read for an unknown action";
    EXPECT_EQ(describe(read), "empty");

    Chip::TestHooks::faultIs("OlvaneBfRtTable::tableEntryGet", 1, Chip::kObjectNotFound);
    EXPECT_EQ(raised([&] { read = table->entryByHandle(handleOf(match)); }), Raised{});
    EXPECT_EQ(describe(read), "empty");

    table->helper()->sdkHandles()->entryIs(match, 0);
    EXPECT_DEATH(table->entryDel(match), assertionFailed("!!entry_hdl"));
    // A stored default handle that the SDK does not give back.
    const auto& def = table->defaultMatchSpec();
    program(def, actionOf(kOnMiss));
    table->helper()->sdkHandles()->entryIs(def, handleOf(def) + 1);
    EXPECT_DEATH(program(def, actionOf(kOnMiss)), assertionFailed("entry_hdl == default_hdl"));
    scripted->attributesWithheld = true;
    EXPECT_DEATH(table->initializeTable(table->helper()), assertionFailed("tableAttrScope"));
}

// ---- Failure sites of both backends. The PD check raises 4 as BfTableException, the BfRt
// operation check as BfDuplicateEntry and the BfRt call check 10 as BfTryAgain, which tells
// the three checks apart.

#define PD_CALL(function) "p4_pd_olvane_switch_twiceNatAddrPort_" function
struct Site {
    Backend backend;
    const char* op;
    const char* call;  // the failing call
    // Checked as an operation, reported by the PD function's or "twiceNatAddrPort_<method>"
    // name; otherwise by the BfRt call check.
    bool operation;
};
constexpr Site kSites[] = {
    {Backend::Pd, "Bind", PD_CALL("set_property"), true},
    {Backend::Pd, "Add", PD_CALL("table_add_with_twiceNatAddrPortHitEcmp"), true},
    {Backend::Pd, "Modify", PD_CALL("table_modify_with_twiceNatAddrPortHitEcmp"), true},
    {Backend::Pd, "SetDefault", PD_CALL("set_default_action_twiceNatAddrPortHitEcmp"), true},
    {Backend::Pd, "SetDefaultAgain", PD_CALL("set_default_action_twiceNatAddrPortHitEcmp"), true},
    {Backend::Pd, "Delete", PD_CALL("table_delete"), true},
    {Backend::Pd, "ResetDefault", PD_CALL("table_reset_default_entry"), true},
    {Backend::Bfrt, "Bind", "OlvaneBfRtTable::tableTypeGet", false},
    {Backend::Bfrt, "Bind", "OlvaneBfRtTable::keyAllocate", false},
    {Backend::Bfrt, "Bind", "OlvaneBfRtTable::keyReset", false},
    {Backend::Bfrt, "Bind", "OlvaneBfRtTable::dataAllocate", false},
    {Backend::Bfrt, "Bind", "OlvaneBfRtTable::attributeAllocate", false},
    {Backend::Bfrt, "Bind", "BfRtTableAttributes::entryScopeParamsSet", false},
    {Backend::Bfrt, "Bind", "OlvaneBfRtTable::tableAttributesSet", false},
    {Backend::Bfrt, "Add", "BfRtTableKey::setValue", false},
    {Backend::Bfrt, "Add", "OlvaneBfRtTable::dataAllocate", false},
    {Backend::Bfrt, "Add", "OlvaneBfRtTable::dataReset", false},
    {Backend::Bfrt, "Add", "BfRtTableData::setValue", false},
    {Backend::Bfrt, "Add", "OlvaneBfRtTable::tableEntryAdd", true},
    {Backend::Bfrt, "Modify", "OlvaneBfRtTable::tableEntryMod", true},
    {Backend::Bfrt, "SetDefault", "OlvaneBfRtTable::tableDefaultEntrySet", true},
    {Backend::Bfrt, "Delete", "OlvaneBfRtTable::tableEntryDel", true},
    {Backend::Bfrt, "ResetDefault", "OlvaneBfRtTable::tableDefaultEntryReset", true},
    {Backend::Bfrt, "Read", "OlvaneBfRtTable::keyReset", false},
    {Backend::Bfrt, "Read", "OlvaneBfRtTable::dataReset", false},
    {Backend::Bfrt, "Read", "BfRtTableData::actionIdGet", false},
    {Backend::Bfrt, "Read", "BfRtTableKey::getValue", false},
    {Backend::Bfrt, "Read", "BfRtTableData::getValue", false},
};
#undef PD_CALL

class FailureTest : public BfrtFixture, public ::testing::WithParamInterface<Site> {};

void PrintTo(const Site& s, std::ostream* out) {
    *out << s.op << " " << s.call;
}
INSTANTIATE_TEST_SUITE_P(Sites, FailureTest, ::testing::ValuesIn(kSites));

// Each operation but Bind runs on one installed entry with HitEcmp not yet bound.
TEST_P(FailureTest, RaisesItsSitesExceptionAndKeepsTheStateAsItWas) {
    const Site& site = GetParam();
    const std::string op = site.op;
    const bool pd = site.backend == Backend::Pd;
    const auto installed = matchOf(1, 2, 3), fresh = matchOf(4, 5, 6);
    const auto ecmp = actionOf(kHitEcmp, 1, 6, 2);
    Bf::TwiceNatAddrPortMatchSpec::Ptr def;
    if (op != "Bind") {
        tableIs(site.backend);
        program(installed, actionOf(kHit, 1, 6, 2));
        def = table->defaultMatchSpec();
    }
    if (op == "ResetDefault" || op == "SetDefaultAgain")
        program(def, ecmp);
    const auto state = [&] {
        const auto* handles = table ? table->helper()->sdkHandles().ptr() : nullptr;
        return std::tuple(handles ? handles->entryCount() : 0u, table ? handleOf(installed) : 0,
                          table ? handleOf(def) : 0, keys->recordCount());
    };
    auto expected = state();
    const U32 handle = std::get<1>(expected);
    const U64 inits = statusManager->initStatusCount();
    Bf::bfRtModuleObjects().actionBfRtDataBound[0] = true;  // cleared by a binding
    const auto attributes = Chip::TestHooks::allocationCounts().attributes.live;
    const std::map<std::string, std::function<void()>> operations = {
        {"Bind", [&] { tableIs(site.backend); }},
        {"Add", [&] { program(fresh, ecmp); }},
        {"Modify", [&] { program(installed, ecmp); }},
        {"SetDefault", [&] { program(def, ecmp); }},
        {"SetDefaultAgain", [&] { program(def, ecmp); }},
        {"Delete", [&] { table->entryDel(installed); }},
        {"ResetDefault", [&] { table->entryDel(def); }},
        {"Read", [&] { table->entryByHandle(handle); }},
    };

    Chip::TestHooks::faultIs(site.call, 1, site.operation ? 4 : 10);
    const std::string call = site.call, method = call.substr(call.find(':') + 2);
    const Raised byCall{"BfTryAgain", 10,
                        std::string("BFRT call failed: ") + Bf::sdkStatusText(10)},
        byOperation{pd ? "BfTableException" : "BfDuplicateEntry", 4,
                    (pd ? call : "twiceNatAddrPort_" + method) + "() failed: Already exists"};
    EXPECT_EQ(raised(operations.at(op)), site.operation ? byOperation : byCall);
    const bool deleting = op == "Delete" || op == "ResetDefault";
    if (deleting && !pd) {  // the BfRt backend takes the match out before the SDK call
        std::get<0>(expected) -= 1;
        (op == "Delete" ? std::get<1>(expected) : std::get<2>(expected)) = 0;
    }
    EXPECT_EQ(state(), expected) << "no key is left allocated, none freed";
    EXPECT_EQ(statusManager->initStatusCount(), inits + (deleting ? 1 : 0));
    if (op == "Bind") {
        // The bound flags are cleared after the objects are allocated, before the scope is set.
        const bool settingScope = call.find("ttribute") != std::string::npos;
        EXPECT_EQ(Bf::bfRtModuleObjects().actionBfRtDataBound[0], !settingScope);
        EXPECT_EQ(Chip::TestHooks::allocationCounts().attributes.live, attributes);
    }
    if (!deleting) {
        EXPECT_EQ(raised(operations.at(op)), Raised{}) << "a retry succeeds";
    } else if (pd) {  // the entry is still there, and a second try calls the SDK again
        const auto& target = op == "Delete" ? installed : def;
        EXPECT_EQ(callsOf([&] { table->entryDel(target); }).size(), 1u);
        EXPECT_FALSE(table->helper()->sdkHandles()->entryHas(target));
    }
}

struct BindingCase {
    TableType type;
    U16 pipe;
    const char* replaced;      // the owners that get new objects
    std::optional<int> scope;  // the entry scope set, if any
};
constexpr const char* kMatchObjects = "entryBfRtKey readBfRtKey readBfRtData ";

class BfrtBindingTest : public BfrtFixture, public ::testing::WithParamInterface<BindingCase> {};

INSTANTIATE_TEST_SUITE_P(
    Types, BfrtBindingTest,
    ::testing::Values(
        BindingCase{TableType::MatchDirect, 1, kMatchObjects, 1},
        BindingCase{TableType::MatchIndirect, 3, kMatchObjects, 1},
        BindingCase{TableType::MatchIndirectSelector, 0xFFFF, kMatchObjects, 0},
        BindingCase{TableType::ActionProfile, 1, "actionProfileBfRtKey actionProfileBfRtData ", {}},
        BindingCase{TableType::Selector, 1, "selectorBfRtKey selectorBfRtData ", {}},
        BindingCase{TableType::Register, 1, kMatchObjects, {}}),
    [](const auto& info) {
        return "Type" + std::to_string(static_cast<int>(info.param.type)) + "Pipe" +
               std::to_string(info.param.pipe);
    });

TEST_P(BfrtBindingTest, BindsByTableType) {
    const BindingCase& c = GetParam();
    const bool match = std::string_view(c.replaced) == kMatchObjects;
    ScopedTableObject bound(Chip::deviceObjects(kDevice).table,
                            std::make_unique<Chip::SimTable>(c.type));
#define OWNER(name) std::pair<std::string, const void*>(#name, o.name.get())
    const auto owners = [] {  // the module-wide owners
        const Bf::BfRtModuleObjects& o = Bf::bfRtModuleObjects();
        return std::vector{OWNER(entryBfRtKey),          OWNER(readBfRtKey),
                           OWNER(readBfRtData),          OWNER(actionProfileBfRtKey),
                           OWNER(actionProfileBfRtData), OWNER(selectorBfRtKey),
                           OWNER(selectorBfRtData)};
    };
#undef OWNER
    Bf::bfRtModuleObjects().actionBfRtDataBound.fill(true);
    const auto ownersBefore = owners();
    const auto before = Chip::TestHooks::allocationCounts();

    // A match table resets its key object and allocates another for read-backs.
    Texts expected = {
        call("tableTypeGet"), call("keyAllocate"),
        call("keyReset"),     call("keyAllocate"),
        call("dataAllocate"), call("deviceTargetIs", "target=" + target(kDevice, c.pipe))};
    if (!match)
        expected.erase(expected.begin() + 2, expected.begin() + 4);
    if (c.scope) {
        const std::string scope = "scope=" + std::to_string(*c.scope);
        expected = expected +
                   Texts{call("attributeAllocate", "type=0"),
                         "BfRtTableAttributes::entryScopeParamsSet(" + scope + ")",
                         call("tableAttributesSet", sessionTarget(kDevice, c.pipe) + ", " + scope)};
    }
    EXPECT_EQ(bindingCalls(c.pipe), expected);
    std::string replaced;
    for (std::size_t i = 0; i < ownersBefore.size(); ++i)
        replaced += owners()[i].second != ownersBefore[i].second ? owners()[i].first + " " : "";
    EXPECT_EQ(replaced, c.replaced);
    for (bool flag : Bf::bfRtModuleObjects().actionBfRtDataBound)
        EXPECT_EQ(flag, !match) << "a match table binding unbinds every action's data";
    EXPECT_EQ(Chip::TestHooks::allocationCounts().attributes.live, before.attributes.live)
        << "the scope object is released";
}

TEST_F(BfrtFixture, BindsTheThreeTableObjectsInOrderAndTheLastMatchTableTakesTheEntryObjects) {
    auto& objects = Chip::deviceObjects(kDevice);
    ScopedTableObject second(objects.secondTable,
                             std::make_unique<Chip::SimTable>(TableType::Selector, "second"));
    ScopedTableObject third(objects.thirdTable,
                            std::make_unique<Chip::SimTable>(TableType::ActionProfile, "third"));
    Chip::TestHooks::faultIs("OlvaneBfRtTable::deviceTargetIs", 1, Chip::kInvalidArg);
    Texts queries = bindingCalls();  // each after the ignored failure
    std::erase_if(queries, [](const std::string& c) { return c.find("tableTypeGet") == c.npos; });
    EXPECT_EQ(queries, (Texts{call("tableTypeGet"), call("tableTypeGet", {}, "second"),
                              call("tableTypeGet", {}, "third")}));
    EXPECT_EQ(third->deviceTarget().pipe_id, kPipe) << "each binding gets the same helper";
    // The last binding's key and data objects serve every table object, and only the table
    // that allocated them takes them: a second match table (a register here) takes them
    // from this one, a selector does not.
    for (const auto type : {TableType::Register, TableType::Selector}) {
        second.slot = std::make_unique<Chip::SimTable>(type, "second");
        tableIs(Backend::Bfrt);
        const Raised r = raised([&] { program(matchOf(1, 2, 3), actionOf(kHit, 1, 6, 2)); });
        EXPECT_EQ(std::tuple(r.cls, r.status), type == TableType::Register
                                                   ? std::tuple("BfTableException", 3u)
                                                   : std::tuple("nothing", 0u));
    }
    // The object runtime without a table object gets the PD backend.
    ScopedTableObject none(objects.table, std::unique_ptr<Chip::SimTable>());
    EXPECT_EQ(&tableIs(Backend::Bfrt)->kivType(), &Bf::TwiceNatAddrPortTablePd::kivTypeInfo());
}

TEST_F(BfrtFixture, TablesOfTwoDevicesShareTheModuleObjectsAndProgramTheirOwnChips) {
    constexpr U8 kOther = kDevice + 1;
    tableIs(Backend::Bfrt);
    ChipTest::SharedLibrary lib(ChipTest::kPdLibrary);
    auto other = twiceNatAddrPortTableFactory(nullptr, nullptr, lib.handle(), kSession, kOther,
                                              0xFFFF, ChipTest::kPdLibrary);
    const auto here = matchOf(1, 2, 3), there = matchOf(1, 2, 3);
    const auto hit = actionOf(kHit, 1, 6, 2);
    EXPECT_EQ(callsOf([&] { program(here, hit); })[3], call("dataAllocate"));
    const Texts otherCalls = callsOf([&] { other->entryIs(entryOf(there, hit)); });
    EXPECT_EQ(otherCalls.size(), 7u) << "the data object bound for the first table serves";
    EXPECT_EQ(otherCalls.back(),
              call("tableEntryAdd", sessionTarget(kOther, 0xFFFF) + ", key=[1:1 2:2 3:3]" +
                                        ", data=[action=102 11:1 12:6 13:2]"));
    EXPECT_EQ(describe(other->entry(there)), described(1, 2, 3, 1, 1, 6, 2));
    other->entryDel(there);  // without a status manager
    EXPECT_EQ(Chip::open(kOther).entryCount(), 0u);
}

}  // namespace
}  // namespace TableTest
