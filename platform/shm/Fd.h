#pragma once
// Shm::Fd owns one file descriptor; Shm::Error is what this component throws,
// with the kind and name of the object and what went wrong.

#include <stdexcept>
#include <string>
#include <utility>

namespace Shm {

class Error : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// "<kind> <name>: <what>: <strerror(error)>"
[[noreturn]] void throwSystemError(const char* kind, const std::string& name, const char* what,
                                   int error);
// "<kind> <name> refused: <why>"
[[noreturn]] void throwRefused(const char* kind, const std::string& name, const std::string& why);

class Fd {
  public:
    Fd() = default;
    explicit Fd(int fd) noexcept : fd_(fd) {}
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { reset(); }

    int get() const noexcept { return fd_; }
    bool valid() const noexcept { return fd_ >= 0; }
    void reset() noexcept;

  private:
    int fd_ = -1;
};

// Opens the shared-memory object `name` without following a symbolic link and
// checks that it is a regular file of the effective user that neither group
// nor others may write; anything else is refused. `flags` are shm_open's.
// Returns an invalid Fd when the name does not exist (and O_CREAT is absent).
Fd openChecked(const char* kind, const std::string& name, int flags);

// Tries an exclusive OFD lock on the whole of `fd`; false when another open
// file description holds one. The kernel drops it when the last descriptor
// of this description closes, a holder killed included.
bool tryLockExclusive(const char* kind, const std::string& name, int fd);
void unlock(int fd) noexcept;

}  // namespace Shm
