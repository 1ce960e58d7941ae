// The PD backend on the chip model: the entry scope and read-backs through a scripted entry
// reader (its calls per action and its failure sites are BackendTest's).

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

std::string pd(const std::string& function, const std::string& args) {
    return "p4_pd_olvane_switch_twiceNatAddrPort_" + function + "(" + args + ")";
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
        {"p4_pd_olvane_switch_twiceNatAddrPortHitxxxxxxxxxxxxxxxxxxxxxxxxxx", 0,
         "empty"},                                                // no end
        {"p4_pd_olvane_switch_twiceNatAddrPortHit", 6, "empty"},  // a failed read
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
