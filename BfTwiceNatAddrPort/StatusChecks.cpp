// Status texts and the checks that raise the table exceptions.

#include "TableExceptions.h"

#include <array>

namespace BfTwiceNatAddrPort {

namespace {

constexpr std::array<const char*, 28> kStatusTexts = {
    "Success",
    "Not ready",
    "No system resources",
    "Invalid arguments",
    "Already exists",
    "HW access fails",
    "Object not found",
    "Max sessions exceeded",
    "Session not found",
    "Not enough space",
    "Resource temporarily not available, try again later",
    "Initialization error",
    "Not supported in transaction",
    "Resource held by another session",
    "IO error",
    "Unexpected error",
    "Action data entry is being referenced by match entries",
    "Operation not supported",
    "Updating hardware failed",
    "No learning clients registered",
    "Idle time update state already in progress",
    "Device locked",
    "Internal error",
    "Table not found",
    "In use",
    "Object not implemented",
    "Hardware entry not found",
    "Unknown error",
};

constexpr Kiv::U32 kNoSysResources = 2;
constexpr Kiv::U32 kAlreadyExists = 4;
constexpr Kiv::U32 kNotEnoughSpace = 9;
constexpr Kiv::U32 kTryAgain = 10;
constexpr Kiv::U32 kNotSupported = 17;

// The class rule shared by the two operation checks; only the BfRt one
// tells a duplicate apart.
[[noreturn]] void throwOperationStatus(SdkStatus status, const char* operation,
                                       bool duplicateIsDistinct) {
    const auto code = static_cast<Kiv::U32>(status);
    const Dorvu::String message = Kiv::_fmt("%s() failed: %s", operation, sdkStatusText(status));
    switch (code) {
        case kNotEnoughSpace:
            throw BfTable::BfTableFull(message, code);
        case kNoSysResources:
            throw BfTable::BfNoSysResources(message, code);
        case kNotSupported:
            throw BfTable::BfNotSupported(message, code);
        case kAlreadyExists:
            if (duplicateIsDistinct)
                throw BfTable::BfDuplicateEntry(message, code);
            break;
        default:
            break;
    }
    throw BfTable::BfTableException(message, code);
}

}  // namespace

const char* sdkStatusText(SdkStatus status) noexcept {
    const auto code = static_cast<Kiv::U32>(status);
    return kStatusTexts[code < kStatusTexts.size() - 1 ? code : kStatusTexts.size() - 1];
}

namespace detail {

void throwPdOperationStatus(SdkStatus status, const char* operation) {
    throwOperationStatus(status, operation, false);
}

void throwBfRtOperationStatus(SdkStatus status, const char* operation) {
    throwOperationStatus(status, operation, true);
}

void throwBfRtCallStatus(SdkStatus status) {
    const auto code = static_cast<Kiv::U32>(status);
    const Dorvu::String message = Kiv::_fmt("BFRT call failed: %s", sdkStatusText(status));
    if (code == kTryAgain)
        throw BfTable::BfTryAgain(message, code);
    throw BfTable::BfTableException(message, code);
}

}  // namespace detail

}  // namespace BfTwiceNatAddrPort
