// The PD backend on the chip model: each operation's PD call and bytes, the entry scope and
// read-backs through a scripted entry reader (its failure sites are BfrtBackendTest's).

#include <dlfcn.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string_view>

#include "TableTestSupport.h"

// A scripted get_entry for read-backs the chip never gives (odd action names); exported, so
// the main program's handle finds it first. Without a script it calls the chip's.
namespace {
struct ReaderScript {
    p4_pd_status_t status = 0;
    std::array<char, P4_PD_OLVANE_SWITCH_ACTION_NAME_MAX> actionName{};  // copied whole
};
std::optional<ReaderScript> readerScript;
decltype(&::p4_pd_olvane_switch_twiceNatAddrPort_get_entry) chipReader = nullptr;
}  // namespace

// Writes match bytes 01 0a 02 0b 03 0c and action bytes 01 00 06, padding 5a, 02 00.
extern "C" p4_pd_status_t p4_pd_olvane_switch_twiceNatAddrPort_get_entry(
    p4_pd_sess_hdl_t sess, uint8_t dev, p4_pd_entry_hdl_t hdl, bool fromHw,
    p4_pd_olvane_switch_twiceNatAddrPort_match_spec_t* match, char* actionName, uint8_t* action,
    uint64_t* hitCount, uint8_t* isDefault) {
    if (!readerScript)
        return chipReader(sess, dev, hdl, fromHw, match, actionName, action, hitCount, isDefault);
    const uint8_t matchBytes[] = {0x01, 0x0a, 0x02, 0x0b, 0x03, 0x0c},
                  actionBytes[] = {1, 0, 6, 0x5a, 2, 0};
    std::memcpy(match, matchBytes, sizeof matchBytes);
    std::memcpy(actionName, readerScript->actionName.data(), readerScript->actionName.size());
    std::memcpy(action, actionBytes, sizeof actionBytes);
    *isDefault = 0;
    return readerScript->status;
}

namespace TableTest {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

const std::string kPd = "p4_pd_olvane_switch_twiceNatAddrPort_";
// The leading arguments of a PD call on kDevice (and kPipe) in the chip's log.
const std::string kAtTarget = "sess=7, dev_tgt=[02 00 00 00 01 00 00 00]";
const std::string kAtDevice = "sess=7, dev_id=2, ";

std::string pd(const std::string& function, const std::string& args) {
    return kPd + function + "(" + args + ")";
}
std::string hdl(U32 handle) {
    return "hdl=" + std::to_string(handle);
}

// ---- One action through add, read-back, modify, set-default and the deletes.

class PdActionTest : public TableFixture, public ::testing::WithParamInterface<int> {};

INSTANTIATE_TEST_SUITE_P(EveryAction, PdActionTest, ::testing::Range(0, 5), [](const auto& info) {
    return std::string(kActionCases[info.param].name);
});

TEST_P(PdActionTest, ProgramsAndReadsBackWithTheActionsOwnFunctionsAndExactBytes) {
    const int type = GetParam();
    const std::string name = kActionCases[type].name;
    const bool hit = type != kOnMiss;
    // onMiss carries no action spec and reads back no values.
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

    // A lookup goes by object: another with equal fields is not installed.
    Bf::TwiceNatAddrPortTableEntry lookup;
    EXPECT_THAT(callsOf([&] { lookup = table->entry(matchOf(0x0a01, 0x0b02, 0x0c03)); }),
                IsEmpty());
    EXPECT_EQ(describe(lookup), "empty");
    EXPECT_THAT(callsOf([&] {
                    table->entryDel(m);
                    table->entryDel(def);
                }),
                ElementsAre(pd("table_delete", kAtDevice + hdl(h)),
                            pd("table_reset_default_entry", kAtTarget)));
    EXPECT_EQ(table->helper()->sdkHandles()->entryCount(), 0u);
    EXPECT_EQ(statusManager->initStatusCount(), 5u);
}

using PdBackendTest = TableFixture;

TEST_F(PdBackendTest, SetsTheEntryScopeOfTheHelperItIsGiven) {
    EXPECT_THAT(callsOf([&] { tableIs(Backend::Pd); }),
                ElementsAre(pd("set_property", "sess=7, dev_id=2, property=1, value=1")));
    const auto allPipes = Bf::twiceNatAddrPortTableHelperFactory(3, 0xFFFF);
    allPipes->pdLibIs(ChipTest::kPdLibraryNoBfRt, pdLibrary->handle(), 9);
    EXPECT_THAT(callsOf([&] { table->initializeTable(allPipes); }),
                ElementsAre(pd("set_property", "sess=9, dev_id=3, property=1, value=0")));
}

TEST_F(PdBackendTest, ReadBackBuildsTheActionThatTheWholeNameNames) {
    using Handle = std::unique_ptr<void, int (*)(void*)>;
    const Handle pd(::dlopen(ChipTest::kPdLibraryNoBfRt, RTLD_NOW | RTLD_GLOBAL), ::dlclose);
    const Handle mainProgram(::dlopen(nullptr, RTLD_NOW), ::dlclose);
    chipReader = reinterpret_cast<decltype(chipReader)>(
        ::dlsym(pd.get(), "p4_pd_olvane_switch_twiceNatAddrPort_get_entry"));
    ASSERT_TRUE(chipReader);
    ASSERT_NE(::dlsym(mainProgram.get(), "p4_pd_olvane_switch_twiceNatAddrPort_get_entry"),
              reinterpret_cast<void*>(chipReader))
        << "the test executable does not export its reader";
    table = twiceNatAddrPortTableFactory(nullptr, nullptr, mainProgram.get(), kSession, kDevice,
                                         kPipe, "scripted reader");
    const auto hit = [](int type) { return described(0x0a01, 0x0b02, 0x0c03, type, 1, 6, 2); };
    using namespace std::string_view_literals;
    const struct {
        std::string_view name;
        int status;
        std::string expected;
    } cases[] = {
        // the chip's own read-backs of every action are PdActionTest's
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
        readerScript = ReaderScript{c.status, {}};
        c.name.copy(readerScript->actionName.data(), readerScript->actionName.size());
        Bf::TwiceNatAddrPortTableEntry e;
        EXPECT_NO_THROW(e = table->entryByHandle(5));
        EXPECT_EQ(describe(e), c.expected);
    }
    readerScript.reset();
    table = nullptr;
}

}  // namespace
}  // namespace TableTest
