// demo, run as its own process on both backends, and its restart check
// catching a table that differs from the plan.
#include "AgentFixture.h"

namespace AgentTest {
namespace {

class DemoTest : public AgentBackendTest {};

TEST_P(DemoTest, ProgramsRestartsResyncsWithoutWritesAndAudits) {
    const AgentResult demo = agent({"demo", "--entries", "1500"});

    EXPECT_EQ(demo.status, 0) << demo.out << demo.err;
    EXPECT_TRUE(contains(demo.out, "load: 1500 added")) << demo.out;
    EXPECT_TRUE(contains(demo.out, "default: 1 default set")) << demo.out;
    EXPECT_TRUE(contains(demo.out, " 0 add, 0 modify, 0 delete")) << demo.out;
    EXPECT_TRUE(contains(demo.out,
                         "entries came back with equal fields, 0 differ, 0 missing, "
                         "0 unexpected; default entry equal"))
        << demo.out;
    EXPECT_TRUE(contains(demo.out, "nothing to repair")) << demo.out;
    EXPECT_TRUE(contains(demo.out, "demo passed")) << demo.out;
    // Piped: no progress bar.
    EXPECT_FALSE(contains(demo.err, "\r")) << demo.err;
}

TEST_P(DemoTest, RestartCheckFailsWhenAnEntryDiffersFromThePlan) {
    ASSERT_EQ(agent({"demo", "--entries", "200", "--seed", "7"}).status, 0);
    const std::vector<std::string> shown = shownEntries();
    ASSERT_GT(shown.size(), 1u);
    // Entry 1 (after the default) gets an action the plan never gives.
    const std::string& json = shown[1];
    auto value = [&json](const std::string& field) {
        const std::size_t at = json.find("\"" + field + "\":") + field.size() + 3;
        return json.substr(at, json.find_first_of(",}", at) - at);
    };
    const std::string changed = "add ingMdNatKeyId=" + value("ingMdNatKeyId") +
                                " l4PortHdrSrcPort=" + value("l4PortHdrSrcPort") +
                                " l4PortHdrDstPort=" + value("l4PortHdrDstPort") +
                                " action=twiceNatAddrPortHit rwId=9999 prot=99 nextHop=9999";
    ASSERT_EQ(agent({"program"}, lines({changed})).status, 0);

    const AgentResult verify = agent({"demo", "--verify-only", "--entries", "200", "--seed", "7"});

    EXPECT_EQ(verify.status, 1);
    EXPECT_TRUE(contains(verify.out, ", 1 differ,")) << verify.out;
    EXPECT_TRUE(
        contains(verify.out, "found action=twiceNatAddrPortHit prot=99 rwId=9999 nextHop=9999"))
        << verify.out;

    // A device that holds entries is wiped only on request.
    const std::vector<std::string> before = shownEntries();
    const AgentResult again = agent({"demo", "--entries", "200", "--seed", "7"});
    EXPECT_EQ(again.status, 2);
    EXPECT_TRUE(contains(again.err, "the demo wipes it only when given --wipe")) << again.err;
    EXPECT_EQ(shownEntries(), before);
    EXPECT_EQ(agent({"demo", "--wipe", "--entries", "200", "--seed", "7"}).status, 0);
}

INSTANTIATE_TEST_SUITE_P(Backends, DemoTest, ::testing::ValuesIn(kBackends),
                         [](const auto& info) { return std::string(info.param); });

}  // namespace
}  // namespace AgentTest
