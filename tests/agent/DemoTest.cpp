// demo, run as its own process on both backends, its restart check catching a
// table that differs from the plan, and --wipe.
#include "AgentFixture.h"

namespace AgentTest {
namespace {

class DemoTest : public AgentBackendTest {};

TEST_P(DemoTest, ProgramsRestartsResyncsWithoutWritesAuditsAndVerifies) {
    const auto demo = [this](std::vector<std::string> args = {}) {
        args.insert(args.begin(), {"demo", "--entries", "1500", "--seed", "7"});
        return agent(args);
    };
    const AgentResult first = exited(0, demo());
    // Its verdict covers the restart's writes, the read-back and the audit.
    EXPECT_HAS(first.out, "load: 1500 added");
    EXPECT_FALSE(contains(first.err, "\r")) << "no progress bar when not at a terminal";

    // The first entry gets an action the plan never gives.
    const std::string shown = agent({"show"}).out;
    const std::size_t at = shown.find("\nadd ") + 1;
    ASSERT_NE(at, 0u) << shown;
    const std::string changed = shown.substr(at, shown.find(" action=", at) - at) +
                                " action=twiceNatAddrPortHit rwId=9999 prot=99 nextHop=9999";
    ASSERT_EQ(agent({"program"}, lines({changed})).status, 0);
    const AgentResult verify = exited(1, demo({"--verify-only"}));
    EXPECT_HAS(verify.out, ", 1 differ,");
    EXPECT_HAS(verify.out, "found action=twiceNatAddrPortHit prot=99 rwId=9999 nextHop=9999");

    // A device that holds entries is wiped only on request.
    const std::vector<std::string> before = shownEntries();
    const AgentResult again = exited(2, demo());
    EXPECT_HAS(again.err, "the demo wipes it only when given --wipe");
    EXPECT_EQ(shownEntries(), before);
    EXPECT_EQ(demo({"--wipe"}).status, 0);
}

AGENT_BACKENDS(DemoTest);

}  // namespace
}  // namespace AgentTest
