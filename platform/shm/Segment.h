#pragma once
// Shm::Segment owns one mapping of a named POSIX shared-memory segment that
// outlives the process: the key manager's key records and the simulated
// chip's table are such segments.
//
// Creation is safe against a kill at any point. Every segment starts with a
// 64-bit completion marker (its users' magic) that stays 0 until the creator
// has written everything else and calls markComplete() as its last store.
// While a creator works it holds an exclusive lock on the segment, which the
// kernel drops when it dies. An opener that finds the marker still 0 takes
// that lock before it looks again: a segment whose marker is still 0 once
// the lock is free was left half-made by a dead creator, and is cleared and
// handed out as a created one, so its owner initialises it again instead of
// refusing it forever.
//
// A found segment is foreign input until checked: it is opened without
// following a symbolic link and refused unless it is a regular file of the
// effective user that group and others cannot write, at least as large as
// its users' header. New segments are made with O_EXCL, mode 0600, and their
// space is reserved up front, so a full /dev/shm is an error here rather than
// a SIGBUS on a later store.

#include <cstddef>
#include <cstdint>
#include <string>

#include "shm/Fd.h"

namespace Shm {

class Segment {
  public:
    struct Shape {
        const char* kind;        // "key segment", "chip segment": names it in messages
        std::size_t headerSize;  // a found segment must hold at least this much
        std::size_t createSize;  // size of a new segment; 0 when the caller cannot create one
    };
    static constexpr std::size_t kMarkerSize = sizeof(std::uint64_t);

    // Maps the complete segment `name`, or creates it (zero-filled) when it is
    // absent or half-made. Throws Error when it cannot be created or is
    // refused, and when it would have to be created with createSize 0.
    static Segment openOrCreate(const std::string& name, const Shape& shape);
    // A private copy-on-write view of the complete segment `name`: reading it
    // costs what a shared mapping does, and stores to it stay in this process,
    // so a reader can run code that writes without racing the segment's
    // writer. The found segment gets the same checks as in openOrCreate. When
    // it is absent or still half-made, the view is zero-filled, createSize
    // bytes long, and reads as created; nothing is made under `name`.
    static Segment openSnapshot(const std::string& name, const Shape& shape);

    // "/<prefix>_<rest>", the prefix from OLVANE_SHM_PREFIX (default
    // "olvane"), so that parallel test processes each get their own names.
    static std::string nameOf(const std::string& rest);
    // True when something is named `name`; looking creates nothing.
    static bool exists(const std::string& name);
    // True when the name existed and is gone now.
    static bool unlink(const char* kind, const std::string& name);

    Segment() = default;
    Segment(Segment&& other) noexcept;
    Segment& operator=(Segment&& other) noexcept;
    Segment(const Segment&) = delete;
    Segment& operator=(const Segment&) = delete;
    ~Segment();

    const std::string& name() const noexcept { return name_; }
    std::byte* base() const noexcept { return base_; }
    std::size_t size() const noexcept { return size_; }
    // This object made the segment (or remade a half-made one) and the caller
    // must initialise it, ending with markComplete().
    bool created() const noexcept { return created_; }
    // The segment was found half-made and has been cleared for a new start.
    bool recreated() const noexcept { return recreated_; }
    // Stores `marker` (non-zero) as the segment's last creation step and lets
    // other openers in. A creator destroyed before that removes the name.
    void markComplete(std::uint64_t marker) noexcept;

  private:
    Segment(std::string name, Fd fd, std::byte* base, std::size_t size);
    // Maps the segment when its completion marker is set (refusing it when it
    // is smaller than a header); false when it is not complete.
    bool mapIfComplete(const Shape& shape, int mapFlags);
    void release() noexcept;

    std::string name_;
    Fd fd_;
    std::byte* base_ = nullptr;
    std::size_t size_ = 0;
    bool created_ = false;
    bool recreated_ = false;
    bool unlinkOnDestroy_ = false;
};

}  // namespace Shm
