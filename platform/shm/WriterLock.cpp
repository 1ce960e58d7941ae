#include "WriterLock.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace Shm {

namespace {

constexpr const char* kKind = "writer lock";

// The pid the holder wrote; 0 when it has not written one yet.
long holderPid(int fd) {
    char text[24] = {};
    const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
    return n > 0 ? std::strtol(text, nullptr, 10) : 0;
}

}  // namespace

WriterLock WriterLock::acquire(const std::string& name, unsigned waitSeconds) {
    Fd fd = openChecked(kKind, name, O_RDWR | O_CREAT);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(waitSeconds);
    while (!tryLockExclusive(kKind, name, fd.get())) {
        if (std::chrono::steady_clock::now() >= deadline) {
            throw Error(std::string(kKind) + " " + name + ": held by pid " +
                        std::to_string(holderPid(fd.get())) + "; gave up after " +
                        std::to_string(waitSeconds) + " s");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd.get(), 0) != 0 ||
        ::pwrite(fd.get(), pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
        throwSystemError(kKind, name, "record the holder's pid", errno);
    }
    return WriterLock(name, std::move(fd));
}

WriterLock::~WriterLock() {
    // Closing the descriptor drops the lock; the pid goes first, so that a
    // reader never names a holder that has let go.
    if (fd_.valid()) {
        [[maybe_unused]] const int cleared = ::ftruncate(fd_.get(), 0);
    }
}

}  // namespace Shm
