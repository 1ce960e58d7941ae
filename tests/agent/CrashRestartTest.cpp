// The agent killed at random points (SIGKILL, some SIGTERM) while it streams a
// long random stream of lines, during init, its start-up resync and audit
// --repair, and restarted each time: the state must open, what the table holds
// must be the stream applied up to some line (nothing committed lost or
// doubled), the restart must write nothing to the chip, and the rest of the
// stream must then complete. Prints one summary line per backend.
#include <csignal>
#include <cstdio>
#include <map>
#include <optional>
#include <random>
#include <sstream>

#include "AgentFixture.h"
#include "chip/ChipDevice.h"

namespace AgentTest {
namespace {

constexpr unsigned kKills = 100;  // per backend
constexpr unsigned kInitKills = 8;
constexpr unsigned kKeys = 48;
constexpr std::size_t kChunk = 1500;  // lines given to one run

// The table as show prints it: the add line of each key, and the default line.
struct Table {
    std::map<unsigned, std::string> entries;
    std::string defaultLine;
    bool operator==(const Table&) const = default;

    void apply(const std::string& line) {
        if (line.starts_with("default ")) {
            defaultLine = line;
            return;
        }
        const unsigned key = static_cast<unsigned>(std::stoul(line.substr(line.find('=') + 1)));
        if (line.starts_with("del ")) {
            entries.erase(key);
        } else {
            entries[key] = line;
        }
    }
};

Table parseShown(const std::string& text) {
    Table table;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.starts_with("#")) {
            table.apply(line);
        }
    }
    return table;
}

// Lines in the order show prints fields, over a few keys so that adds,
// modifies and deletes all happen; a delete only of a key the stream added.
std::vector<std::string> randomStream(std::mt19937& random, std::size_t count) {
    std::vector<std::string> lines;
    Table model;
    auto number = [&random](unsigned max) { return std::to_string(random() % (max + 1)); };
    while (lines.size() < count) {
        const unsigned key = 1 + random() % kKeys;
        const unsigned pick = random() % 10;
        const std::string action =
            pick < 3   ? "action=onMiss"
            : pick < 6 ? "action=twiceNatAddrPortHit prot=" + number(255) +
                             " rwId=" + number(65535) + " nextHop=" + number(65535)
                       : "action=twiceNatAddrPortHitEcmp prot=" + number(255) +
                             " rwId=" + number(65535) + " ecmpGroup=" + number(65535);
        std::string line;
        if (pick == 9) {
            line = "default " + action;
        } else if (pick == 8 && model.entries.count(key) > 0) {
            line = "del " + keyFields(key);
        } else {
            line = "add ingMdNatKeyId=" + std::to_string(key) +
                   " l4PortHdrDstPort=80 l4PortHdrSrcPort=" + std::to_string(1024 + key) + " " +
                   action;
        }
        model.apply(line);
        lines.push_back(line);
    }
    return lines;
}

struct Figures {
    unsigned kills = 0, terms = 0, refusals = 0, lost = 0, orphans = 0, resyncWrites = 0;
};

class CrashRestartTest : public AgentBackendTest {
  protected:
    // A writer that changes nothing: it opens the state, adopts what a kill
    // left and resyncs. Counts refusals and recognised orphans.
    void restart(Figures& figures) {
        const AgentResult run = agent({"program"});
        if (run.status != 0) {
            ++figures.refusals;
            ADD_FAILURE() << run.err;
        }
        unsigned adopted = 0;
        if (std::sscanf(run.err.c_str(), "natagent: adopted %u", &adopted) == 1) {
            figures.orphans += adopted;
        }
    }

    void killAfter(BackgroundAgent& agent, std::mt19937& random, unsigned maxMicros,
                   Figures& figures) {
        ::usleep(random() % maxMicros);
        const bool term = random() % 5 == 0;
        if (!agent.poll()) {
            agent.stop(term ? SIGTERM : SIGKILL);
            ++figures.kills;
            figures.terms += term ? 1 : 0;
        }
    }

