// RAII owner of one POSIX shared-memory segment mapped into this process.
// The segment itself outlives the process; only the mapping and fd are owned.
#pragma once

#include <cstddef>
#include <string>

namespace Chip {

class SharedSegment {
  public:
    // Creates a new zero-filled segment of `size` bytes; throws if it already exists.
    static SharedSegment create(const std::string& name, std::size_t size);
    // Maps an existing segment at its current size; returns an unmapped segment if absent.
    static SharedSegment openExisting(const std::string& name);
    // Removes the name; processes that still map it keep their mapping. Absent is fine.
    static void unlink(const std::string& name);

    SharedSegment() = default;
    SharedSegment(SharedSegment&& other) noexcept;
    SharedSegment& operator=(SharedSegment&& other) noexcept;
    SharedSegment(const SharedSegment&) = delete;
    SharedSegment& operator=(const SharedSegment&) = delete;
    ~SharedSegment();

    bool mapped() const { return base_ != nullptr; }
    std::byte* base() const { return base_; }
    std::size_t size() const { return size_; }
    const std::string& name() const { return name_; }

  private:
    SharedSegment(std::string name, int fd, std::byte* base, std::size_t size);
    void release() noexcept;

    std::string name_;
    int fd_ = -1;
    std::byte* base_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace Chip
