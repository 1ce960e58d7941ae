#pragma once
// Named trace handles with levels 0 to 9. A level that is off costs one
// predictable branch at the call site (KIV_TRACE); the message is built only
// when the level is on.
//
// Levels are switched on per handle by the environment variable KIV_TRACE,
// read once when the first handle is created: a comma-separated list of
// NAME=LEVEL, where LEVEL 0..9 switches on every level up to it and NAME may
// be '*' for every handle (e.g. KIV_TRACE=BfTwiceNatAddrPort=9,Chip=3). Lines
// go to stderr, or appended to the file named by KIV_TRACE_FILE, one line each.

#include <atomic>
#include <functional>
#include <sstream>
#include <string_view>

#include "Types.h"

namespace Kiv {

class TraceHandle {
  public:
    static constexpr int kMaxLevel = 9;
    using Sink = std::function<void(const TraceHandle&, int level, std::string_view line)>;

    explicit TraceHandle(const char* name);
    ~TraceHandle();
    TraceHandle(const TraceHandle&) = delete;
    TraceHandle& operator=(const TraceHandle&) = delete;

    const char* name() const noexcept { return name_; }
    bool enabled(int level) const noexcept {
        return level <= maxLevel_.load(std::memory_order_relaxed);
    }
    // Switches on every level up to `maxLevel`; -1 switches the handle off.
    void levelIs(int maxLevel) noexcept { maxLevel_.store(maxLevel, std::memory_order_relaxed); }
    int level() const noexcept { return maxLevel_.load(std::memory_order_relaxed); }

    // Writes one line, whatever the level's state (callers check `enabled`).
    void write(int level, std::string_view line) const;

    // Redirects every handle's lines (tests); an empty sink restores the default.
    static void sinkIs(Sink sink);
    static TraceHandle* named(std::string_view name);

  private:
    const char* name_;
    std::atomic<int> maxLevel_{-1};
};

}  // namespace Kiv

#define KIV_TRACE(handle, level, message)                   \
    do {                                                    \
        if (__builtin_expect((handle).enabled(level), 0)) { \
            std::ostringstream kivTraceLine_;               \
            kivTraceLine_ << message;                       \
            (handle).write((level), kivTraceLine_.str());   \
        }                                                   \
    } while (0)
