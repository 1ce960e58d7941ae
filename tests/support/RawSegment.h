#pragma once
// A read-write mapping of a shared-memory segment past every check, as a stray
// writer would have it, to damage segments.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <string>
#include <vector>

#include "shm/Fd.h"

namespace TestSupport {

class RawSegment {
  public:
    // Maps the existing segment `name`; unmapped (size 0) when there is none.
    explicit RawSegment(const std::string& name) : fd_(::shm_open(name.c_str(), O_RDWR, 0)) {
        struct stat st {};
        size_ = fd_.get() >= 0 && ::fstat(fd_.get(), &st) == 0 ? std::size_t(st.st_size) : 0;
        if (size_ > 0)
            base_ = static_cast<std::byte*>(
                ::mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_SHARED, fd_.get(), 0));
    }
    RawSegment(const RawSegment&) = delete;
    RawSegment& operator=(const RawSegment&) = delete;
    ~RawSegment() {
        if (base_)
            ::munmap(base_, size_);
    }

    std::size_t size() const noexcept { return size_; }
    std::byte* base() const noexcept { return base_; }
    std::vector<std::byte> bytes() const { return {base_, base_ + size_}; }
    template <class T>
    T& at(std::size_t offset) const {
        return *reinterpret_cast<T*>(base_ + offset);
    }
    // Changes the segment's size (the mapping keeps the old one).
    void truncate(std::size_t size) const {
        EXPECT_EQ(::ftruncate(fd_.get(), static_cast<off_t>(size)), 0);
    }

  private:
    Shm::Fd fd_;
    std::size_t size_ = 0;
    std::byte* base_ = nullptr;
};

}  // namespace TestSupport
