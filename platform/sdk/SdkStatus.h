// Status codes returned by every PD function and object-runtime call. 0 is
// success; the numbering is the SDK's and is shared with the table library.
#pragma once

#include <cstdint>

namespace SdkStatus {

using Status = int32_t;

inline constexpr Status kSuccess = 0;
inline constexpr Status kNoSysResources = 2;
inline constexpr Status kInvalidArg = 3;
inline constexpr Status kAlreadyExists = 4;
inline constexpr Status kHwAccessFails = 5;
inline constexpr Status kObjectNotFound = 6;
inline constexpr Status kMaxSessionsExceeded = 7;
inline constexpr Status kSessionNotFound = 8;
inline constexpr Status kNoSpace = 9;
inline constexpr Status kTryAgain = 10;
inline constexpr Status kInitError = 11;
inline constexpr Status kNotSupported = 17;

}  // namespace SdkStatus
