#include <array>
#include <mutex>
#include <stdexcept>

#include "ChipIntercept.h"
#include "ChipTestHooks.h"

namespace Chip {

namespace Hooks {

std::atomic<bool> gArmed{false};

namespace {

constexpr std::size_t kCallCount = static_cast<std::size_t>(Call::Count);

struct Fault {
    uint32_t remaining = 0;
    Status status = kSuccess;
};

struct HookState {
    std::mutex mutex;
    bool logOn = false;
    std::vector<TestHooks::CallRecord> log;
    bool countingOn = false;
    TestHooks::CallCounts counts{};
    std::array<Fault, kCallCount> faults{};
    uint32_t faultsArmed = 0;  // calls with remaining > 0

    void rearm() {
        gArmed.store(logOn || countingOn || faultsArmed > 0, std::memory_order_relaxed);
    }
};

HookState& state() {
    static HookState instance;
    return instance;
}

struct Counter {
    std::atomic<uint64_t> live{0};
    std::atomic<uint64_t> total{0};
};

std::array<Counter, 3>& counters() {
    static std::array<Counter, 3> instance;
    return instance;
}

Call callByName(std::string_view function) {
    for (std::size_t i = 0; i < kCallCount; ++i) {
        if (kCallNames[i] == function) {
            return static_cast<Call>(i);
        }
    }
    throw std::invalid_argument("no chip call named " + std::string(function));
}

}  // namespace

void ArgText::separate(std::string_view name) {
    if (!out_.empty()) {
        out_ += ", ";
    }
    out_ += name;
    out_ += '=';
}

ArgText& ArgText::number(std::string_view name, uint64_t value) {
    separate(name);
    out_ += std::to_string(value);
    return *this;
}

ArgText& ArgText::text(std::string_view name, std::string_view value) {
    separate(name);
    out_ += value;
    return *this;
}

ArgText& ArgText::bytes(std::string_view name, const void* data, std::size_t size,
                        uint32_t paddingMask) {
    static constexpr char kHex[] = "0123456789abcdef";
    separate(name);
    out_ += '[';
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < size; ++i) {
        if (i != 0) {
            out_ += ' ';
        }
        if (paddingMask & (1u << i)) {
            out_ += "--";
        } else {
            out_ += kHex[bytes[i] >> 4];
            out_ += kHex[bytes[i] & 0xf];
        }
    }
    out_ += ']';
    return *this;
}

ArgText& ArgText::null(std::string_view name) {
    return text(name, "null");
}

ArgText& ArgText::optionalOut(std::string_view name, const void* pointer) {
    return text(name, pointer != nullptr ? "ptr" : "null");
}

ArgText& ArgText::openList(std::string_view name) {
    separate(name);
    out_ += '[';
    listEmpty_ = true;
    return *this;
}

ArgText& ArgText::item(std::string_view item) {
    if (!listEmpty_) {
        out_ += ' ';
    }
    out_ += item;
    listEmpty_ = false;
    return *this;
}

ArgText& ArgText::item(uint64_t id, uint64_t value) {
    return item(std::to_string(id) + ":" + std::to_string(value));
}

ArgText& ArgText::closeList() {
    out_ += ']';
    return *this;
}

Status interceptArmed(Call call, ArgWriter writer, const void* context) {
    HookState& s = state();
    std::lock_guard lock(s.mutex);
    if (s.logOn) {
        ArgText args;
        writer(context, args);
        s.log.push_back({std::string(callName(call)), args.take()});
    }
    if (s.countingOn) {
        ++s.counts[static_cast<std::size_t>(call)];
    }
    Fault& fault = s.faults[static_cast<std::size_t>(call)];
    if (fault.remaining == 0) {
        return kSuccess;
    }
    if (--fault.remaining == 0) {
        --s.faultsArmed;
        s.rearm();
    }
    return fault.status;
}

void objectCreated(ObjectKind kind) {
    Counter& c = counters()[static_cast<std::size_t>(kind)];
    c.live.fetch_add(1, std::memory_order_relaxed);
    c.total.fetch_add(1, std::memory_order_relaxed);
}

void objectDestroyed(ObjectKind kind) {
    counters()[static_cast<std::size_t>(kind)].live.fetch_sub(1, std::memory_order_relaxed);
}

}  // namespace Hooks

namespace TestHooks {

using Hooks::state;

void callLogEnable(bool on) {
    std::lock_guard lock(state().mutex);
    state().logOn = on;
    state().rearm();
}

bool callLogEnabled() {
    std::lock_guard lock(state().mutex);
    return state().logOn;
}

void callLogClear() {
    std::lock_guard lock(state().mutex);
    state().log.clear();
}

std::vector<CallRecord> callLog() {
    std::lock_guard lock(state().mutex);
    return state().log;
}

std::vector<std::string> callLogTexts() {
    std::vector<std::string> texts;
    for (const CallRecord& record : callLog()) {
        texts.push_back(record.text());
    }
    return texts;
}

void callCountingEnable(bool on) {
    std::lock_guard lock(state().mutex);
    if (on && !state().countingOn) {
        state().counts = {};
    }
    state().countingOn = on;
    state().rearm();
}

CallCounts callCounts() {
    std::lock_guard lock(state().mutex);
    return state().counts;
}

void faultIs(std::string_view function, uint32_t count, Status status) {
    if (status == kSuccess) {
        throw std::invalid_argument("an injected fault needs a non-zero status");
    }
    Call call = Hooks::callByName(function);
    auto& s = state();
    std::lock_guard lock(s.mutex);
    Hooks::Fault& fault = s.faults[static_cast<std::size_t>(call)];
    s.faultsArmed += (count > 0) - (fault.remaining > 0);
    fault = {count, status};
    s.rearm();
}

uint32_t faultsPending(std::string_view function) {
    Call call = Hooks::callByName(function);
    std::lock_guard lock(state().mutex);
    return state().faults[static_cast<std::size_t>(call)].remaining;
}

void faultsClear() {
    std::lock_guard lock(state().mutex);
    state().faults = {};
    state().faultsArmed = 0;
    state().rearm();
}

AllocationCounts allocationCounts() {
    auto read = [](Hooks::ObjectKind kind) {
        const Hooks::Counter& c = Hooks::counters()[static_cast<std::size_t>(kind)];
        return ObjectCounts{c.live.load(), c.total.load()};
    };
    return {read(Hooks::ObjectKind::Key), read(Hooks::ObjectKind::Data),
            read(Hooks::ObjectKind::Attributes)};
}

void reset() {
    std::lock_guard lock(state().mutex);
    state().logOn = false;
    state().log.clear();
    state().countingOn = false;
    state().counts = {};
    state().faults = {};
    state().faultsArmed = 0;
    state().rearm();
}

}  // namespace TestHooks

}  // namespace Chip
