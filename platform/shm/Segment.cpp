#include "Segment.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace Shm {

namespace {

// A creator holds the creation lock only while it fills a new segment.
constexpr auto kCreationWait = std::chrono::seconds(5);

void waitForCreationLock(const char* kind, const std::string& name, int fd) {
    const auto deadline = std::chrono::steady_clock::now() + kCreationWait;
    while (!tryLockExclusive(kind, name, fd)) {
        if (std::chrono::steady_clock::now() > deadline)
            throwRefused(kind, name, "another process has been creating it for over 5 s");
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

std::uint64_t completionMarker(const char* kind, const std::string& name, int fd,
                               std::size_t size) {
    std::uint64_t marker = 0;
    if (size >= Segment::kMarkerSize && ::pread(fd, &marker, sizeof marker, 0) != sizeof marker)
        throwSystemError(kind, name, "read", errno);
    return marker;
}

// Populated up front: an opener reads every page anyway, and one call maps
// them all for less than a fault per page.
std::byte* mapFd(const char* kind, const std::string& name, int fd, std::size_t size,
                 int mapFlags = MAP_SHARED) {
    void* base = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, mapFlags | MAP_POPULATE, fd, 0);
    if (base == MAP_FAILED)
        throwSystemError(kind, name, "mmap", errno);
    return static_cast<std::byte*>(base);
}

}  // namespace

Segment Segment::openOrCreate(const std::string& name, const Shape& shape) {
    const char* kind = shape.kind;
    // Another process may create or remove the name between our two opens; a
    // few rounds settle that race.
    for (int attempt = 0; attempt < 4; ++attempt) {
        Fd fd = openChecked(kind, name, O_RDWR | O_CREAT | O_EXCL);
        const bool madeName = fd.valid();
        if (!madeName) {
            fd = openChecked(kind, name, O_RDWR);
            if (!fd.valid())
                continue;
        }
        Segment segment(name, std::move(fd), nullptr, 0);
        const int raw = segment.fd_.get();
        // A complete segment needs no lock: its marker is its creator's last store.
        if (!madeName && segment.mapIfComplete(shape, MAP_SHARED))
            return segment;
        if (madeName && ::fchmod(raw, 0600) != 0)
            throwSystemError(kind, name, "chmod", errno);
        waitForCreationLock(kind, name, raw);
        if (segment.mapIfComplete(shape, MAP_SHARED)) {  // its creator finished meanwhile
            unlock(raw);
            return segment;
        }
        // New, or left half-made by a creator that died: (re)create it.
        if (shape.createSize < std::max(shape.headerSize, kMarkerSize))
            throwRefused(kind, name, "it does not exist, and no size to create it was given");
        segment.unlinkOnDestroy_ = true;
        segment.recreated_ = !madeName;
        if (::ftruncate(raw, 0) != 0)
            throwSystemError(kind, name, "clear", errno);
        if (const int error = ::posix_fallocate(raw, 0, static_cast<off_t>(shape.createSize))) {
            const std::string what = "reserve " + std::to_string(shape.createSize) + " bytes";
            throwSystemError(kind, name, what.c_str(), error);
        }
        segment.base_ = mapFd(kind, name, raw, shape.createSize);
        segment.size_ = shape.createSize;
        segment.created_ = true;
        return segment;
    }
    throwSystemError(kind, name, "open", ENOENT);
}

Segment Segment::openSnapshot(const std::string& name, const Shape& shape) {
    // MAP_PRIVATE needs no write access to the object itself.
    Segment segment(name, openChecked(shape.kind, name, O_RDONLY), nullptr, 0);
    if (segment.fd_.valid() && segment.mapIfComplete(shape, MAP_PRIVATE))
        return segment;
    if (shape.createSize < std::max(shape.headerSize, kMarkerSize))
        throwRefused(shape.kind, name, "it does not exist, and no size to create it was given");
    segment.fd_.reset();
    segment.base_ = mapFd(shape.kind, name, -1, shape.createSize, MAP_PRIVATE | MAP_ANONYMOUS);
    segment.size_ = shape.createSize;
    segment.created_ = true;
    return segment;
}

bool Segment::mapIfComplete(const Shape& shape, int mapFlags) {
    const int raw = fd_.get();
    struct stat st {};
    if (::fstat(raw, &st) != 0)
        throwSystemError(shape.kind, name_, "fstat", errno);
    const auto size = static_cast<std::size_t>(st.st_size);
    if (completionMarker(shape.kind, name_, raw, size) == 0)
        return false;
    if (size < shape.headerSize) {
        throwRefused(shape.kind, name_,
                     "size " + std::to_string(size) + " is smaller than a header (" +
                         std::to_string(shape.headerSize) + " bytes)");
    }
    base_ = mapFd(shape.kind, name_, raw, size, mapFlags);
    size_ = size;
    return true;
}

std::string Segment::nameOf(const std::string& rest) {
    const char* prefix = std::getenv("OLVANE_SHM_PREFIX");
    return "/" + std::string(prefix != nullptr && *prefix != '\0' ? prefix : "olvane") + "_" + rest;
}

bool Segment::exists(const std::string& name) {
    // A name that cannot be opened for another reason exists: opening it
    // later says why it is refused.
    const Fd fd(::shm_open(name.c_str(), O_RDONLY | O_NOFOLLOW, 0));
    return fd.valid() || errno != ENOENT;
}

bool Segment::unlink(const char* kind, const std::string& name) {
    if (::shm_unlink(name.c_str()) == 0)
        return true;
    if (errno == ENOENT)
        return false;
    throwSystemError(kind, name, "unlink", errno);
}

Segment::Segment(std::string name, Fd fd, std::byte* base, std::size_t size)
    : name_(std::move(name)), fd_(std::move(fd)), base_(base), size_(size) {}

Segment::Segment(Segment&& other) noexcept
    : name_(std::move(other.name_)),
      fd_(std::move(other.fd_)),
      base_(std::exchange(other.base_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      created_(other.created_),
      recreated_(other.recreated_),
      unlinkOnDestroy_(std::exchange(other.unlinkOnDestroy_, false)) {}

Segment& Segment::operator=(Segment&& other) noexcept {
    if (this != &other) {
        release();
        name_ = std::move(other.name_);
        fd_ = std::move(other.fd_);
        base_ = std::exchange(other.base_, nullptr);
        size_ = std::exchange(other.size_, 0);
        created_ = other.created_;
        recreated_ = other.recreated_;
        unlinkOnDestroy_ = std::exchange(other.unlinkOnDestroy_, false);
    }
    return *this;
}

Segment::~Segment() {
    release();
}

void Segment::markComplete(std::uint64_t marker) noexcept {
    std::atomic_ref<std::uint64_t>(*reinterpret_cast<std::uint64_t*>(base_))
        .store(marker, std::memory_order_release);
    if (fd_.valid())
        unlock(fd_.get());
    unlinkOnDestroy_ = false;
}

void Segment::release() noexcept {
    if (base_)
        ::munmap(base_, size_);
    base_ = nullptr;
    size_ = 0;
    if (unlinkOnDestroy_)
        ::shm_unlink(name_.c_str());
    unlinkOnDestroy_ = false;
    fd_.reset();
}

}  // namespace Shm
