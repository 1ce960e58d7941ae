// demo, run as its own process on both backends, its restart check catching a
// table that differs from the plan, and --wipe.
#include "AgentFixture.h"

namespace AgentTest {
namespace {

class DemoTest : public AgentBackendTest {};

TEST_P(DemoTest, ProgramsRestartsResyncsWithoutWritesAuditsAndVerifies) {
    const std::vector<std::string> demo = {"demo", "--entries", "1500", "--seed", "7"};
    const AgentResult first = agent(demo);
    EXPECT_EQ(first.status, 0) << first.out << first.err;
    for (const char* part :
         {"load: 1500 added", "default: 1 default set", " 0 add, 0 modify, 0 delete",
          "entries came back with equal fields, 0 differ, 0 missing, "
          "0 unexpected; default entry equal",
          "nothing to repair", "demo passed"}) {
        EXPECT_TRUE(contains(first.out, part)) << part << " in\n" << first.out;
    }
    EXPECT_FALSE(contains(first.err, "\r")) << "no progress bar when not at a terminal";

    // Entry 1 (after the default) gets an action the plan never gives.
    const std::vector<std::string> shown = shownEntries();
    ASSERT_GT(shown.size(), 1u);
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
    std::vector<std::string> verifyOnly = demo;
    verifyOnly.emplace_back("--verify-only");
    const AgentResult verify = agent(verifyOnly);
    EXPECT_EQ(verify.status, 1);
    EXPECT_TRUE(contains(verify.out, ", 1 differ,")) << verify.out;
    EXPECT_TRUE(
        contains(verify.out, "found action=twiceNatAddrPortHit prot=99 rwId=9999 nextHop=9999"))
        << verify.out;

    // A device that holds entries is wiped only on request.
    const std::vector<std::string> before = shownEntries();
    const AgentResult again = agent(demo);
    EXPECT_EQ(again.status, 2);
    EXPECT_TRUE(contains(again.err, "the demo wipes it only when given --wipe")) << again.err;
    EXPECT_EQ(shownEntries(), before);
    std::vector<std::string> wipe = demo;
    wipe.emplace_back("--wipe");
    EXPECT_EQ(agent(wipe).status, 0);
}

AGENT_BACKENDS(DemoTest);

}  // namespace
}  // namespace AgentTest
