// Listing the entries of one scope of a device, default entries excluded, in record
// order: what the PD listing functions and the table object's listing calls share.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "ChipDevice.h"

namespace Chip {

inline Status firstEntryHandle(const Device& device, uint16_t pipe, uint32_t* handle) {
    if (handle == nullptr) {
        return kInvalidArg;
    }
    const std::vector<uint32_t> handles = device.entryHandles(pipe);
    if (handles.empty()) {
        return kObjectNotFound;
    }
    *handle = handles.front();
    return kSuccess;
}

// Up to `n` handles of the entries after `handle`; kObjectNotFound when `handle` names
// no entry of the scope.
inline Status nextEntryHandles(const Device& device, uint16_t pipe, uint32_t handle, uint32_t n,
                               uint32_t* next, uint32_t* returned) {
    if ((next == nullptr && n > 0) || returned == nullptr) {
        return kInvalidArg;
    }
    const std::vector<uint32_t> handles = device.entryHandles(pipe);
    const auto at = std::find(handles.begin(), handles.end(), handle);
    if (at == handles.end()) {
        return kObjectNotFound;
    }
    const auto count = std::min<std::size_t>(n, static_cast<std::size_t>(handles.end() - at - 1));
    std::copy_n(at + 1, count, next);
    *returned = static_cast<uint32_t>(count);
    return kSuccess;
}

}  // namespace Chip