    // First-time setup killed part-way: the device then either is not there
    // or opens.
    void killInits(std::mt19937& random, Figures& figures) {
        const std::vector<std::string> env = {"OLVANE_SHM_PREFIX=" + prefix_};
        for (unsigned i = 0; i < kInitKills; ++i) {
            BackgroundAgent init({"--device", "1", "--capacity", "256", "init"}, "/dev/null", env);
            killAfter(init, random, 3000, figures);
            const AgentResult shown = agent({"--device", "1", "show"});
            if (shown.status != 0 && !contains(shown.err, "device 1 does not exist")) {
                ++figures.refusals;
                ADD_FAILURE() << shown.err;
            }
            Chip::wipe(1);
            Zabro::MbbZabroTableConfig::segmentWipe(1, 0xFFFF);
        }
    }
};

TEST_P(CrashRestartTest, KilledAnywhereTheAgentRestartsWithNothingCommittedLost) {
    std::mt19937 random(std::string(GetParam()) == "pd" ? 11 : 12);
    Figures figures;
    killInits(random, figures);
    const Chip::Device& watched = chip();  // mapped before any agent writes
    const std::vector<std::string> stream = randomStream(random, kKills * 600);
    const std::string file = (dir_ / "stream.txt").string();
    const std::vector<std::string> env = {"OLVANE_SHM_PREFIX=" + prefix_};
    Table model;
    std::size_t done = 0;
    for (unsigned cycle = 0; done < stream.size() && !HasFailure(); ++cycle) {
        const bool last = figures.kills >= kKills;  // the rest runs to its end
        const auto from = stream.begin() + static_cast<std::ptrdiff_t>(done);
        const std::vector<std::string> chunk(
            from, last
                      ? stream.end()
                      : from + static_cast<std::ptrdiff_t>(std::min(kChunk, stream.size() - done)));
        writeFile("stream.txt", lines(chunk));
        if (cycle % 10 == 9) {
            BackgroundAgent repair({"--backend", backend_, "audit", "--repair"}, "/dev/null", env);
            killAfter(repair, random, 2000, figures);
        }
        {
            BackgroundAgent run({"--backend", backend_, "program", "--stream"}, file, env);
            if (!last) {
                killAfter(run, random, 4000, figures);
            }
            EXPECT_TRUE(run.wait() == 0 || !last);
        }
        const std::vector<std::uint32_t> before = watched.entryHandles(Chip::kAllPipes);
        restart(figures);
        if (watched.entryHandles(Chip::kAllPipes) != before) {
            ++figures.resyncWrites;
        }
        // The table must be the stream applied up to some line of the chunk;
        // the latest such line is where the stream goes on.
        const Table shown = parseShown(agent({"show"}).out);
        Table probe = model;
        std::optional<std::size_t> applied;
        for (std::size_t k = 0; k <= chunk.size(); ++k) {
            if (probe == shown) {
                applied = k;
            }
            if (k < chunk.size()) {
                probe.apply(chunk[k]);
            }
        }
        if (!applied) {
            ++figures.lost;
            ADD_FAILURE() << "the table is no state of the stream after line " << done;
            break;
        }
        for (std::size_t k = 0; k < *applied; ++k) {
            model.apply(chunk[k]);
        }
        done += *applied;
        ASSERT_LT(cycle, 20 * kKills) << "the stream makes no progress";
    }
    std::printf(
        "crash-restart %s: %u kills (%u SIGTERM), %u refusals to open, %u entries lost, "
        "%u orphans recognised, %u resyncs that wrote to the chip\n",
        GetParam(), figures.kills, figures.terms, figures.refusals, figures.lost, figures.orphans,
        figures.resyncWrites);
    EXPECT_GE(figures.kills, kKills);
    EXPECT_EQ(figures.refusals, 0u);
    EXPECT_EQ(figures.lost, 0u);
    EXPECT_EQ(figures.resyncWrites, 0u);
    EXPECT_EQ(done, stream.size()) << "the rest of the stream did not complete";
    EXPECT_EQ(agent({"audit"}).status, 0);
}

INSTANTIATE_TEST_SUITE_P(Backends, CrashRestartTest, ::testing::ValuesIn(kBackends),
                         [](const auto& info) { return std::string(info.param); });

}  // namespace
}  // namespace AgentTest
