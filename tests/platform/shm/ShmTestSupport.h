#pragma once
// Names private to the test process, and a child process that waits until
// it is told to go on or killed.

#include <sys/mman.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "support/ChildProcess.h"

namespace ShmTest {

inline std::string privateName(const char* what) {
    return "/shmtest" + std::to_string(::getpid()) + "_" + what;
}

// Runs `setUp` in a forked child, which then reports, runs `then` and sleeps
// until killed; the constructor returns once the child has reported.
class Child : public TestSupport::ChildProcess {
  public:
    explicit Child(const std::function<void()>& setUp, const std::function<void()>& then = {})
        : ChildProcess([&](int reports) {
              setUp();
              TestSupport::report(reports, '\1');
              if (then)
                  then();
              for (;;) ::pause();
          }) {
        char ready = 0;
        EXPECT_TRUE(read(ready)) << "the child died in its set-up";
    }
    void kill() {
        ChildProcess::kill();
        wait();
    }
};

}  // namespace ShmTest
