// Process-wide map from device id to its open chip. PD functions and object-runtime
// calls only carry a device id; they reach the device's segment through here.
#pragma once

#include <cstdint>
#include <string>

#include "ChipDevice.h"

namespace Chip {

inline constexpr uint32_t kMaxDevices = 256;

// "/<prefix>_chip_dev<N>", prefix from OLVANE_SHM_PREFIX (default "olvane") so that
// parallel test processes each get their own chips.
std::string segmentName(uint32_t deviceId);

// Whether the device's segment exists; looking creates nothing.
bool exists(uint32_t deviceId);

// Opens the device, creating its segment with `capacity` entries when absent. Throws
// SegmentError for a segment that cannot be this chip, std::invalid_argument for a bad id.
Device& open(uint32_t deviceId, uint32_t capacity = kDefaultCapacity);

// The open device, opened (and created with the default capacity) on first use. Reports
// failure as a status for the C entry points: kInvalidArg for a bad id, kInitError for a
// segment that is refused (the reason goes to stderr).
Status device(uint32_t deviceId, Device** out) noexcept;

// Sessions, process-wide: handles 1 to kMaxSessions. sessionOpen opens the lowest
// free one (kMaxSessionsExceeded when none is free); sessionClose gives
// kSessionNotFound for a handle that is not open.
inline constexpr uint32_t kMaxSessions = 64;
Status sessionOpen(uint32_t* handle) noexcept;
Status sessionClose(uint32_t handle) noexcept;
bool sessionIsOpen(uint32_t handle) noexcept;

// Unmaps the device in this process, as if the process had stopped; the entries stay.
// Invalidates every Device reference to it.
void close(uint32_t deviceId);

// Unmaps the device and removes its segment: the chip is blank when next opened.
void wipe(uint32_t deviceId);

}  // namespace Chip
