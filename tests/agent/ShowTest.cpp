// show --table and stats, run as their own processes after another process programmed.
#include "AgentFixture.h"

namespace AgentTest {
namespace {

class ShowTest : public AgentBackendTest {};

TEST_P(ShowTest, TableListsEveryEntryWithItsHandle) {
    ASSERT_EQ(agent({"program"}, lines({addLine(1), addLine(2, "action=onMiss")})).status, 0);
    const AgentResult shown = agent({"show", "--table"});
    EXPECT_EQ(shown.status, 0);
    EXPECT_TRUE(contains(shown.out, "twiceNatAddrPortHit  prot=6 rwId=5 nextHop=2  0x"))
        << shown.out;
    EXPECT_TRUE(contains(shown.out, "\ndevice 0, all pipes: 2 entries\n")) << shown.out;
}

TEST_P(ShowTest, StatsCountsEntriesByActionAndKeys) {
    Chip::wipe(0);
    ASSERT_EQ(agent({"--capacity", "100", "init"}).status, 0);
    ASSERT_EQ(agent({"program"}, lines({addLine(1), addLine(2), addLine(3, "action=onMiss"),
                                        "default action=onMiss"}))
                  .status,
              0);
    const AgentResult stats = agent({"stats"});
    EXPECT_EQ(stats.status, 0);
    EXPECT_TRUE(contains(stats.out,
                         "backend " + std::string(GetParam() == std::string("pd") ? "PD" : "BfRt")))
        << stats.out;
    EXPECT_TRUE(hasRow(stats.out, {"twiceNatAddrPortHit", "2", "66.7%"})) << stats.out;
    EXPECT_TRUE(hasRow(stats.out, {"twiceNatAddrPortHitDynamic", "0", "0.0%"})) << stats.out;
    EXPECT_TRUE(hasRow(stats.out, {"onMiss", "1", "33.3%"})) << stats.out;
    EXPECT_TRUE(hasRow(stats.out, {"chip", "entries,", "all", "scopes", "3", "3.0%"})) << stats.out;
    EXPECT_TRUE(hasRow(stats.out, {"keys", "allocated", "4", "3.4%"})) << stats.out;
    EXPECT_TRUE(contains(stats.out, "default entry: action=onMiss")) << stats.out;

    const AgentResult json = agent({"stats", "--json"});
    EXPECT_EQ(json.status, 0);
    for (const char* part :
         {"\"entries\":3,", "\"onMiss\":1,", "\"twiceNatAddrPortHit\":2,", "\"chipCapacity\":100,",
          "\"keysAllocated\":4,", "\"default\":\"action=onMiss\"}"}) {
        EXPECT_TRUE(contains(json.out, part)) << part << " in " << json.out;
    }
}

INSTANTIATE_TEST_SUITE_P(Backends, ShowTest, ::testing::ValuesIn(kBackends),
                         [](const auto& info) { return std::string(info.param); });

}  // namespace
}  // namespace AgentTest
