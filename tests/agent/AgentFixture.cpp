#include "AgentFixture.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace AgentTest {

namespace {

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> result;
    for (std::string& s : strings) {
        result.push_back(s.data());
    }
    result.push_back(nullptr);
    return result;
}

// Every chip and key-record segment a test may have made, gone.
void wipe() {
    for (unsigned device = 0; device < 2; ++device) {
        Chip::wipe(device);
        for (unsigned pipe : {0xFFFFu, 0u, 1u, 2u, 3u}) {
            Zabro::MbbZabroTableConfig::segmentWipe(static_cast<Kiv::U8>(device),
                                                    static_cast<Kiv::U16>(pipe));
        }
    }
}

}  // namespace

BackgroundAgent::BackgroundAgent(const std::vector<std::string>& args, const std::string& in,
                                 const std::string& out, const std::string& err,
                                 const std::vector<std::string>& env) {
    std::vector<std::string> argStrings = {NATAGENT_BINARY};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<std::string> envStrings(env);  // first: getenv takes the first of a name
    for (char** e = environ; *e != nullptr; ++e) {
        envStrings.emplace_back(*e);
    }
    struct Actions {
        posix_spawn_file_actions_t actions;
        Actions() { ::posix_spawn_file_actions_init(&actions); }
        ~Actions() { ::posix_spawn_file_actions_destroy(&actions); }
    } files;
    ::posix_spawn_file_actions_addopen(&files.actions, STDIN_FILENO, in.c_str(), O_RDONLY, 0);
    for (const auto& [fd, path] :
         {std::pair{STDOUT_FILENO, &out}, std::pair{STDERR_FILENO, &err}}) {
        ::posix_spawn_file_actions_addopen(&files.actions, fd, path->c_str(),
                                           O_WRONLY | O_CREAT | O_TRUNC, 0600);
    }
    if (::posix_spawn(&pid_, NATAGENT_BINARY, &files.actions, nullptr, pointers(argStrings).data(),
                      pointers(envStrings).data()) != 0) {
        throw std::runtime_error("cannot start " NATAGENT_BINARY);
    }
}

std::optional<int> BackgroundAgent::reap(int options) {
    int status = 0;
    pid_t done = 0;
    while (!status_ && (done = ::waitpid(pid_, &status, options)) < 0 && errno == EINTR) {
    }
    if (done == pid_) {
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    return status_;
}

int BackgroundAgent::stop(int signal) {
    if (!poll()) {
        ::kill(pid_, signal);
    }
    return wait();
}

void AgentFixture::SetUp() {
    static std::atomic<unsigned> counter{0};
    prefix_ = "natagent" + std::to_string(::getpid()) + "_" + std::to_string(counter++);
    ::setenv("OLVANE_SHM_PREFIX", prefix_.c_str(), 1);
    dir_ = std::filesystem::temp_directory_path() / prefix_;
    std::filesystem::create_directories(dir_);
    wipe();
    // Device 0 exists, as after natagent init; device 1 is made where a test needs it.
    Chip::open(0);
    Chip::close(0);
}

void AgentFixture::TearDown() {
    wipe();
    std::filesystem::remove_all(dir_);
}

AgentResult AgentFixture::run(const std::vector<std::string>& args, const std::string& input,
                              const std::vector<std::string>& env) {
    const std::filesystem::path out = dir_ / "stdout", err = dir_ / "stderr";
    AgentResult result;
    result.status = BackgroundAgent(args, writeFile("stdin", input), out, err, env).wait();
    result.out = readFile(out);
    result.err = readFile(err);
    return result;
}

std::string AgentFixture::writeFile(const std::string& name, const std::string& text) {
    const std::filesystem::path path = dir_ / name;
    std::ofstream(path) << text;
    return path.string();
}

std::vector<std::string> AgentFixture::shownEntries(const std::vector<std::string>& extra) {
    std::vector<std::string> args = {"show", "--json"};
    args.insert(args.end(), extra.begin(), extra.end());
    const AgentResult shown = agent(args);
    EXPECT_EQ(shown.status, 0) << shown.err;
    std::vector<std::string> entries;
    std::istringstream in(shown.out);
    for (std::string line; std::getline(in, line);) {
        entries.push_back(line.substr(0, line.find(",\"handle\":")));
    }
    return entries;
}

Zabro::MbbPostcodef::EntryConfig AgentFixture::firstRecord() {
    Zabro::MbbPostcodef::EntryConfig record(0, 0, 0, 0, 0);
    Zabro::IterHint hint;
    EXPECT_TRUE(keyRecords()->first(record, hint));
    return record;
}

std::string keyFields(unsigned i) {
    return "ingMdNatKeyId=" + std::to_string(i) + " l4PortHdrSrcPort=" + std::to_string(1024 + i) +
           " l4PortHdrDstPort=80";
}

std::string addLine(unsigned i, const std::string& action) {
    return "add " + keyFields(i) + " " + action;
}

std::string lines(const std::vector<std::string>& text) {
    std::string joined;
    for (const std::string& line : text) {
        joined += line + "\n";
    }
    return joined;
}

std::string readFile(const std::filesystem::path& path) {
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

bool hasRow(const std::string& text, const std::vector<std::string>& words) {
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        std::istringstream row(line);
        std::vector<std::string> found;
        for (std::string word; row >> word;) {
            found.push_back(word);
        }
        if (found == words) {
            return true;
        }
    }
    return false;
}

int shell(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace AgentTest
