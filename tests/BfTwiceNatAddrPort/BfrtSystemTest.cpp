// A BfRt table among its neighbours: the PD functions on the same chip, a
// restarted agent, a table of another device, the steady state, the trace,
// and the preconditions that stop the process.
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <sstream>

#include "BfrtTestSupport.h"

namespace BfrtTest {
namespace {

using ChipTest::kPdLibrary;

TEST_F(BfrtFixture, EntriesCrossBetweenThePdFunctionsAndBfRt) {
    bfrtTableIs();
    ChipTest::PdLibrary pd(ChipTest::kPdLibraryNoBfRt);
    p4_pd_olvane_switch_twiceNatAddrPort_match_spec_t pdMatch{10, 20, 30};
    p4_pd_olvane_switch_twiceNatAddrPortHitDynamic_action_spec_t pdAction{0x0102, 17, 0x0304};
    p4_pd_entry_hdl_t pdHandle = 0;
    ASSERT_EQ(pd.p4_pd_olvane_switch_twiceNatAddrPort_table_add_with_twiceNatAddrPortHitDynamic(
                  kSession, {kDevice, kPipe, 0}, &pdMatch, &pdAction, &pdHandle),
              0);
    EXPECT_EQ(describe(table->entryByHandle(pdHandle)),
              "nat=10 src=20 dst=30 TwiceNatAddrPortHitDynamicActionSpec(2) rwId=258 prot=17 "
              "param=772");

    auto match = matchOf(11, 31, 21);
    table->entryIs(
        entryOf(match, actionOf(Bf::twiceNatAddrPortHitEcmpDynamicActionSpec, 0x0506, 6, 0x0708)));
    const ChipTest::PdReadBack read = ChipTest::pdRead(pd, kDevice, handleOf(match));
    ASSERT_EQ(read.status, 0);
    EXPECT_STREQ(read.actionName, "p4_pd_olvane_switch_twiceNatAddrPortHitEcmpDynamic");
    EXPECT_EQ(read.match.ing_md_nat_key_id, 11);
    EXPECT_EQ(read.match.l4_port_hdr_src_port, 21);
    EXPECT_EQ(read.match.l4_port_hdr_dst_port, 31);
    const uint8_t expectedSpec[] = {0x06, 0x05, 6, ChipTest::PdReadBack::kUntouched, 0x08, 0x07};
    EXPECT_EQ(std::memcmp(read.actionSpec, expectedSpec, sizeof expectedSpec), 0);
}

// Runs `body` in a child process without this process's chip mappings and
// with the module-wide objects of a freshly loaded library; -1 if it died.
int64_t inRestartedAgent(const std::function<int64_t()>& body) {
    int fds[2];
    if (::pipe(fds) != 0)
        return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        for (uint32_t dev = 0; dev < ChipTest::kDevicesUsedByTests; ++dev) Chip::close(dev);
        Bf::bfRtModuleObjects() = {};
        const int64_t result = body();
        ::_exit(::write(fds[1], &result, sizeof result) == sizeof result ? 0 : 1);
    }
    ::close(fds[1]);
    int64_t result = -1;
    if (::read(fds[0], &result, sizeof result) != sizeof result)
        result = -1;
    ::close(fds[0]);
    ::waitpid(pid, nullptr, 0);
    return result;
}

TEST_F(BfrtFixture, ARestartedAgentFindsEveryEntry) {
    bfrtTableIs();
    std::map<BfnTable::BfnSdkEntryHandle, std::string> installed;
    auto install = [&](const Bf::TwiceNatAddrPortMatchSpec::Ptr& match, const ActionCase& a) {
        const auto entry = entryOf(match, actionOf(a.type, 40 + a.type, 6, 500 + a.type));
        table->entryIs(entry);
        keyManager->sdkEntryHandleIs(keyManager->key(match), handleOf(match));
        installed[handleOf(match)] = describe(entry);
    };
    for (const ActionCase& a : kActionCases)
        install(matchOf(a.type, 100 + a.type, 200 + a.type), a);
    install(table->defaultMatchSpec(), kActionCases[3]);
    const U64 highestKey = keyManager->highestAllocatedKey();

    // The child answers how many entries it found as installed, or a negative
    // value naming what went wrong.
    const int64_t found = inRestartedAgent([&]() -> int64_t {
        ChipTest::SharedLibrary lib(kPdLibrary);
        auto keys = MbbZabroKey::zabroKeyManagerFactory(kDevice, kPipe);
        auto restarted = twiceNatAddrPortTableFactory(keys, nullptr, lib.handle(), kSession,
                                                      kDevice, kPipe, kPdLibrary);
        if (keys->highestAllocatedKey() != highestKey)
            return -2;
        int64_t matching = 0;
        restarted->helper()->sdkHandles()->entryForEach(
            [&](const Bf::TwiceNatAddrPortMatchSpec::PtrConst& match,
                BfnTable::BfnSdkEntryHandle handle) {
                const auto entry = restarted->entry(match);
                const auto expected = installed.find(handle);
                matching += expected != installed.end() && expected->second == describe(entry) &&
                            keys->match(keys->key(match)).ptr() == match.ptr();
                return true;
            });
        return matching;
    });
    EXPECT_EQ(found, static_cast<int64_t>(installed.size()));
}

TEST_F(BfrtFixture, TablesOfTwoDevicesShareTheModuleObjectsAndProgramTheirOwnChips) {
    constexpr U8 kOther = kDevice + 1;
    bfrtTableIs();
    const auto* firstKey = Bf::bfRtModuleObjects().entryBfRtKey.get();
    ChipTest::SharedLibrary lib(kPdLibrary);
    auto other = twiceNatAddrPortTableFactory(nullptr, nullptr, lib.handle(), kSession, kOther,
                                              0xFFFF, kPdLibrary);
    EXPECT_NE(Bf::bfRtModuleObjects().entryBfRtKey.get(), firstKey) << "one set, rebound";

    auto here = matchOf(1, 3, 2);
    auto there = matchOf(1, 3, 2);
    const auto hit = actionOf(Bf::twiceNatAddrPortHitActionSpec, 1, 6, 2);
    logOn();
    table->entryIs(entryOf(here, hit));
    EXPECT_EQ(takeCalls()[4], call("dataAllocate"));
    other->entryIs(entryOf(there, hit));
    const Texts otherCalls = takeCalls();
    EXPECT_EQ(otherCalls.size(), 7u) << "the data object bound for the first table serves";
    EXPECT_EQ(otherCalls.back(),
              call("tableEntryAdd", sessionTarget(kOther, 0xFFFF) + ", " + keyText(1, 2, 3) +
                                        ", data=[action=102 11:1 12:6 13:2]"));

    EXPECT_EQ(Chip::open(kDevice).entryCount(), 1u);
    EXPECT_EQ(Chip::open(kOther).entryCount(), 1u);
    EXPECT_EQ(describe(table->entry(here)), describe(other->entry(there)));
    other->entryDel(there);
    EXPECT_EQ(Chip::open(kOther).entryCount(), 0u);
    EXPECT_EQ(Chip::open(kDevice).entryCount(), 1u);
}

TEST_F(BfrtFixture, SteadyStateAllocatesNoBfRtObject) {
    bfrtTableIs();
    for (const ActionCase& a : kActionCases)
        table->entryIs(entryOf(table->defaultMatchSpec(), actionOf(a.type, 1, 2, 3)));
    const auto before = Chip::TestHooks::allocationCounts();
    for (U16 n = 0; n < 25; ++n) {
        auto match = matchOf(n, n, n);
        table->entryIs(entryOf(match, actionOf(kActionCases[n % 5].type, n, 6, n)));
        table->entryIs(entryOf(match, actionOf(kActionCases[(n + 1) % 5].type, n, 17, n)));
        table->entryIs(entryOf(table->defaultMatchSpec(), actionOf(kActionCases[n % 5].type)));
        ASSERT_NE(describe(table->entry(match)), "empty");
        table->entryDel(match);
        keyManager->free(keyManager->key(match));
    }
    const auto after = Chip::TestHooks::allocationCounts();
    EXPECT_EQ(after.keys.total, before.keys.total);
    EXPECT_EQ(after.data.total, before.data.total);
    EXPECT_EQ(after.attributes.total, before.attributes.total);
}

std::string addressOf(const void* object) {
    std::ostringstream text;
    text << object;
    return text.str();
}

TEST_F(BfrtFixture, TracesEachOperationAtLevelNineOnly) {
    const auto operate = [this](U16 n) {
        auto match = matchOf(n, 3, 2);
        table->entryIs(entryOf(match, actionOf(Bf::twiceNatAddrPortHitEcmpActionSpec)));
        table->entryIs(entryOf(match, actionOf(Bf::onMissActionSpec)));
        table->entryIs(entryOf(table->defaultMatchSpec(), actionOf(Bf::onMissActionSpec)));
        table->entryByHandle(handleOf(match));
        table->entryDel(match);
        return addressOf(match.ptr());
    };
    std::string match;
    {
        TraceCapture trace(Bf::kTraceLevel);
        bfrtTableIs();
        match = operate(1);
        const std::string entryIs =
            "virtual void BfTwiceNatAddrPort::TwiceNatAddrPortTableBfrt::entryIs(const "
            "BfTwiceNatAddrPort::TwiceNatAddrPortTableEntry&), matchSpec: ";
        EXPECT_EQ(
            trace.texts(),
            (Texts{
                "initializeTable", "initBfRtTable",
                entryIs + match + ", action: twiceNatAddrPortHitEcmpActionSpec", "Adding new entry",
                entryIs + match + ", action: onMissActionSpec", "Modifying existing entry",
                entryIs + addressOf(table->defaultMatchSpec().ptr()) + ", action: onMissActionSpec",
                "Setting default action", "entryByHandle",
                "virtual void BfTwiceNatAddrPort::TwiceNatAddrPortTableBfrt::entryDel("
                "const PtrConst&), matchSpec: " +
                    match}));
        for (const auto& line : trace.lines) EXPECT_EQ(line.level, 9) << line.text;
    }
    TraceCapture quiet(Bf::kTraceLevel - 1);
    operate(2);
    table->initializeTable(table->helper());
    EXPECT_TRUE(quiet.lines.empty());
}

TEST_F(BfrtFixture, ViolatedPreconditionsStopTheProcess) {
    ScopedTableObject scripted(bfrt::deviceObjects(kDevice).table,
                               std::make_unique<ScriptedBfRtTable>(bfrt::TableType::MatchDirect));
    bfrtTableIs();
    auto match = matchOf(1, 3, 2);
    const auto onMiss = actionOf(Bf::onMissActionSpec);
    auto unknownType = actionOf(Bf::onMissActionSpec);
    unknownType->actionTypeIs(static_cast<Bf::TwiceNatAddrPortActionSpecType>(5));
    const auto defaultMatch = table->defaultMatchSpec();
    const std::pair<const char*, std::function<void()>> cases[] = {
        {"entry.action() != NULL", [&] { table->entryIs(entryOf(match, nullptr)); }},
        {"entry.match() != NULL", [&] { table->entryIs(entryOf(nullptr, onMiss)); }},
        {"0", [&] { table->entryIs(entryOf(match, unknownType)); }},
        {"helper()->sdkHandles()->entryHas( match )", [&] { table->entryDel(match); }},
        {"!!entry_hdl",
         [&] {
             table->helper()->sdkHandles()->entryIs(match, 0);
             table->entryDel(match);
         }},
        {"entry_hdl == default_hdl",
         [&] {
             table->entryIs(entryOf(defaultMatch, onMiss));
             scripted->defaultHandleShift = 1;
             table->entryIs(entryOf(defaultMatch, onMiss));
         }},
        {"tableAttrScope",
         [&] {
             scripted->attributesWithheld = true;
             table->initializeTable(table->helper());
         }},
    };
    for (const auto& [expression, violate] : cases)
        EXPECT_DEATH(violate(), assertion(expression)) << expression;
}

}  // namespace
}  // namespace BfrtTest
