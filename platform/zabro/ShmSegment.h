#pragma once
// Zabro::ShmSegment owns one mapping of a named POSIX shared-memory segment.
// The segment itself outlives the process; the object owns the mapping, and
// the name only while the segment it created is not yet initialised: a
// creator that fails half-way unlinks it, so a later process never finds a
// segment nobody finished writing.

#include <cstddef>

#include "kiv/Kiv.h"

namespace Zabro {

class ShmSegment {
  public:
    // Opens `name`, or creates it with `createSize` zero bytes when absent.
    // A found segment is mapped at its current size (unmapped when that is 0).
    static ShmSegment openOrCreate(const Dorvu::String& name, std::size_t createSize);
    // True when the name existed and is gone now.
    static bool unlink(const Dorvu::String& name);

    ShmSegment(ShmSegment&& other) noexcept;
    ShmSegment& operator=(ShmSegment&& other) noexcept;
    ShmSegment(const ShmSegment&) = delete;
    ShmSegment& operator=(const ShmSegment&) = delete;
    ~ShmSegment();

    const Dorvu::String& name() const noexcept { return name_; }
    std::byte* base() const noexcept { return base_; }
    std::size_t size() const noexcept { return size_; }
    bool created() const noexcept { return created_; }
    // The creator calls it once the segment is initialised; from then on the name stays.
    void keep() noexcept { unlinkOnDestroy_ = false; }

  private:
    ShmSegment(Dorvu::String name, std::byte* base, std::size_t size, bool created);
    void release() noexcept;

    Dorvu::String name_;
    std::byte* base_ = nullptr;
    std::size_t size_ = 0;
    bool created_ = false;
    bool unlinkOnDestroy_ = false;
};

}  // namespace Zabro
