// The command line as operators meet it: help and version, usage errors,
// exit statuses, devices made only on purpose, output that cannot be
// written, tracing.
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>

#include "AgentFixture.h"

namespace AgentTest {
namespace {

class CliTest : public AgentFixture {
  protected:
    // `command` run by the shell with the test's prefix; its exit status.
    int shell(const std::string& command) {
        const int status = std::system(("OLVANE_SHM_PREFIX=" + prefix_ + " " + command).c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    // Shared-memory segments of this test whose names contain `part`.
    std::vector<std::string> segments(const std::string& part) {
        std::vector<std::string> found;
        for (const auto& entry : std::filesystem::directory_iterator("/dev/shm")) {
            const std::string name = entry.path().filename().string();
            if (name.starts_with(prefix_ + "_") && contains(name, part)) {
                found.push_back(name);
            }
        }
        return found;
    }
};

TEST_F(CliTest, HelpAndVersion) {
    const AgentResult help = agent({"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* part : {"program [FILE]", "sync FILE", "diff FILE", "get KEY-FIELDS", "flush",
                             "init", "reset-keys", "--dry-run", "--atomic", "--table", "--json",
                             "--quiet", "--no-progress", "--version", "Exit status:",
                             "3  a device or state error", "JSON Lines", "OLVANE_SHM_PREFIX"}) {
        EXPECT_TRUE(contains(help.out, part)) << part;
    }
    const AgentResult version = agent({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_TRUE(std::regex_match(version.out, std::regex("natagent \\d+\\.\\d+\\.\\d+\n")))
        << version.out;
}

// The bash completion and the manual page know every command --help lists,
// and the completion completes them.
TEST_F(CliTest, CompletionAndManualPageKnowEveryCommand) {
    const std::string help = agent({"--help"}).out;
    const std::string commands =
        help.substr(help.find("Commands:"), help.find("Options (every") - help.find("Commands:"));
    std::stringstream completion;
    completion << std::ifstream(AGENT_SHARE_DIR "/natagent.bash-completion").rdbuf();
    std::stringstream manual;
    manual << std::ifstream(AGENT_SHARE_DIR "/natagent.1").rdbuf();
    const std::regex command("\n  ([a-z-]+)");
    unsigned found = 0;
    for (std::sregex_iterator it(commands.begin(), commands.end(), command), end; it != end;
         ++it, ++found) {
        const std::string name = (*it)[1];
        EXPECT_TRUE(std::regex_search(completion.str(), std::regex("[\" ]" + name + "[\" ]")))
            << name;
        EXPECT_TRUE(contains(manual.str(), ".B " + name) || contains(manual.str(), "R " + name) ||
                    contains(manual.str(), "I " + name))
            << name;
    }
    EXPECT_GE(found, 11u);
    EXPECT_EQ(shell("bash -c 'source " AGENT_SHARE_DIR "/natagent.bash-completion && "
                    "COMP_WORDS=(natagent --device 1 sy) COMP_CWORD=3 && _natagent && "
                    "test \"${COMPREPLY[*]}\" = sync'"),
              0);
}

struct Exit {
    const char* name;
    std::vector<std::string> args;
    int status;
    std::string message;  // part of stderr
};

class ExitTest : public CliTest, public ::testing::WithParamInterface<Exit> {};

TEST_P(ExitTest, StatusAndMessage) {
    const Exit& c = GetParam();
    std::vector<std::string> args;
    for (const std::string& arg : c.args) {
        args.push_back(arg == "DIR" ? dir_.string() : arg);
    }
    const AgentResult run = runAgent(args, "", {"OLVANE_SHM_PREFIX=" + prefix_});
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_TRUE(contains(run.err, c.message)) << run.err;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ExitTest,
    ::testing::Values(
        Exit{"NoCommand", {}, 2, "no command given"},
        Exit{"UnknownCommand", {"list"}, 2, "unknown command 'list'"},
        Exit{"OptionOfAnotherCommand", {"show", "--repair"}, 2, "--repair is an option of audit"},
        Exit{"BadPipe", {"--pipe", "4", "show"}, 2, "--pipe takes 0 to 3"},
        Exit{"BadBackend", {"--backend", "sdk", "show"}, 2, "pd or bfrt"},
        Exit{"SyncWithoutFile", {"sync"}, 2, "sync needs a FILE"},
        Exit{"GetWithoutAllKeys", {"get", "ingMdNatKeyId=1"}, 2, "get needs every key field"},
        Exit{"FilterOnNoField", {"show", "colour=1"}, 2, "no field 'colour'"},
        Exit{"MissingFile",
             {"program", "/nonexistent/ops.txt"},
             2,
             "cannot read /nonexistent/ops.txt: No such file or directory"},
        Exit{"Folder", {"program", "DIR"}, 2, "Is a directory"},
        Exit{"DashDashEndsOptions",
             {"program", "--", "--keep-going"},
             2,
             "cannot read --keep-going: No such file"},
        Exit{"FlushWithoutTerminal", {"flush"}, 2, "give --yes"},
        Exit{"MissingDevice",
             {"--device", "1", "show"},
             3,
             "device 1 does not exist; create it with natagent init --device 1"},
        Exit{"MissingLibrary", {"--lib-dir", "DIR", "show"}, 3, "cannot load "},
        Exit{"InitOfExistingDevice", {"init"}, 3, "device 0 exists already"},
        Exit{"GetAbsent",
             {"get", "ingMdNatKeyId=1", "l4PortHdrSrcPort=2", "l4PortHdrDstPort=3"},
             1,
             "no installed entry has"}),
    [](const auto& info) { return std::string(info.param.name); });

// Commands and the chip tool on a device that does not exist say so and
// leave no segment behind; so does an init whose libraries cannot be loaded.
TEST_F(CliTest, MissingDeviceIsNotCreated) {
    EXPECT_EQ(agent({"--device", "1", "--lib-dir", dir_.string(), "init"}).status, 3);
    for (const char* command : {"show", "stats", "audit", "diff -", "program -"}) {
        const std::string run = std::string(NATAGENT_BINARY) + " --device 1 " + command;
        EXPECT_EQ(shell(run + " </dev/null 2>/dev/null"), 3) << command;
    }
    EXPECT_EQ(shell(std::string(OLVANE_CHIP_BINARY) + " info 1 2>/dev/null"), 1);
    EXPECT_EQ(shell(std::string(OLVANE_CHIP_BINARY) + " wipe 1 >/dev/null 2>&1"), 1);
    EXPECT_EQ(segments("dev1"), std::vector<std::string>{});

    ASSERT_EQ(agent({"--device", "1", "--capacity", "64", "init"}).status, 0);
    EXPECT_EQ(segments("dev1").size(), 3u) << "the chip, the key records and the writer lock";
    EXPECT_EQ(agent({"--device", "1", "show"}).status, 0);
}

TEST_F(CliTest, OutputThatCannotBeWrittenFails) {
    ASSERT_EQ(agent({"program"}, lines({addLine(1)})).status, 0);
    EXPECT_EQ(shell(std::string(NATAGENT_BINARY) + " show >/dev/full 2>/dev/null"), 1);
    EXPECT_EQ(shell(std::string(NATAGENT_BINARY) + " --help >/dev/full 2>/dev/null"), 1);
    EXPECT_EQ(shell(std::string(NATAGENT_BINARY) + " show >/dev/null"), 0);
}

TEST_F(CliTest, PdLibraryThatDisagreesWithTheBackendIsRefused) {
    const std::string libDir =
        (std::filesystem::path(NATAGENT_BINARY).parent_path().parent_path() / "lib").string();
    const AgentResult run =
        runAgent({"--backend", "pd", "--pd-lib", libDir + "/libolvane_switch_pd.so", "show"}, "",
                 {"OLVANE_SHM_PREFIX=" + prefix_});
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(contains(run.err, "--backend pd disagrees with")) << run.err;
}

TEST_F(CliTest, TraceShowsTheLibrarysLevelNineLinesStamped) {
    const AgentResult traced = agent({"--trace", "program"}, lines({addLine(1)}));
    EXPECT_EQ(traced.status, 0) << traced.err;
    EXPECT_TRUE(std::regex_search(
        traced.err, std::regex("\\dZ \\d+ BfTwiceNatAddrPort\\[9\\]: initializeTable\n")))
        << traced.err;
    EXPECT_TRUE(contains(traced.err, "BfTwiceNatAddrPort[9]: Adding new entry")) << traced.err;

    const AgentResult quiet = agent({"program", "-q"}, lines({addLine(2)}));
    EXPECT_EQ(quiet.out + quiet.err, "");

    // A trace file that cannot be opened, a symbolic link included, stops the
    // agent before it starts.
    const std::string link = writeFile("trace.link", "");
    std::filesystem::remove(link);
    std::filesystem::create_symlink(writeFile("trace.target", ""), link);
    for (const std::string& file : {std::string("/nonexistent/trace"), link}) {
        const AgentResult badFile = runAgent(
            {"--trace", "show"}, "", {"OLVANE_SHM_PREFIX=" + prefix_, "KIV_TRACE_FILE=" + file});
        EXPECT_EQ(badFile.status, 2);
        EXPECT_TRUE(contains(badFile.err, "cannot open KIV_TRACE_FILE " + file + ": "))
            << badFile.err;
    }
}

// Over a PD library without the simulator's control, as over hardware: the entry
// commands work, stats leaves out what only the simulator tells, and the demo and
// init say why they cannot run.
TEST_F(CliTest, WithoutTheSimulatorsControlOnlyTheDemoIsRefused) {
    backend_ = "pd";  // that library offers no object runtime
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
    EXPECT_EQ(demo.status, 3);
    EXPECT_TRUE(contains(demo.err, "the demo needs a simulated chip, and the PD library " +
                                       std::string(PD_LIBRARY_WITHOUT_CONTROL) +
                                       " offers no olvane_switch_sim_control entry point"))
        << demo.err;
    const AgentResult init = agent(over({"--device", "2", "init"}));
    EXPECT_EQ(init.status, 3);
    EXPECT_TRUE(contains(init.err, "creating a device needs a simulated chip")) << init.err;
}

}  // namespace
}  // namespace AgentTest
