#include "AgentFixture.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace AgentTest {

BackgroundAgent::BackgroundAgent(std::vector<std::string> args, const std::string& in,
                                 const std::string& out, const std::string& err) {
    args.insert(args.begin(), NATAGENT_BINARY);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    if ((pid_ = ::fork()) < 0)
        throw std::runtime_error("cannot start " NATAGENT_BINARY);
    if (pid_ == 0) {  // only calls safe after a fork from here on
        int fd = 0;
        for (const std::string* path : {&in, &out, &err}) {
            const int flags = fd == 0 ? O_RDONLY : O_WRONLY | O_CREAT | O_TRUNC;
            const int opened = ::open(path->c_str(), flags | O_CLOEXEC, 0600);
            if (opened < 0 || ::dup2(opened, fd++) < 0)
                ::_exit(126);
        }
        ::execv(NATAGENT_BINARY, argv.data());
        ::_exit(127);
    }
}

std::optional<int> BackgroundAgent::reap(int options) {
    int status = 0;
    pid_t done = 0;
    while (!status_ && (done = ::waitpid(pid_, &status, options)) < 0 && errno == EINTR) {
    }
    if (done == pid_)
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return status_;
}

// Every chip and key-record segment a test may have made, gone.
static void wipe() {
    for (Kiv::U8 device = 0; device < 2; ++device) {
        Chip::wipe(device);
        for (Kiv::U16 pipe : {0xFFFF, 0, 1, 2, 3})
            Zabro::MbbZabroTableConfig::segmentWipe(device, pipe);
    }
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

AgentResult AgentFixture::run(const std::vector<std::string>& args, const std::string& input) {
    const std::filesystem::path out = dir_ / "stdout", err = dir_ / "stderr";
    const int status = BackgroundAgent(args, writeFile("stdin", input), out, err).wait();
    return {status, readFile(out), readFile(err)};
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
    for (std::string line; std::getline(in, line);)
        entries.push_back(line.substr(0, line.find(",\"handle\":")));
    return entries;
}

std::string lines(const std::vector<std::string>& text) {
    std::string joined;
    for (const std::string& line : text) joined += line + "\n";
    return joined;
}

std::string readFile(const std::filesystem::path& path) {
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

std::string rows(const std::string& text) {
    std::istringstream in(text);
    std::string result = "\n";
    for (std::string line; std::getline(in, line); result += "\n") {
        std::istringstream words(line);
        for (std::string word, blank; words >> word; blank = " ") result += blank + word;
    }
    return result;
}

int shell(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace AgentTest
