#pragma once
// Names private to the test process, and a child process that waits until
// it is told to go on or killed.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

namespace ShmTest {

inline std::string privateName(const char* what) {
    return "/shmtest" + std::to_string(::getpid()) + "_" + what;
}

// Runs `setUp` in a forked child, which then reports through a pipe, runs
// `then` and sleeps until killed; the parent returns once it reported.
class Child {
  public:
    explicit Child(const std::function<void()>& setUp, const std::function<void()>& then = {}) {
        int fds[2];
        EXPECT_EQ(::pipe(fds), 0);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(fds[0]);
            setUp();
            const char ready = 1;
            [[maybe_unused]] const ssize_t sent = ::write(fds[1], &ready, 1);
            if (then)
                then();
            for (;;) ::pause();
        }
        ::close(fds[1]);
        char ready = 0;
        EXPECT_EQ(::read(fds[0], &ready, 1), 1) << "the child died in its set-up";
        ::close(fds[0]);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() { kill(); }

    pid_t pid() const noexcept { return pid_; }
    void kill() {
        if (pid_ <= 0)
            return;
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
    }

  private:
    pid_t pid_ = -1;
};

}  // namespace ShmTest
