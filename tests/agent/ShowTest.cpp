// show and stats, run as their own processes after another process programmed.
#include "AgentFixture.h"

namespace AgentTest {
namespace {

class ShowTest : public AgentBackendTest {};

TEST_P(ShowTest, SecondProcessSeesTheFirstOnesEntries) {
    ASSERT_EQ(
        agent({"program"},
              lines({addLine(3, "action=twiceNatAddrPortHitEcmpDynamic rwId=7 prot=17 ecmpGroup=9"),
                     addLine(1), addLine(2, "action=onMiss"),
                     addLine(4,
                             "action=twiceNatAddrPortHitDynamic rwId=65535 prot=255 nextHop=65535"),
                     addLine(5, "action=twiceNatAddrPortHitEcmp rwId=0 prot=0 ecmpGroup=1"),
                     "default action=twiceNatAddrPortHit rwId=1 prot=1 nextHop=1"}))
            .status,
        0);

    const std::vector<std::string> expected = {
        R"({"default":true,"action":"twiceNatAddrPortHit","prot":1,"rwId":1,"nextHop":1)",
        R"({"ingMdNatKeyId":1,"l4PortHdrDstPort":80,"l4PortHdrSrcPort":1025,"action":"twiceNatAddrPortHit","prot":6,"rwId":5,"nextHop":2)",
        R"({"ingMdNatKeyId":2,"l4PortHdrDstPort":80,"l4PortHdrSrcPort":1026,"action":"onMiss")",
        R"({"ingMdNatKeyId":3,"l4PortHdrDstPort":80,"l4PortHdrSrcPort":1027,"action":"twiceNatAddrPortHitEcmpDynamic","prot":17,"rwId":7,"ecmpGroup":9)",
        R"({"ingMdNatKeyId":4,"l4PortHdrDstPort":80,"l4PortHdrSrcPort":1028,"action":"twiceNatAddrPortHitDynamic","prot":255,"rwId":65535,"nextHop":65535)",
        R"({"ingMdNatKeyId":5,"l4PortHdrDstPort":80,"l4PortHdrSrcPort":1029,"action":"twiceNatAddrPortHitEcmp","prot":0,"rwId":0,"ecmpGroup":1)",
    };
    EXPECT_EQ(shownEntries(), expected);
}

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
