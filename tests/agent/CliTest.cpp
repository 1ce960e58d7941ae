// The command line as users meet it: help, usage errors, tracing.
#include "AgentFixture.h"

namespace AgentTest {
namespace {

class CliTest : public AgentFixture {};

TEST_F(CliTest, HelpDescribesEveryCommandAndTheLineFormat) {
    const AgentResult help = agent({"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* part : {"program [FILE]", "show", "stats", "audit", "--repair", "demo",
                             "--keep-going", "--json", "--trace", "--backend pd|bfrt", "--pipe",
                             "--capacity", "Line format", "add ingMdNatKeyId=1",
                             "del ingMdNatKeyId=1", "default action=onMiss", "OLVANE_SHM_PREFIX"}) {
        EXPECT_TRUE(contains(help.out, part)) << part;
    }
}

struct Usage {
    const char* name;
    std::vector<std::string> args;
    std::string message;
};

class UsageTest : public AgentFixture, public ::testing::WithParamInterface<Usage> {};

TEST_P(UsageTest, IsRefusedWithStatusTwo) {
    const AgentResult run = runAgent(GetParam().args, "", {"OLVANE_SHM_PREFIX=" + prefix_});
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(contains(run.err, GetParam().message)) << run.err;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, UsageTest,
    ::testing::Values(
        Usage{"NoCommand", {}, "no command given"},
        Usage{"UnknownCommand", {"list"}, "unknown command 'list'"},
        Usage{"OptionOfAnotherCommand", {"show", "--repair"}, "--repair is an option of audit"},
        Usage{"BadPipe", {"--pipe", "4", "show"}, "--pipe takes 0 to 3"},
        Usage{"BadBackend", {"--backend", "sdk", "show"}, "pd or bfrt"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CliTest, TraceShowsTheLibrarysLevelNineLines) {
    const std::string add = lines({addLine(1)});
    const AgentResult traced = agent({"--trace", "program"}, add);
    EXPECT_EQ(traced.status, 0) << traced.err;
    EXPECT_TRUE(contains(traced.err, "BfTwiceNatAddrPort[9]: initializeTable")) << traced.err;
    EXPECT_TRUE(contains(traced.err, "BfTwiceNatAddrPort[9]: Adding new entry")) << traced.err;

    const AgentResult quiet = agent({"program"}, lines({addLine(2)}));
    EXPECT_FALSE(contains(quiet.err, "BfTwiceNatAddrPort[")) << quiet.err;
}

TEST_F(CliTest, MissingLibraryIsReportedNotCrashedOn) {
    const AgentResult run = agent({"--lib-dir", dir_.string(), "show"});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(contains(run.err, "cannot load " + dir_.string())) << run.err;
}

// Over a PD library without the simulator's control, as over hardware: the entry
// commands work, stats leaves out what only the simulator tells, and the demo says
// why it cannot run.
TEST_F(CliTest, WithoutTheSimulatorsControlOnlyTheDemoIsRefused) {
    auto over = [](std::vector<std::string> args) {
        args.insert(args.begin(), {"--pd-lib", PD_LIBRARY_WITHOUT_CONTROL});
        return args;
    };
    ASSERT_EQ(agent(over({"program"}), lines({addLine(1), addLine(2)})).status, 0);
    const AgentResult shown = agent(over({"show"}));
    EXPECT_EQ(shown.status, 0);
    EXPECT_TRUE(contains(shown.out, "2 entries")) << shown.out;
    EXPECT_EQ(agent(over({"audit"})).status, 0);
    const AgentResult stats = agent(over({"stats"}));
    EXPECT_EQ(stats.status, 0);
    EXPECT_TRUE(hasRow(stats.out, {"chip", "entries,", "this", "scope", "2"})) << stats.out;
    EXPECT_FALSE(contains(stats.out, "chip capacity")) << stats.out;
    const AgentResult demo = agent(over({"demo", "--entries", "10"}));
    EXPECT_EQ(demo.status, 1);
    EXPECT_TRUE(contains(demo.err, "the demo needs a simulated chip, and the PD library " +
                                       std::string(PD_LIBRARY_WITHOUT_CONTROL) +
                                       " offers no olvane_switch_sim_control entry point"))
        << demo.err;
}

}  // namespace
}  // namespace AgentTest
