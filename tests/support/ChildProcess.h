#pragma once
// A forked child that runs a body with the write end of a pipe (closed if the body
// execs) and exits with 0 when the body returns (200 when it throws); the parent
// reads its reports, kills it when it likes and reaps it.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <optional>

namespace TestSupport {

class ChildProcess {
  public:
    explicit ChildProcess(const std::function<void(int reports)>& body) {
        int fds[2];
        EXPECT_EQ(::pipe2(fds, O_CLOEXEC), 0);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(fds[0]);
            int status = 0;
            try {
                body(fds[1]);
            } catch (...) {
                status = 200;
            }
            ::_exit(status);
        }
        ::close(fds[1]);
        reports_ = fds[0];
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess() {
        kill(SIGKILL);
        wait();
        ::close(reports_);
    }

    // The next report; false once the child has closed its end (exited or was killed).
    template <class Report>
    bool read(Report& report) const {
        return ::read(reports_, &report, sizeof report) == sizeof report;
    }
    void kill(int signal = SIGKILL) const {
        if (status_ < 0)
            ::kill(pid_, signal);
    }
    // Reaps the child once and hands back its wait status.
    int wait() {
        if (status_ < 0 && ::waitpid(pid_, &status_, 0) != pid_)
            status_ = 0xFFFF;
        return status_;
    }
    // The exit code once the child has ended (-1 when a signal ended it), without waiting.
    std::optional<int> poll() {
        int status = 0;
        if (status_ < 0 && ::waitpid(pid_, &status, WNOHANG) == pid_)
            status_ = status;
        return status_ < 0 ? std::nullopt : std::optional(exitCode());
    }
    bool killedBy(int signal) { return WIFSIGNALED(wait()) && WTERMSIG(status_) == signal; }
    // The exit code, -1 when the child did not exit by itself.
    int exitCode() { return WIFEXITED(wait()) ? WEXITSTATUS(status_) : -1; }
    pid_t pid() const noexcept { return pid_; }

  private:
    pid_t pid_ = -1;
    int reports_ = -1;
    int status_ = -1;
};

// A report written by the child to the parent; the child gives up when the parent is gone.
template <class Report>
void report(int fd, const Report& report) {
    if (::write(fd, &report, sizeof report) != sizeof report)
        ::_exit(3);
}

}  // namespace TestSupport
