#pragma once
// Fixed-width value types and the string type shared by the runtime and its users.

#include <cstdint>
#include <string>

namespace Dorvu {
using String = std::string;
using U8 = std::uint8_t;
using U16 = std::uint16_t;
using U32 = std::uint32_t;
using U64 = std::uint64_t;
}  // namespace Dorvu

namespace Kiv {
using Dorvu::String;
using Dorvu::U16;
using Dorvu::U32;
using Dorvu::U64;
using Dorvu::U8;
// An opaque handle such as the one dlopen returns; never dereferenced by the runtime.
using VoidPtr = void*;
}  // namespace Kiv
