#include "ShmSegment.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "ZabroException.h"

namespace Zabro {

namespace {

[[noreturn]] void fail(const Dorvu::String& name, const char* what, int error) {
    throw SegmentException(
        Kiv::_fmt("key segment %s: %s: %s", name.c_str(), what, std::strerror(error)));
}

// The descriptor is needed only until the segment is mapped.
class UniqueFd {
  public:
    explicit UniqueFd(int fd) noexcept : fd_(fd) {}
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    int get() const noexcept { return fd_; }

  private:
    int fd_;
};

std::byte* mapFd(const Dorvu::String& name, int fd, std::size_t size) {
    if (size == 0)
        return nullptr;
    void* base = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (base == MAP_FAILED)
        fail(name, "mmap", errno);
    return static_cast<std::byte*>(base);
}

}  // namespace

ShmSegment ShmSegment::openOrCreate(const Dorvu::String& name, std::size_t createSize) {
    // Another process may create or remove the name between our two opens; a
    // few rounds settle that race.
    for (int attempt = 0; attempt < 4; ++attempt) {
        UniqueFd created(::shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (created.get() >= 0) {
            ShmSegment segment(name, nullptr, 0, true);  // unlinks again if we fail below
            if (::ftruncate(created.get(), static_cast<off_t>(createSize)) != 0) {
                fail(name, "resize", errno);
            }
            segment.base_ = mapFd(name, created.get(), createSize);
            segment.size_ = createSize;
            return segment;
        }
        if (errno != EEXIST)
            fail(name, "create", errno);

        UniqueFd found(::shm_open(name.c_str(), O_RDWR | O_CLOEXEC, 0600));
        if (found.get() < 0) {
            if (errno == ENOENT)
                continue;
            fail(name, "open", errno);
        }
        struct stat st {};
        if (::fstat(found.get(), &st) != 0)
            fail(name, "size", errno);
        const auto size = static_cast<std::size_t>(st.st_size);
        return ShmSegment(name, mapFd(name, found.get(), size), size, false);
    }
    fail(name, "open", ENOENT);
}

bool ShmSegment::unlink(const Dorvu::String& name) {
    if (::shm_unlink(name.c_str()) == 0)
        return true;
    if (errno == ENOENT)
        return false;
    fail(name, "unlink", errno);
}

ShmSegment::ShmSegment(Dorvu::String name, std::byte* base, std::size_t size, bool created)
    : name_(std::move(name)),
      base_(base),
      size_(size),
      created_(created),
      unlinkOnDestroy_(created) {}

ShmSegment::ShmSegment(ShmSegment&& other) noexcept
    : name_(std::move(other.name_)),
      base_(std::exchange(other.base_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      created_(other.created_),
      unlinkOnDestroy_(std::exchange(other.unlinkOnDestroy_, false)) {}

ShmSegment& ShmSegment::operator=(ShmSegment&& other) noexcept {
    if (this != &other) {
        release();
        name_ = std::move(other.name_);
        base_ = std::exchange(other.base_, nullptr);
        size_ = std::exchange(other.size_, 0);
        created_ = other.created_;
        unlinkOnDestroy_ = std::exchange(other.unlinkOnDestroy_, false);
    }
    return *this;
}

ShmSegment::~ShmSegment() {
    release();
}

void ShmSegment::release() noexcept {
    if (base_)
        ::munmap(base_, size_);
    base_ = nullptr;
    size_ = 0;
    if (unlinkOnDestroy_)
        ::shm_unlink(name_.c_str());
    unlinkOnDestroy_ = false;
}

}  // namespace Zabro
