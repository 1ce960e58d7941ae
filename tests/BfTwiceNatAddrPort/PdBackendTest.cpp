// The PD backend on the chip model: the PD call of every operation and action
// with its exact bytes, which operation an entry takes, deletion, the entry
// scope, the failure sites, and read-backs through a scripted entry reader.

#include <functional>
#include <string_view>

#include "PdScriptedReader.h"
#include "TableTestSupport.h"

namespace TableTest {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Call = RecordingKeyManager::Call;

const std::string kPd = "p4_pd_olvane_switch_twiceNatAddrPort_";
// The leading arguments of a PD call on kDevice (and kPipe), as the chip logs them.
const std::string kAtTarget = "sess=7, dev_tgt=[02 00 00 00 01 00 00 00]";
const std::string kAtDevice = "sess=7, dev_id=2, ";
const char* const kActionNames[] = {"onMiss", "twiceNatAddrPortHit", "twiceNatAddrPortHitDynamic",
                                    "twiceNatAddrPortHitEcmp", "twiceNatAddrPortHitEcmpDynamic"};

// `pd("table_delete", "sess=7, ...")`: the call log's text of a PD call.
std::string pd(const std::string& function, const std::string& args) {
    return kPd + function + "(" + args + ")";
}
std::string hdl(U32 handle) {
    return "hdl=" + std::to_string(handle);
}

// ---- One action through add, read-back, modify and set-default.

class PdActionTest : public TableFixture, public ::testing::WithParamInterface<int> {};

INSTANTIATE_TEST_SUITE_P(EveryAction, PdActionTest, ::testing::Range(0, 5),
                         [](const auto& info) { return std::string(kActionNames[info.param]); });

TEST_P(PdActionTest, ProgramsAndReadsBackWithTheActionsOwnFunctionsAndExactBytes) {
    const int type = GetParam();
    const std::string name = kActionNames[type];
    const bool hit = type != kOnMiss;
    // onMiss carries no action spec and reads back without values.
    const auto spec = [&](const char* bytes) {
        return hit ? std::string(", action=") + bytes : "";
    };
    const auto readBack = [&](U16 rwId, U8 prot, U16 param) {
        return hit ? described(0x0a01, 0x0b02, 0x0c03, type, rwId, prot, param)
                   : described(0x0a01, 0x0b02, 0x0c03, type);
    };
    tableIs(Backend::Pd);
    const auto m = matchOf(0x0a01, 0x0b02, 0x0c03);

    EXPECT_THAT(callsOf([&] { program(m, actionOf(type, 0x0201, 6, 0x0403)); }),
                ElementsAre(pd("table_add_with_" + name, kAtTarget + ", match=[01 0a 02 0b 03 0c]" +
                                                             spec("[01 02 06 -- 03 04]"))));
    const U32 h = handleOf(m);
    ASSERT_NE(h, 0u);
    Bf::TwiceNatAddrPortTableEntry back;
    EXPECT_THAT(
        callsOf([&] { back = table->entryByHandle(h); }),
        ElementsAre(pd("get_entry", kAtDevice + hdl(h) + ", read_from_hw=0, hit_count=null")));
    EXPECT_EQ(describe(back), readBack(0x0201, 6, 0x0403));

    EXPECT_THAT(callsOf([&] { program(m, actionOf(type, 0x0807, 17, 0x0a09)); }),
                ElementsAre(pd("table_modify_with_" + name,
                               kAtDevice + hdl(h) + spec("[07 08 11 -- 09 0a]"))));
    EXPECT_EQ(handleOf(m), h);
    EXPECT_EQ(describe(table->entryByHandle(h)), readBack(0x0807, 17, 0x0a09));

    const auto& def = table->defaultMatchSpec();
    EXPECT_THAT(
        callsOf([&] { program(def, actionOf(type, 0x0201, 6, 0x0403)); }),
        ElementsAre(pd("set_default_action_" + name, kAtTarget + spec("[01 02 06 -- 03 04]"))));
    EXPECT_THAT(keys->calls, ElementsAre(Call{"alloc", 1, m}, Call{"alloc", 2, def}));
    EXPECT_EQ(statusManager->initStatusCount(), 3u);
}

// ---- Which operation an entry takes: the identity of the match object decides.

using PdBackendTest = TableFixture;

TEST_F(PdBackendTest, OnlyTheDefaultMatchObjectSetsAndResetsTheDefaultEntry) {
    tableIs(Backend::Pd);
    const auto& def = table->defaultMatchSpec();
    EXPECT_THAT(callsOf([&] { program(def, actionOf(kHit, 1, 6, 2)); }),
                ElementsAre(pd("set_default_action_twiceNatAddrPortHit",
                               kAtTarget + ", action=[01 00 06 -- 02 00]")));
    const U32 defaultHandle = handleOf(def);
    ASSERT_NE(defaultHandle, 0u);
    // Again, with another action: no new key, the same handle.
    EXPECT_THAT(callsOf([&] { program(def, actionOf(kOnMiss)); }),
                ElementsAre(pd("set_default_action_onMiss", kAtTarget)));
    EXPECT_EQ(handleOf(def), defaultHandle);

    // All fields 0 like the default match, but another object: an ordinary entry.
    const auto zero = matchOf(0, 0, 0);
    EXPECT_THAT(
        callsOf([&] { program(zero, actionOf(kOnMiss)); }),
        ElementsAre(pd("table_add_with_onMiss", kAtTarget + ", match=[00 00 00 00 00 00]")));
    const U32 zeroHandle = handleOf(zero);
    EXPECT_NE(zeroHandle, defaultHandle);
    Bf::TwiceNatAddrPortTableEntry lookup;
    EXPECT_THAT(callsOf([&] { lookup = table->entry(matchOf(0, 0, 0)); }), IsEmpty())
        << "equal fields, another object: not installed, nothing to read";
    EXPECT_EQ(describe(lookup), "empty");
    EXPECT_THAT(callsOf([&] {
                    table->entryDel(zero);
                    table->entryDel(def);
                }),
                ElementsAre(pd("table_delete", kAtDevice + hdl(zeroHandle)),
                            pd("table_reset_default_entry", kAtTarget)));
    EXPECT_EQ(table->helper()->sdkHandles()->entryCount(), 0u);
    EXPECT_THAT(keys->calls, ElementsAre(Call{"alloc", 1, def}, Call{"alloc", 2, zero}));
    EXPECT_EQ(statusManager->touches(def), 3u);
    EXPECT_EQ(statusManager->touches(zero), 2u);
}

TEST_F(PdBackendTest, SetsTheEntryScopeOfTheHelperItIsGiven) {
    EXPECT_THAT(callsOf([&] { tableIs(Backend::Pd); }),
                ElementsAre(pd("set_property", "sess=7, dev_id=2, property=1, value=1")));
    const auto allPipes = Bf::twiceNatAddrPortTableHelperFactory(3, 0xFFFF);
    allPipes->pdLibIs(ChipTest::kPdLibraryNoBfRt, pdLibrary->handle(), 9);
    EXPECT_THAT(callsOf([&] { table->initializeTable(allPipes); }),
                ElementsAre(pd("set_property", "sess=9, dev_id=3, property=1, value=0")));
}

// ---- The failure sites, each with the PD check's two telling statuses (4: no
// duplicate class; 17: a class of its own); the status check's own suite has
// every other status.

enum class Site { add, modify, firstDefault, againDefault, erase, resetDefault, setProperty };
const struct {
    const char* name;
    const char* function;  // the PD function that fails
} kSites[] = {{"Add", "table_add_with_twiceNatAddrPortHit"},
              {"Modify", "table_modify_with_twiceNatAddrPortHitEcmp"},
              {"FirstDefault", "set_default_action_twiceNatAddrPortHitDynamic"},
              {"AgainDefault", "set_default_action_twiceNatAddrPortHitDynamic"},
              {"Delete", "table_delete"},
              {"ResetDefault", "table_reset_default_entry"},
              {"SetProperty", "set_property"}};

struct FailureCase {
    Site site;
    int status;
    const char* cls;
    const char* text;
};

std::vector<FailureCase> failureCases() {
    std::vector<FailureCase> cases;
    for (int site = 0; site <= static_cast<int>(Site::setProperty); ++site) {
        cases.push_back({Site(site), 4, "BfTableException", "Already exists"});
        cases.push_back({Site(site), 17, "BfNotSupported", "Operation not supported"});
    }
    return cases;
}

class PdFailureTest : public TableFixture, public ::testing::WithParamInterface<FailureCase> {};

INSTANTIATE_TEST_SUITE_P(SitesAndStatuses, PdFailureTest, ::testing::ValuesIn(failureCases()),
                         [](const auto& info) {
                             return kSites[static_cast<int>(info.param.site)].name +
                                    std::string("Status") + std::to_string(info.param.status);
                         });

TEST_P(PdFailureTest, RaisesAndLeavesTheBookkeepingAsItWas) {
    const FailureCase& c = GetParam();
    const std::string function = kPd + kSites[static_cast<int>(c.site)].function;
    const Raised expected{c.cls, static_cast<U32>(c.status), function + "() failed: " + c.text};
    if (c.site == Site::setProperty) {
        Chip::TestHooks::faultIs(function, 1, c.status);
        EXPECT_EQ(raised([&] { tableIs(Backend::Pd); }), expected);
        EXPECT_FALSE(table);
        return;
    }
    tableIs(Backend::Pd);
    const auto m = matchOf(1, 2, 3), other = matchOf(4, 5, 6);
    const auto& def = table->defaultMatchSpec();
    program(m, actionOf(kHit, 1, 6, 2));
    if (c.site == Site::againDefault || c.site == Site::resetDefault)
        program(def, actionOf(kOnMiss));
    const auto& handles = *table->helper()->sdkHandles();
    const std::size_t pairs = handles.entryCount();
    const U32 mHandle = handleOf(m), defaultHandle = handleOf(def);
    const U64 inits = statusManager->initStatusCount(), records = keys->recordCount();
    keys->calls.clear();
    const std::function<void()> steps[] = {[&] { program(other, actionOf(kHit)); },
                                           [&] { program(m, actionOf(kHitEcmp)); },
                                           [&] { program(def, actionOf(kHitDynamic)); },
                                           [&] { program(def, actionOf(kHitDynamic)); },
                                           [&] { table->entryDel(m); },
                                           [&] { table->entryDel(def); }};

    Chip::TestHooks::faultIs(function, 1, c.status);
    EXPECT_EQ(raised(steps[static_cast<int>(c.site)]), expected);
    EXPECT_EQ(handles.entryCount(), pairs);
    EXPECT_EQ(handleOf(m), mHandle);
    EXPECT_EQ(handleOf(def), defaultHandle);
    EXPECT_FALSE(handles.entryHas(other));
    // A first install gets a key and gives it back; nothing else asks for one.
    const bool installs = c.site == Site::add || c.site == Site::firstDefault;
    EXPECT_EQ(keys->calls.size(), installs ? 2u : 0u);
    EXPECT_EQ(keys->recordCount(), records);
    const bool deletes = c.site == Site::erase || c.site == Site::resetDefault;
    EXPECT_EQ(statusManager->initStatusCount(), inits + (deletes ? 1 : 0));
    if (deletes) {  // the entry is still there, and a second try calls the SDK again
        const auto target = c.site == Site::erase ? m : def;
        EXPECT_EQ(callsOf([&] { table->entryDel(target); }).size(), 1u);
        EXPECT_FALSE(handles.entryHas(target));
    }
}

// ---- Read-backs of what the chip never writes, through a scripted reader

using PdTest::ReaderScript;
using PdTest::ScriptedReaderLibrary;
using namespace std::string_view_literals;

TEST_F(PdBackendTest, ReadBackBuildsTheActionThatTheWholeNameNames) {
    ScriptedReaderLibrary reader;
    table = twiceNatAddrPortTableFactory(nullptr, nullptr, reader.handle(), kSession, kDevice,
                                         kPipe, "scripted reader");
    // Match bytes 01 0a 02 0b 03 0c; action bytes 01 00 06, padding 5a, 02 00.
    const auto hit = [](int type) { return described(0x0a01, 0x0b02, 0x0c03, type, 1, 6, 2); };
    const struct {
        std::string_view name;
        int status;
        std::string expected;
    } cases[] = {
        {"p4_pd_olvane_switch_onMiss", 0, described(0x0a01, 0x0b02, 0x0c03, 0)},
        {"p4_pd_olvane_switch_twiceNatAddrPortHit", 0, hit(1)},
        {"p4_pd_olvane_switch_twiceNatAddrPortHitDynamic", 0, hit(2)},
        {"p4_pd_olvane_switch_twiceNatAddrPortHitEcmp", 0, hit(3)},
        {"p4_pd_olvane_switch_twiceNatAddrPortHitEcmpDynamic", 0, hit(4)},
        {"p4_pd_olvane_switch_twiceNatAddrPortHit\0Ecmp"sv, 0, hit(1)},  // bytes after the end
        {"p4_pd_olvane_switch_twiceNatAddrPortHitEcmpDyn", 0, "empty"},  // shortened
        {"p4_pd_olvane_switch_twiceNatAddrPortHitEcmpDynamicX", 0, "empty"},
        {"twiceNatAddrPortHit", 0, "empty"},
        {"p4_pd_olvane_switch_twiceNatAddrPortHitxxxxxxxxxxxxxxxxxxxxxxxxxx", 0,
         "empty"},                                                // no end
        {"p4_pd_olvane_switch_twiceNatAddrPortHit", 6, "empty"},  // failed reads
        {"p4_pd_olvane_switch_onMiss", -1, "empty"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ReaderScript script{
            c.status, {}, {0x01, 0x0a, 0x02, 0x0b, 0x03, 0x0c}, {1, 0, 6, 0x5a, 2, 0}};
        c.name.copy(script.actionName.data(), script.actionName.size());
        PdTest::readerScript = script;
        PdTest::scriptedReads = 0;
        Bf::TwiceNatAddrPortTableEntry e;
        EXPECT_NO_THROW(e = table->entryByHandle(5));
        EXPECT_EQ(describe(e), c.expected);
        EXPECT_EQ(PdTest::scriptedReads, 1u);
    }
    PdTest::readerScript.reset();
    table = nullptr;
}

}  // namespace
}  // namespace TableTest
