#include "Trace.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

namespace Kiv {

namespace {

struct Setting {
    std::string name;
    int level;
};

struct TraceState {
    std::mutex mutex;
    std::vector<Setting> settings;  // from KIV_TRACE
    std::vector<TraceHandle*> handles;
    TraceHandle::Sink sink;
    int fd = STDERR_FILENO;

    TraceState() {
        if (const char* spec = std::getenv("KIV_TRACE"))
            parse(spec);
        if (const char* file = std::getenv("KIV_TRACE_FILE")) {
            // A symbolic link is not followed: it could point the lines of a
            // privileged process at any file.
            const int opened =
                ::open(file, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0644);
            if (opened >= 0) {
                fd = opened;
            } else {
                // Tracing must not stop the process, but the lines must not vanish unsaid.
                std::fprintf(
                    stderr, "kiv: cannot open KIV_TRACE_FILE %s: %s; tracing to stderr\n", file,
                    errno == ELOOP ? "a symbolic link, not followed" : std::strerror(errno));
            }
        }
    }
    ~TraceState() {
        if (fd != STDERR_FILENO)
            ::close(fd);
    }

    // Malformed items are skipped: tracing must never stop the process.
    void parse(std::string_view spec) {
        while (!spec.empty()) {
            const auto comma = spec.find(',');
            const std::string_view item = spec.substr(0, comma);
            spec = comma == std::string_view::npos ? std::string_view{} : spec.substr(comma + 1);
            const auto eq = item.find('=');
            if (eq == std::string_view::npos || eq == 0 || eq + 2 != item.size())
                continue;
            const char digit = item[eq + 1];
            if (digit < '0' || digit > '9')
                continue;
            settings.push_back({std::string(item.substr(0, eq)), digit - '0'});
        }
    }

    int levelFor(std::string_view name) const {
        int level = -1;
        for (const auto& s : settings) {
            if (s.name == name || s.name == "*")
                level = s.level;
        }
        return level;
    }
};

TraceState& state() {
    static TraceState* s = new TraceState;  // outlives handles destroyed at exit
    return *s;
}

}  // namespace

TraceHandle::TraceHandle(const char* name) : name_(name) {
    TraceState& s = state();
    std::lock_guard lock(s.mutex);
    maxLevel_.store(s.levelFor(name), std::memory_order_relaxed);
    s.handles.push_back(this);
}

TraceHandle::~TraceHandle() {
    TraceState& s = state();
    std::lock_guard lock(s.mutex);
    std::erase(s.handles, this);
}

void TraceHandle::write(int level, std::string_view line) const {
    TraceState& s = state();
    std::lock_guard lock(s.mutex);
    if (s.sink) {
        s.sink(*this, level, line);
        return;
    }
    // "2026-01-02T03:04:05.123456Z <pid> NAME[LEVEL]: text": lines of several
    // processes in one file stay apart and in time.
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    tm utc{};
    ::gmtime_r(&now.tv_sec, &utc);
    char stamp[64];
    const int stampLength =
        std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02dT%02d:%02d:%02d.%06ldZ %ld ",
                      utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min,
                      utc.tm_sec, now.tv_nsec / 1000, static_cast<long>(::getpid()));
    std::string out;
    out.reserve(line.size() + 96);
    out.append(stamp, static_cast<std::size_t>(stampLength));
    out.append(name_).append("[").append(std::to_string(level)).append("]: ").append(line);
    out.push_back('\n');
    // One write per line keeps lines whole when several processes share the file.
    [[maybe_unused]] const auto written = ::write(s.fd, out.data(), out.size());
}

void TraceHandle::sinkIs(Sink sink) {
    TraceState& s = state();
    std::lock_guard lock(s.mutex);
    s.sink = std::move(sink);
}

TraceHandle* TraceHandle::named(std::string_view name) {
    TraceState& s = state();
    std::lock_guard lock(s.mutex);
    for (TraceHandle* h : s.handles) {
        if (name == h->name())
            return h;
    }
    return nullptr;
}

}  // namespace Kiv
