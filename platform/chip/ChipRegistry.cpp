#include "ChipRegistry.h"

#include <array>
#include <atomic>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>

namespace Chip {

namespace {

struct Registry {
    std::mutex mutex;  // guards opening and closing; lookups read `open` only
    std::array<std::unique_ptr<Device>, kMaxDevices> owned;
    std::array<std::atomic<Device*>, kMaxDevices> open{};
};

// Bit h - 1 is set while session h is open.
std::atomic<uint64_t> gOpenSessions{0};
static_assert(kMaxSessions == 64, "one bit per session in gOpenSessions");

Registry& registry() {
    static Registry instance;
    return instance;
}

void checkId(uint32_t deviceId) {
    if (deviceId >= kMaxDevices) {
        throw std::invalid_argument("chip device id " + std::to_string(deviceId) + " out of range");
    }
}

}  // namespace

std::string segmentName(uint32_t deviceId) {
    return Shm::Segment::nameOf("chip_dev" + std::to_string(deviceId));
}

bool exists(uint32_t deviceId) {
    return deviceId < kMaxDevices &&
           (registry().open[deviceId].load(std::memory_order_acquire) != nullptr ||
            Shm::Segment::exists(segmentName(deviceId)));
}

Device& open(uint32_t deviceId, uint32_t capacity) {
    checkId(deviceId);
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    if (r.owned[deviceId] == nullptr) {
        r.owned[deviceId] = Device::open(deviceId, segmentName(deviceId), capacity);
        r.open[deviceId].store(r.owned[deviceId].get(), std::memory_order_release);
    }
    return *r.owned[deviceId];
}

Status device(uint32_t deviceId, Device** out) noexcept {
    if (deviceId >= kMaxDevices) {
        return kInvalidArg;
    }
    Device* found = registry().open[deviceId].load(std::memory_order_acquire);
    if (found != nullptr) [[likely]] {
        *out = found;
        return kSuccess;
    }
    try {
        *out = &open(deviceId);
        return kSuccess;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "chip device %u: %s\n", deviceId, e.what());
        return kInitError;
    }
}

Status sessionOpen(uint32_t* handle) noexcept {
    uint64_t open = gOpenSessions.load(std::memory_order_relaxed);
    do {
        if (~open == 0) {
            return kMaxSessionsExceeded;
        }
        *handle = static_cast<uint32_t>(std::countr_one(open)) + 1;
    } while (!gOpenSessions.compare_exchange_weak(open, open | uint64_t{1} << (*handle - 1),
                                                  std::memory_order_acq_rel));
    return kSuccess;
}

Status sessionClose(uint32_t handle) noexcept {
    if (!sessionIsOpen(handle)) {
        return kSessionNotFound;
    }
    gOpenSessions.fetch_and(~(uint64_t{1} << (handle - 1)), std::memory_order_acq_rel);
    return kSuccess;
}

bool sessionIsOpen(uint32_t handle) noexcept {
    return handle - 1 < kMaxSessions &&
           (gOpenSessions.load(std::memory_order_acquire) >> (handle - 1) & 1) != 0;
}

void close(uint32_t deviceId) {
    checkId(deviceId);
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    r.open[deviceId].store(nullptr, std::memory_order_release);
    r.owned[deviceId].reset();
}

void wipe(uint32_t deviceId) {
    close(deviceId);
    try {
        Shm::Segment::unlink("chip segment", segmentName(deviceId));
    } catch (const Shm::Error& e) {
        throw SegmentError(e.what());
    }
}

}  // namespace Chip
