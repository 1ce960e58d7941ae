#include "SharedSegment.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace Chip {

namespace {

[[noreturn]] void fail(const std::string& name, const char* what) {
    throw std::runtime_error("shared memory segment " + name + ": " + what + ": " +
                             std::strerror(errno));
}

std::byte* mapFd(const std::string& name, int fd, std::size_t size) {
    void* base = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (base == MAP_FAILED) {
        int saved = errno;
        ::close(fd);
        errno = saved;
        fail(name, "mmap");
    }
    return static_cast<std::byte*>(base);
}

}  // namespace

SharedSegment SharedSegment::create(const std::string& name, std::size_t size) {
    int fd = ::shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    if (fd < 0) {
        fail(name, "create");
    }
    if (::ftruncate(fd, static_cast<off_t>(size)) != 0) {
        int saved = errno;
        ::close(fd);
        ::shm_unlink(name.c_str());
        errno = saved;
        fail(name, "resize");
    }
    return SharedSegment(name, fd, mapFd(name, fd, size), size);
}

SharedSegment SharedSegment::openExisting(const std::string& name) {
    int fd = ::shm_open(name.c_str(), O_RDWR, 0600);
    if (fd < 0) {
        if (errno == ENOENT) {
            return SharedSegment();
        }
        fail(name, "open");
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || st.st_size <= 0) {
        int saved = errno;
        ::close(fd);
        errno = saved;
        fail(name, "empty or unreadable size");
    }
    auto size = static_cast<std::size_t>(st.st_size);
    return SharedSegment(name, fd, mapFd(name, fd, size), size);
}

void SharedSegment::unlink(const std::string& name) {
    if (::shm_unlink(name.c_str()) != 0 && errno != ENOENT) {
        fail(name, "unlink");
    }
}

SharedSegment::SharedSegment(std::string name, int fd, std::byte* base, std::size_t size)
    : name_(std::move(name)), fd_(fd), base_(base), size_(size) {}

SharedSegment::SharedSegment(SharedSegment&& other) noexcept
    : name_(std::move(other.name_)),
      fd_(std::exchange(other.fd_, -1)),
      base_(std::exchange(other.base_, nullptr)),
      size_(std::exchange(other.size_, 0)) {}

SharedSegment& SharedSegment::operator=(SharedSegment&& other) noexcept {
    if (this != &other) {
        release();
        name_ = std::move(other.name_);
        fd_ = std::exchange(other.fd_, -1);
        base_ = std::exchange(other.base_, nullptr);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

SharedSegment::~SharedSegment() {
    release();
}

void SharedSegment::release() noexcept {
    if (base_ != nullptr) {
        ::munmap(base_, size_);
        base_ = nullptr;
    }
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

}  // namespace Chip
