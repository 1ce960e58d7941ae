// The PD backend on the chip model: the PD call of every operation and
// action, which operation an entry takes, deletion, every failure site, the
// assertions, the trace lines and tables without key or status manager.

#include <cstdio>
#include <functional>
#include <sstream>
#include <tuple>

#include "PdTestSupport.h"

namespace TableTest {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Call = RecordingKeyManager::Call;

const auto kOnMiss = Bf::onMissActionSpec;
const auto kHit = Bf::twiceNatAddrPortHitActionSpec;

std::string hdl(U32 handle) {
    return "hdl=" + std::to_string(handle);
}

// ---- One action through add, read-back, modify and set-default.

class PdActionTest : public PdFixture, public ::testing::WithParamInterface<int> {};

TEST_P(PdActionTest, ProgramsWithTheActionsOwnFunctionAndExactBytes) {
    const auto type = static_cast<TwiceNatAddrPortActionSpecType>(GetParam());
    const std::string name = kActionNames[GetParam()];
    const bool hit = type != kOnMiss;
    pdTableIs();
    const auto m = match(0x0a01, 0x0b02, 0x0c03);

    const auto added = callsOf([&] { program(m, actionOf(type, 0x0201, 6, 0x0403)); });
    const std::string firstSpec = hit ? ", action=[01 02 06 -- 03 04]" : "";
    EXPECT_THAT(added, ElementsAre(pd("table_add_with_" + name,
                                      kAtTarget + ", match=[01 0a 02 0b 03 0c]" + firstSpec)));
    const U32 h = handleOf(m);
    ASSERT_NE(h, 0u);
    const Fields first = hit ? Fields{0x0a01, 0x0b02, 0x0c03, GetParam(), 0x0201, 6, 0x0403}
                             : Fields{0x0a01, 0x0b02, 0x0c03, 0, 0, 0, 0};
    EXPECT_EQ(fieldsOf(table->entryByHandle(h)), first);

    const auto modified = callsOf([&] { program(m, actionOf(type, 0x0807, 17, 0x0a09)); });
    const std::string secondSpec = hit ? ", action=[07 08 11 -- 09 0a]" : "";
    EXPECT_THAT(modified,
                ElementsAre(pd("table_modify_with_" + name, kAtDevice + hdl(h) + secondSpec)));
    EXPECT_EQ(handleOf(m), h);
    if (hit) {
        EXPECT_EQ(fieldsOf(table->entry(m)),
                  (Fields{0x0a01, 0x0b02, 0x0c03, GetParam(), 0x0807, 17, 0x0a09}));
    }

    const auto defaulted =
        callsOf([&] { program(defaultMatch(), actionOf(type, 0x0201, 6, 0x0403)); });
    EXPECT_THAT(defaulted, ElementsAre(pd("set_default_action_" + name, kAtTarget + firstSpec)));
    EXPECT_THAT(keys->calls, ElementsAre(Call{"alloc", 1, m}, Call{"alloc", 2, defaultMatch()}));
    EXPECT_EQ(statusManager->initStatusCount(), 3u);
}

INSTANTIATE_TEST_SUITE_P(EveryAction, PdActionTest, ::testing::Range(0, 5),
                         [](const auto& info) { return std::string(kActionNames[info.param]); });

// ---- Which operation an entry takes: identity of the match object decides.

TEST_F(PdFixture, DefaultMatchObjectSetsDefaultAndEqualValuedObjectsAreAdded) {
    pdTableIs();
    const auto def = defaultMatch();
    const auto hitAction = actionOf(kHit, 1, 6, 2);

    EXPECT_THAT(callsOf([&] { program(def, hitAction); }),
                ElementsAre(pd("set_default_action_twiceNatAddrPortHit",
                               kAtTarget + ", action=[01 00 06 -- 02 00]")));
    const U32 defaultHandle = handleOf(def);
    ASSERT_NE(defaultHandle, 0u);
    EXPECT_THAT(keys->calls, ElementsAre(Call{"alloc", 1, def}));

    // Again, with another action: no key, same handle, the map untouched.
    EXPECT_THAT(callsOf([&] { program(def, actionOf(kOnMiss)); }),
                ElementsAre(pd("set_default_action_onMiss", kAtTarget)));
    EXPECT_EQ(keys->calls.size(), 1u);
    EXPECT_EQ(handleOf(def), defaultHandle);
    EXPECT_EQ(table->helper()->sdkHandles()->entryCount(), 1u);
    EXPECT_EQ(statusManager->touches(def), 2u);
    EXPECT_EQ(fieldsOf(table->entryByHandle(defaultHandle)), (Fields{0, 0, 0, 0, 0, 0, 0}));

    // All fields 0 like the default match, but another object: an ordinary entry.
    const auto zero = match(0, 0, 0);
    EXPECT_THAT(
        callsOf([&] { program(zero, hitAction); }),
        ElementsAre(pd("table_add_with_twiceNatAddrPortHit",
                       kAtTarget + ", match=[00 00 00 00 00 00], action=[01 00 06 -- 02 00]")));
    const U32 zeroHandle = handleOf(zero);
    EXPECT_NE(zeroHandle, defaultHandle);
    EXPECT_EQ(keys->calls.back(), (Call{"alloc", 2, zero}));

    // The installed object with another action: modified under its stored handle.
    EXPECT_THAT(callsOf([&] { program(zero, actionOf(kOnMiss)); }),
                ElementsAre(pd("table_modify_with_onMiss", kAtDevice + hdl(zeroHandle))));
    EXPECT_EQ(keys->calls.size(), 2u);

    // A new object equal to an installed one is added; the chip refuses the duplicate.
    const auto twin = match(0, 0, 0);
    ChipTest::ScopedCallLog log;
    EXPECT_EQ(
        raised([&] { program(twin, hitAction); }),
        (Raised{"BfTableException",
                std::string(kPd) + "table_add_with_twiceNatAddrPortHit() failed: Already exists",
                4}));
    EXPECT_THAT(
        log.texts(),
        ElementsAre(pd("table_add_with_twiceNatAddrPortHit",
                       kAtTarget + ", match=[00 00 00 00 00 00], action=[01 00 06 -- 02 00]")));
    EXPECT_THAT(keys->calls, ElementsAre(Call{"alloc", 1, def}, Call{"alloc", 2, zero},
                                         Call{"alloc", 3, twin}, Call{"free", 3, nullptr}));
    EXPECT_FALSE(table->helper()->sdkHandles()->entryHas(twin));
    EXPECT_EQ(handleOf(zero), zeroHandle);
}

// ---- Entry scope and device target follow the pipe.

class PdPipeTest : public PdFixture, public ::testing::WithParamInterface<U16> {};

TEST_P(PdPipeTest, ScopeAtInitialisationAndPipeInEveryDeviceTarget) {
    const U16 pipe = GetParam();
    EXPECT_THAT(callsOf([&] { pdTableIs(pipe); }),
                ElementsAre(pd("set_property", std::string("sess=7, dev_id=2, property=1, value=") +
                                                   (pipe == 0xFFFF ? "0" : "1"))));
    char target[48];
    std::snprintf(target, sizeof target, "sess=7, dev_tgt=[02 00 00 00 %02x %02x 00 00]",
                  pipe & 0xFF, pipe >> 8);
    const auto calls = callsOf([&] {
        program(match(1, 2, 3), actionOf(kOnMiss));
        program(defaultMatch(), actionOf(kOnMiss));
        table->entryDel(defaultMatch());
    });
    EXPECT_THAT(calls, ElementsAre(pd("table_add_with_onMiss",
                                      target + std::string(", match=[01 00 02 00 03 00]")),
                                   pd("set_default_action_onMiss", target),
                                   pd("table_reset_default_entry", target)));
}

INSTANTIATE_TEST_SUITE_P(Pipes, PdPipeTest, ::testing::Values(0, 1, 3, 0xFFFF));

TEST_F(PdFixture, InitialisesTheTableOfTheHelperItIsGiven) {
    pdTableIs();
    const auto other = Bf::twiceNatAddrPortTableHelperFactory(3, 0xFFFF);
    other->pdLibIs(ChipTest::kPdLibraryNoBfRt, pdLibrary->handle(), 9);
    EXPECT_THAT(callsOf([&] { table->initializeTable(other); }),
                ElementsAre(pd("set_property", "sess=9, dev_id=3, property=1, value=0")));
}

// ---- Deletion

TEST_F(PdFixture, DeletesByStoredHandleAndResetsTheDefaultEntry) {
    pdTableIs();
    const auto m = match(1, 2, 3);
    const auto zero = match(0, 0, 0);
    const auto def = defaultMatch();
    program(m, actionOf(kHit, 1, 6, 2));
    program(zero, actionOf(kOnMiss));
    program(def, actionOf(kOnMiss));
    const U32 mHandle = handleOf(m), zeroHandle = handleOf(zero);
    keys->calls.clear();

    EXPECT_THAT(callsOf([&] {
                    table->entryDel(m);
                    table->entryDel(zero);
                    table->entryDel(def);
                }),
                ElementsAre(pd("table_delete", kAtDevice + hdl(mHandle)),
                            pd("table_delete", kAtDevice + hdl(zeroHandle)),
                            pd("table_reset_default_entry", kAtTarget)));
    EXPECT_EQ(table->helper()->sdkHandles()->entryCount(), 0u);
    EXPECT_THAT(keys->calls, IsEmpty());
    EXPECT_EQ(statusManager->touches(m), 2u);
    EXPECT_EQ(statusManager->touches(def), 2u);
    EXPECT_EQ(fieldsOf(table->entryByHandle(mHandle)), Fields{});

    // After the reset the next set-default is a first one again.
    program(def, actionOf(kHit, 4, 5, 6));
    EXPECT_THAT(keys->calls, ElementsAre(Call{"alloc", 4, def}));
    EXPECT_NE(handleOf(def), 0u);
}

// ---- Every failure site with every kind of status

enum class Site { add, modify, firstDefault, againDefault, erase, resetDefault, setProperty };
const char* const kSiteNames[] = {"Add",    "Modify",       "FirstDefault", "AgainDefault",
                                  "Delete", "ResetDefault", "SetProperty"};

struct StatusCase {
    int status;
    const char* cls;
    const char* text;
};
const StatusCase kStatuses[] = {
    {2, "BfNoSysResources", "No system resources"},
    {4, "BfTableException", "Already exists"},
    {9, "BfTableFull", "Not enough space"},
    {10, "BfTableException", "Resource temporarily not available, try again later"},
    {17, "BfNotSupported", "Operation not supported"},
    {26, "BfTableException", "Hardware entry not found"},
    {27, "BfTableException", "Unknown error"},
    {-1, "BfTableException", "Unknown error"},
};

class PdFailureTest : public PdFixture,
                      public ::testing::WithParamInterface<std::tuple<Site, StatusCase>> {};

TEST_P(PdFailureTest, RaisesAndLeavesTheBookkeepingAsItWas) {
    const auto [site, sc] = GetParam();
    const auto fault = [&](const std::string& function) {
        Chip::TestHooks::faultIs(kPd + function, 1, sc.status);
        return Raised{sc.cls, kPd + function + "() failed: " + sc.text,
                      static_cast<U32>(sc.status)};
    };
    if (site == Site::setProperty) {
        const Raised expected = fault("set_property");
        EXPECT_EQ(raised([&] { pdTableIs(); }), expected);
        EXPECT_FALSE(table);
        return;
    }
    pdTableIs();
    const auto m = match(1, 2, 3);
    const auto def = defaultMatch();
    program(m, actionOf(kHit, 1, 6, 2));
    if (site == Site::againDefault || site == Site::resetDefault)
        program(def, actionOf(kOnMiss));
    const auto& handles = *table->helper()->sdkHandles();
    const std::size_t pairs = handles.entryCount();
    const U32 mHandle = handleOf(m), defaultHandle = handleOf(def);
    const auto initStatuses = statusManager->initStatusCount();
    const auto records = keys->recordCount();
    keys->calls.clear();

    const auto other = match(4, 5, 6);
    std::function<void()> step;
    Raised expected;
    switch (site) {
        case Site::add:
            expected = fault("table_add_with_twiceNatAddrPortHit");
            step = [&] { program(other, actionOf(kHit, 1, 2, 3)); };
            break;
        case Site::modify:
            expected = fault("table_modify_with_twiceNatAddrPortHitEcmp");
            step = [&] { program(m, actionOf(Bf::twiceNatAddrPortHitEcmpActionSpec, 1, 2, 3)); };
            break;
        case Site::firstDefault:
        case Site::againDefault:
            expected = fault("set_default_action_twiceNatAddrPortHitDynamic");
            step = [&] {
                program(def, actionOf(Bf::twiceNatAddrPortHitDynamicActionSpec, 1, 2, 3));
            };
            break;
        case Site::erase:
            expected = fault("table_delete");
            step = [&] { table->entryDel(m); };
            break;
        case Site::resetDefault:
            expected = fault("table_reset_default_entry");
            step = [&] { table->entryDel(def); };
            break;
        case Site::setProperty:
            break;
    }
    EXPECT_EQ(raised(step), expected);

    EXPECT_EQ(handles.entryCount(), pairs);
    EXPECT_EQ(handleOf(m), mHandle);
    EXPECT_EQ(handleOf(def), defaultHandle);
    EXPECT_FALSE(handles.entryHas(other));
    EXPECT_EQ(keys->recordCount(), records);
    const bool deletes = site == Site::erase || site == Site::resetDefault;
    EXPECT_EQ(statusManager->initStatusCount(), initStatuses + (deletes ? 1 : 0));
    if (site == Site::add) {
        EXPECT_THAT(keys->calls, ElementsAre(Call{"alloc", 2, other}, Call{"free", 2, nullptr}));
    } else if (site == Site::firstDefault) {
        EXPECT_THAT(keys->calls, ElementsAre(Call{"alloc", 2, def}, Call{"free", 2, nullptr}));
    } else {
        EXPECT_THAT(keys->calls, IsEmpty());
    }
    if (deletes) {  // the entry is still there, and a second try calls the SDK again
        const auto target = site == Site::erase ? Bf::TwiceNatAddrPortMatchSpec::PtrConst(m) : def;
        ASSERT_TRUE(handles.entryHas(target));
        EXPECT_EQ(callsOf([&] { table->entryDel(target); }).size(), 1u);
        EXPECT_FALSE(handles.entryHas(target));
    }
}

INSTANTIATE_TEST_SUITE_P(
    SitesAndStatuses, PdFailureTest,
    ::testing::Combine(::testing::Values(Site::add, Site::modify, Site::firstDefault,
                                         Site::againDefault, Site::erase, Site::resetDefault,
                                         Site::setProperty),
                       ::testing::ValuesIn(kStatuses)),
    [](const auto& info) {
        const int status = std::get<1>(info.param).status;
        return std::string(kSiteNames[static_cast<int>(std::get<0>(info.param))]) + "Status" +
               (status < 0 ? "Minus" + std::to_string(-status) : std::to_string(status));
    });

// ---- Programming errors

using PdDeathTest = PdFixture;

TEST_F(PdDeathTest, AssertionsStopTheProcess) {
    pdTableIs();
    const auto m = match(1, 2, 3);
    EXPECT_DEATH(table->entryIs(Bf::TwiceNatAddrPortTableEntry()),
                 "Assertion `entry.action\\(\\) != NULL' failed");
    EXPECT_DEATH(table->entryIs(entryOf(nullptr, actionOf(kHit))),
                 "Assertion `entry.match\\(\\) != NULL' failed");
    auto unknown = Bf::twiceNatAddrPortBaseActionSpecFactory();
    unknown->actionTypeIs(static_cast<TwiceNatAddrPortActionSpecType>(5));
    EXPECT_DEATH(program(m, unknown), "Assertion `0' failed");
    EXPECT_DEATH(table->entryDel(m),
                 "Assertion `helper\\(\\)->sdkHandles\\(\\)->entryHas\\( match \\)' failed");

    // A stored default handle that the SDK does not give back.
    program(defaultMatch(), actionOf(kOnMiss));
    table->helper()->sdkHandles()->entryIs(defaultMatch(), handleOf(defaultMatch()) + 1);
    EXPECT_DEATH(program(defaultMatch(), actionOf(kOnMiss)),
                 "Assertion `entry_hdl == default_hdl' failed");
}

// ---- Trace lines

std::string address(const void* p) {
    std::ostringstream out;
    out << p;
    return out.str();
}

TEST_F(PdFixture, WritesItsTraceLinesAtLevelNine) {
    {
        TraceCapture trace;
        pdTableIs();
        EXPECT_THAT(trace.texts(), ElementsAre("initializeTable"));
    }
    const auto m = match(1, 2, 3);
    const std::string entryIs =
        "virtual void BfTwiceNatAddrPort::TwiceNatAddrPortTablePd::entryIs(const "
        "BfTwiceNatAddrPort::TwiceNatAddrPortTableEntry&), matchSpec: ";
    TraceCapture trace;
    program(m, actionOf(kHit));
    program(m, actionOf(Bf::twiceNatAddrPortHitEcmpDynamicActionSpec));
    program(defaultMatch(), actionOf(kOnMiss));
    table->entryByHandle(handleOf(m));
    table->entryDel(m);
    EXPECT_THAT(
        trace.texts(),
        ElementsAre(
            entryIs + address(m.ptr()) + ", action: twiceNatAddrPortHitActionSpec",
            "Adding new entry",
            entryIs + address(m.ptr()) + ", action: twiceNatAddrPortHitEcmpDynamicActionSpec",
            "Modifying existing entry",
            entryIs + address(defaultMatch().ptr()) + ", action: onMissActionSpec",
            "Setting default action", "entryByHandle",
            "virtual void BfTwiceNatAddrPort::TwiceNatAddrPortTablePd::entryDel(const "
            "PtrConst&), matchSpec: " +
                address(m.ptr())));
    for (const auto& line : trace.lines) EXPECT_EQ(line.level, 9);

    TraceCapture quiet(8);
    program(m, actionOf(kHit));
    table->entryDel(m);
    EXPECT_THAT(quiet.texts(), IsEmpty());
}

// ---- No key manager, no status manager

TEST_F(PdFixture, WorksWithoutKeyManagerAndStatusManager) {
    keys = nullptr;
    keyManager = nullptr;
    statusManager = nullptr;
    tableIs(Backend::Pd);
    const auto m = match(1, 2, 3);
    const auto def = defaultMatch();
    const auto calls = callsOf([&] {
        program(m, actionOf(kHit, 1, 6, 2));
        program(m, actionOf(kOnMiss));
        program(def, actionOf(kHit, 3, 4, 5));
        program(def, actionOf(kOnMiss));
        EXPECT_EQ(fieldsOf(table->entry(m)), (Fields{1, 2, 3, 0, 0, 0, 0}));
        Chip::TestHooks::faultIs(std::string(kPd) + "table_add_with_onMiss", 1, 9);
        EXPECT_EQ(raised([&] { program(match(7, 8, 9), actionOf(kOnMiss)); }).cls, "BfTableFull");
        table->entryDel(m);
        table->entryDel(def);
    });
    std::vector<std::string> functions;
    for (const auto& call : calls) functions.push_back(call.substr(0, call.find('(')));
    EXPECT_THAT(
        functions,
        ElementsAre(std::string(kPd) + "table_add_with_twiceNatAddrPortHit",
                    std::string(kPd) + "table_modify_with_onMiss",
                    std::string(kPd) + "set_default_action_twiceNatAddrPortHit",
                    std::string(kPd) + "set_default_action_onMiss", std::string(kPd) + "get_entry",
                    std::string(kPd) + "table_add_with_onMiss", std::string(kPd) + "table_delete",
                    std::string(kPd) + "table_reset_default_entry"));
    EXPECT_EQ(table->helper()->sdkHandles()->entryCount(), 0u);
    EXPECT_EQ(Zabro::mbbZabroTableConfigFactory(kDevice, kPipe)->recordCount(), 0u);
}

}  // namespace
}  // namespace TableTest
