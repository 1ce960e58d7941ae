// The command line as operators meet it: help, version and completion, exit
// statuses, devices made only on purpose, output that cannot be written,
// tracing, a PD library without the simulator's control.
#include <regex>

#include "AgentFixture.h"

namespace AgentTest {
namespace {

using CliTest = AgentFixture;

// --help lists every command, and the bash completion and the manual page know
// each one it lists; the completion completes.
TEST_F(CliTest, HelpCompletionAndManualPageKnowEveryCommand) {
    EXPECT_EQ(run({"--version"}).status, 0);
    const AgentResult help = exited(0, run({"--help"}));
    const std::size_t from = help.out.find("Commands:");
    const std::string commands = help.out.substr(from, help.out.find("Options (every") - from);
    const std::string completion = readFile(AGENT_SHARE_DIR "/natagent.bash-completion");
    const std::string manual = readFile(AGENT_SHARE_DIR "/natagent.1");
    const std::regex command("\n  ([a-z-]+)");
    unsigned found = 0;
    for (std::sregex_iterator it(commands.begin(), commands.end(), command), end; it != end;
         ++it, ++found) {
        const std::string name = (*it)[1];
        EXPECT_TRUE(std::regex_search(completion, std::regex("[\" ]" + name + "[\" ]"))) << name;
        EXPECT_TRUE(std::regex_search(manual, std::regex("[BRI] " + name))) << name;
    }
    EXPECT_GE(found, 11u);
    EXPECT_EQ(shell("bash -c 'source " AGENT_SHARE_DIR "/natagent.bash-completion && "
                    "COMP_WORDS=(natagent --device 1 sy) COMP_CWORD=3 && _natagent && "
                    "test \"${COMPREPLY[*]}\" = sync'"),
              0);
}

// Usage errors (2), a command that found nothing (1), device and state
// errors (3). The parser's own messages are checked where it is tested.
TEST_F(CliTest, ExitStatusAndMessage) {
    const std::string pdLib = std::filesystem::path(NATAGENT_BINARY).parent_path().string() +
                              "/../lib/libolvane_switch_pd.so";
    const struct {
        int status;
        std::string message;  // part of stderr
        std::vector<std::string> args;
    } cases[] = {
        {2, "no command given", {}},
        {2, "get needs every key field", {"get", "ingMdNatKeyId=1"}},
        {2, "no field 'colour'", {"show", "colour=1"}},
        {2, "cannot read /nonexistent/ops.txt: No such file", {"program", "/nonexistent/ops.txt"}},
        {2, "Is a directory", {"program", dir_.string()}},
        {2, "give --yes", {"flush"}},
        {2, "--backend pd disagrees with", {"--backend", "pd", "--pd-lib", pdLib, "show"}},
        {3, "device 0 exists already", {"init"}},
        {1,
         "no installed entry has",
         {"get", "ingMdNatKeyId=1", "l4PortHdrSrcPort=2", "l4PortHdrDstPort=3"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        const AgentResult result = exited(c.status, run(c.args));
        EXPECT_HAS(result.err, c.message);
    }
}

// Commands and the chip tool on a device that does not exist say so and
// leave no segment behind; so does an init whose libraries cannot be loaded.
TEST_F(CliTest, MissingDeviceIsNotCreated) {
    auto segments = [this] {
        unsigned found = 0;
        for (const auto& entry : std::filesystem::directory_iterator("/dev/shm")) {
            const std::string name = entry.path().filename().string();
            found += name.starts_with(prefix_ + "_") && contains(name, "dev1") ? 1 : 0;
        }
        return found;
    };
    const AgentResult init = exited(3, run({"--device", "1", "--lib-dir", dir_.string(), "init"}));
    EXPECT_HAS(init.err, "cannot load ");
    for (const char* command : {"show", "stats", "audit", "program"}) {
        const AgentResult missing = run({"--device", "1", command});
        EXPECT_EQ(missing.status, 3) << command;
        EXPECT_HAS(missing.err, "device 1 does not exist; create it with natagent init --device 1");
    }
    for (const char* tool : {" info 1", " wipe 1"})
        EXPECT_EQ(shell(OLVANE_CHIP_BINARY + std::string(tool) + " >/dev/null 2>&1"), 1) << tool;
    EXPECT_EQ(segments(), 0u);

    ASSERT_EQ(run({"--device", "1", "--capacity", "64", "init"}).status, 0);
    EXPECT_EQ(segments(), 3u) << "the chip, the key records and the writer lock";
}

// Tracing, quiet runs and output that cannot be written.
TEST_F(CliTest, TraceQuietAndUnwritableOutput) {
    const AgentResult traced = exited(0, agent({"--trace", "program"}, lines({addLine(1)})));
    EXPECT_TRUE(std::regex_search(
        traced.err, std::regex("\\dZ \\d+ BfTwiceNatAddrPort\\[9\\]: initializeTable\n")))
        << traced.err;
    for (const char* command : {"show", "--help"}) {
        EXPECT_EQ(BackgroundAgent({command}, "/dev/null", "/dev/full").exitCode(), 1) << command;
    }

    const AgentResult quiet = agent({"program", "-q"}, lines({addLine(2)}));
    EXPECT_EQ(quiet.out + quiet.err, "");

    // A trace file that cannot be opened, a symbolic link included, stops the
    // agent before it starts.
    const std::string link = (dir_ / "trace.link").string();
    std::filesystem::create_symlink(writeFile("trace.target", ""), link);
    for (const std::string& file : {std::string("/nonexistent/trace"), link}) {
        ::setenv("KIV_TRACE_FILE", file.c_str(), 1);
        const AgentResult badFile = run({"--trace", "show"});
        ::unsetenv("KIV_TRACE_FILE");
        EXPECT_EQ(badFile.status, 2);
        EXPECT_HAS(badFile.err, "cannot open KIV_TRACE_FILE " + file + ": ");
    }
}

// Over a PD library without the simulator's control, as over hardware: the entry
// commands work, stats leaves out what only the simulator tells, and the demo and
// init say why they cannot run.
TEST_F(CliTest, WithoutTheSimulatorsControlOnlyTheDemoIsRefused) {
    backend_ = "pd";  // that library offers no object runtime
    auto over = [this](std::vector<std::string> args, const std::string& input = "") {
        args.insert(args.begin(), {"--pd-lib", PD_LIBRARY_WITHOUT_CONTROL});
        return agent(args, input);
    };
    ASSERT_EQ(over({"program"}, lines({addLine(1), addLine(2)})).status, 0);
    EXPECT_HAS(over({"show"}).out, "2 entries");
    EXPECT_EQ(over({"audit"}).status, 0);
    const AgentResult stats = exited(0, over({"stats"}));
    EXPECT_HAS(rows(stats.out), "\nchip entries, this scope 2\n");
    EXPECT_FALSE(contains(stats.out, "chip capacity")) << stats.out;
    for (const char* refused : {"demo", "init"}) {
        const AgentResult result = exited(3, over({"--device", "2", refused}));
        EXPECT_HAS(result.err,
                   "needs a simulated chip, and the PD library " PD_LIBRARY_WITHOUT_CONTROL
                   " offers no olvane_switch_sim_control entry point");
    }
}

}  // namespace
}  // namespace AgentTest
