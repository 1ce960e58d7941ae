// Listing the entries of one scope of a device, default entries excluded, in record
// order: what the PD listing functions and the table object's listing calls share.
#pragma once

#include <cstdint>
#include <vector>

#include "ChipDevice.h"

namespace Chip {

inline Status firstEntryHandle(const Device& device, uint16_t pipe, uint32_t* handle) {
    if (handle == nullptr) {
        return kInvalidArg;
    }
    return device.entryHandlesAfter(pipe, 0, 1, handle) == 1 ? kSuccess : kObjectNotFound;
}

// Up to `n` handles of the entries after `handle`; kObjectNotFound when `handle` names
// no entry of the scope. Walks on from `handle`, so that listing a table in
// pieces reads each record once.
inline Status nextEntryHandles(const Device& device, uint16_t pipe, uint32_t handle, uint32_t n,
                               uint32_t* next, uint32_t* returned) {
    if ((next == nullptr && n > 0) || returned == nullptr) {
        return kInvalidArg;
    }
    if (!device.listedEntry(pipe, handle)) {
        return kObjectNotFound;
    }
    *returned = device.entryHandlesAfter(pipe, handle, n, next);
    return kSuccess;
}

}  // namespace Chip
