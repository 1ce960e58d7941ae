// natagent as operators run it: `program` of a generated file of N adds on a
// blank chip, against a plain C++ parse of the same file (read, split, convert
// the numbers), and the restart of an agent over N installed entries (a new
// process that builds the table, resyncs and programs nothing). Each agent
// run is a fresh process; its CPU time from spawn to exit is what counts.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "chip/ChipRegistry.h"
#include "zabro/MbbZabroTableConfig.h"

extern char** environ;

namespace {

constexpr unsigned kCapacity = 131072;

std::string agentPath() {
    char self[4096];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    std::string path(self, n > 0 ? static_cast<std::size_t>(n) : 0);
    return path.substr(0, path.rfind('/') + 1) + "natagent";
}

// The file of `count` adds, written once per size.
std::string addFile(unsigned count) {
    const std::string path =
        "/tmp/agent_bench_" + std::to_string(::getpid()) + "_" + std::to_string(count) + ".txt";
    std::ofstream out(path);
    for (unsigned n = 0; n < count; ++n) {
        out << "add ingMdNatKeyId=" << (n & 0xFFFF) << " l4PortHdrSrcPort=" << (n >> 16)
            << " l4PortHdrDstPort=443 action=twiceNatAddrPortHit rwId=" << (n % 4096)
            << " prot=6 nextHop=" << (n % 64) << '\n';
    }
    return path;
}

// CPU seconds (user and system) that `natagent args...` took from spawn to
// exit; negative when it failed. On a machine shared with other work the
// wall clock would also count the time the agent was not running.
double runAgent(std::vector<std::string> args) {
    const std::string agent = agentPath();
    std::vector<char*> argv{const_cast<char*>(agent.c_str())};
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, agent.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 1;
    rusage usage{};
    if (spawned == 0)
        ::wait4(pid, &status, 0, &usage);
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec * 1e-6; };
    const double cpu = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    return spawned == 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? cpu : -1;
}

void wipe() {
    Chip::wipe(0);
    Zabro::MbbZabroTableConfig::segmentWipe(0, 0xFFFF);
}

// A blank device of the benchmark's capacity, as `natagent init` leaves it.
void blankDevice() {
    wipe();
    Chip::open(0, kCapacity);
    Chip::close(0);
}

std::vector<std::string> programArgs(const char* backend, const std::string& file) {
    return {"--backend", backend, "--capacity", std::to_string(kCapacity), "program", file};
}

// What any reader of the file must do: the lines, their words, the numbers.
struct PlainEntry {
    unsigned long key[3];
    unsigned long param[3];
};
std::size_t plainParse(const std::string& path) {
    std::ifstream in(path);
    std::stringstream buffer;
    buffer << in.rdbuf();
    const std::string text = buffer.str();
    std::vector<PlainEntry> entries;
    std::string_view rest = text;
    while (!rest.empty()) {
        const std::size_t eol = rest.find('\n');
        std::string_view line = rest.substr(0, eol);
        rest.remove_prefix(eol == std::string_view::npos ? rest.size() : eol + 1);
        PlainEntry e{};
        unsigned field = 0;
        for (std::size_t eq = line.find('='); eq != std::string_view::npos;
             eq = line.find('=', eq + 1)) {
            const unsigned long v = std::strtoul(line.data() + eq + 1, nullptr, 0);
            if (field < 3)
                e.key[field] = v;
            else if (field > 3 && field < 7)
                e.param[field - 4] = v;
            ++field;
        }
        entries.push_back(e);
    }
    benchmark::DoNotOptimize(entries.data());
    return entries.size();
}

double cpuSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double plainParseSeconds(const std::string& path, unsigned count) {
    const double begin = cpuSeconds();
    return plainParse(path) == count ? cpuSeconds() - begin : -1;
}

void BM_AgentProgram(benchmark::State& state, const char* backend) {
    const auto count = static_cast<unsigned>(state.range(0));
    const std::string file = addFile(count);
    double parse = 1e9;
    double agentTotal = 0;
    for (auto _ : state) {
        blankDevice();
        const double took = runAgent(programArgs(backend, file));
        if (took < 0) {
            state.SkipWithError("natagent program failed");
            break;
        }
        state.SetIterationTime(took);
        agentTotal += took;
        parse = std::min(parse, plainParseSeconds(file, count));
    }
    const double agent = agentTotal / static_cast<double>(std::max<int64_t>(1, state.iterations()));
    state.counters["entries_per_s"] = count / agent;
    state.counters["parse_ms"] = parse * 1000;
    state.counters["ratio_to_parse"] = agent / parse;
    wipe();
    std::remove(file.c_str());
}
BENCHMARK_CAPTURE(BM_AgentProgram, bfrt, "bfrt")
    ->Arg(10000)
    ->Arg(65536)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_AgentProgram, pd, "pd")
    ->Arg(10000)
    ->Arg(65536)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

void BM_AgentRestart(benchmark::State& state, const char* backend) {
    const auto count = static_cast<unsigned>(state.range(0));
    const std::string file = addFile(count);
    const std::string empty = file + ".empty";
    std::ofstream(empty) << "# nothing\n";
    blankDevice();
    if (runAgent(programArgs(backend, file)) < 0)
        state.SkipWithError("natagent program failed");
    for (auto _ : state) {
        const double took = runAgent(programArgs(backend, empty));
        if (took < 0) {
            state.SkipWithError("natagent restart failed");
            break;
        }
        state.SetIterationTime(took);
    }
    wipe();
    std::remove(file.c_str());
    std::remove(empty.c_str());
}
BENCHMARK_CAPTURE(BM_AgentRestart, bfrt, "bfrt")
    ->Arg(65536)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_AgentRestart, pd, "pd")
    ->Arg(65536)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    const std::string prefix = "olvagentbench" + std::to_string(::getpid());
    ::setenv("OLVANE_SHM_PREFIX", prefix.c_str(), 1);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    wipe();
    return 0;
}
