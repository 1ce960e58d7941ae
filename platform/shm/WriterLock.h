#pragma once
// Shm::WriterLock: the one writer of a device and pipe. It is an exclusive
// OFD lock on a small shared-memory lock file, which the kernel drops when
// its holder dies, however it dies, so no stale lock survives a kill. As OFD
// locks do not tell who holds them, the holder writes its pid into the file;
// a process that gives up waiting names that pid.

#include <sys/types.h>

#include <string>

#include "shm/Fd.h"

namespace Shm {

class WriterLock {
  public:
    // Takes the lock `name` (a shared-memory name, created when absent),
    // trying for up to `waitSeconds` (0: once). Throws Error naming the
    // holder's pid when it stays taken, and when the lock file is refused
    // (see Shm::openChecked).
    static WriterLock acquire(const std::string& name, unsigned waitSeconds);

    WriterLock() = default;
    WriterLock(WriterLock&&) noexcept = default;
    WriterLock& operator=(WriterLock&&) noexcept = default;
    ~WriterLock();

    const std::string& name() const noexcept { return name_; }
    bool held() const noexcept { return fd_.valid(); }

  private:
    WriterLock(std::string name, Fd fd) noexcept : name_(std::move(name)), fd_(std::move(fd)) {}

    std::string name_;
    Fd fd_;
};

}  // namespace Shm
