#include "AgentProcess.h"

#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <stdexcept>

extern char** environ;

namespace AgentTest {

namespace {

// Both ends of a pipe, closed when this goes.
class Pipe {
  public:
    Pipe() {
        if (::pipe(fds_.data()) != 0) {
            throw std::runtime_error("pipe failed");
        }
    }
    ~Pipe() {
        closeRead();
        closeWrite();
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;

    int read() const { return fds_[0]; }
    int write() const { return fds_[1]; }
    void closeRead() { closeEnd(0); }
    void closeWrite() { closeEnd(1); }

  private:
    void closeEnd(int end) {
        if (fds_[end] >= 0) {
            ::close(fds_[end]);
            fds_[end] = -1;
        }
    }
    std::array<int, 2> fds_{-1, -1};
};

class FileActions {
  public:
    FileActions() { ::posix_spawn_file_actions_init(&actions_); }
    ~FileActions() { ::posix_spawn_file_actions_destroy(&actions_); }
    FileActions(const FileActions&) = delete;
    FileActions& operator=(const FileActions&) = delete;

    void dup2(int from, int to) { ::posix_spawn_file_actions_adddup2(&actions_, from, to); }
    void close(int fd) { ::posix_spawn_file_actions_addclose(&actions_, fd); }
    void open(int fd, const char* path, int flags, mode_t mode = 0) {
        ::posix_spawn_file_actions_addopen(&actions_, fd, path, flags, mode);
    }
    const posix_spawn_file_actions_t* get() const { return &actions_; }

  private:
    posix_spawn_file_actions_t actions_;
};

// The agent started with `args` and this process's environment plus `env`.
pid_t spawnAgent(const std::vector<std::string>& args, const std::vector<std::string>& env,
                 const FileActions& actions) {
    std::vector<std::string> strings = {NATAGENT_BINARY};
    strings.insert(strings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& s : strings) {
        argv.push_back(s.data());
    }
    argv.push_back(nullptr);
    std::vector<std::string> envStrings(env);
    for (char** e = environ; *e != nullptr; ++e) {
        envStrings.emplace_back(*e);  // later duplicates lose: getenv takes the first
    }
    std::vector<char*> envp;
    for (std::string& s : envStrings) {
        envp.push_back(s.data());
    }
    envp.push_back(nullptr);
    pid_t pid = 0;
    if (::posix_spawn(&pid, NATAGENT_BINARY, actions.get(), nullptr, argv.data(), envp.data()) !=
        0) {
        throw std::runtime_error("cannot start " NATAGENT_BINARY);
    }
    return pid;
}

// The exit status, or 128 + the signal it died of; none while it runs.
std::optional<int> waitStatus(pid_t pid, int options = 0) {
    int status = 0;
    pid_t done = 0;
    while ((done = ::waitpid(pid, &status, options)) < 0 && errno == EINTR) {
    }
    if (done != pid) {
        return std::nullopt;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

BackgroundAgent::BackgroundAgent(const std::vector<std::string>& args, const std::string& inputFile,
                                 const std::vector<std::string>& env, const std::string& outFile) {
    FileActions actions;
    actions.open(STDIN_FILENO, inputFile.c_str(), O_RDONLY);
    actions.open(STDOUT_FILENO, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    actions.open(STDERR_FILENO, "/dev/null", O_WRONLY);
    pid_ = spawnAgent(args, env, actions);
}

BackgroundAgent::~BackgroundAgent() {
    stop(SIGKILL);
}

std::optional<int> BackgroundAgent::poll() {
    if (!status_) {
        status_ = waitStatus(pid_, WNOHANG);
    }
    return status_;
}

int BackgroundAgent::stop(int signal) {
    if (!poll()) {
        ::kill(pid_, signal);
    }
    return wait();
}

int BackgroundAgent::wait() {
    if (!status_) {
        status_ = waitStatus(pid_);
    }
    return *status_;
}

bool runAgentKilled(const std::vector<std::string>& args, const std::string& inputFile,
                    const std::vector<std::string>& env, const std::function<bool()>& killNow) {
    BackgroundAgent agent(args, inputFile, env);
    while (!agent.poll()) {
        if (killNow()) {
            return agent.stop(SIGKILL) == 128 + SIGKILL;
        }
        ::usleep(100);
    }
    return false;
}

AgentResult runAgent(const std::vector<std::string>& args, const std::string& input,
                     const std::vector<std::string>& env) {
    // An agent that exits before reading all its input must not stop the test.
    static const bool pipeSignalIgnored = std::signal(SIGPIPE, SIG_IGN) != SIG_ERR;
    (void)pipeSignalIgnored;
    Pipe in;
    Pipe out;
    Pipe err;
    FileActions actions;
    actions.dup2(in.read(), STDIN_FILENO);
    actions.dup2(out.write(), STDOUT_FILENO);
    actions.dup2(err.write(), STDERR_FILENO);
    for (int fd : {in.read(), in.write(), out.read(), out.write(), err.read(), err.write()}) {
        actions.close(fd);
    }

    const pid_t pid = spawnAgent(args, env, actions);
    in.closeRead();
    out.closeWrite();
    err.closeWrite();

    AgentResult result;
    std::size_t written = 0;
    if (input.empty()) {
        in.closeWrite();
    }
    std::array<pollfd, 3> fds = {pollfd{out.read(), POLLIN, 0}, pollfd{err.read(), POLLIN, 0},
                                 pollfd{input.empty() ? -1 : in.write(), POLLOUT, 0}};
    std::array<std::string*, 2> sinks = {&result.out, &result.err};
    while (fds[0].fd >= 0 || fds[1].fd >= 0) {
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw std::runtime_error("poll failed");
        }
        for (std::size_t i = 0; i < 2; ++i) {
            if (fds[i].revents == 0) {
                continue;
            }
            char buffer[4096];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(n));
            } else {
                fds[i].fd = -1;
            }
        }
        if (fds[2].fd >= 0 && fds[2].revents != 0) {
            const ssize_t n = ::write(fds[2].fd, input.data() + written, input.size() - written);
            written += n > 0 ? static_cast<std::size_t>(n) : input.size();
            if (written >= input.size()) {
                in.closeWrite();
                fds[2].fd = -1;
            }
        }
    }
    result.status = waitStatus(pid).value_or(-1);
    return result;
}

}  // namespace AgentTest
