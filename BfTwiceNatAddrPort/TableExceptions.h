#pragma once
// SDK status codes, their texts, the table exception family and the three
// checks that turn a failed status into an exception at its call site.
//
// BfNotSupported, BfDuplicateEntry and BfTryAgain derive non-publicly from
// BfTableException: a handler for BfTableException does not catch them, a
// handler must name them. They re-expose the base's accessors so that such a
// handler can still read the status and the message.

#include <cstdint>

#include "Export.h"
#include "kiv/Kiv.h"

namespace BfTable {

class BF_TWICE_NAT_ADDR_PORT_API BfTableException : public Kiv::InternalException {
  public:
    BfTableException(const Dorvu::String& message, Kiv::U32 status)
        : Kiv::InternalException(message), status_(status) {}
    Kiv::U32 status() const noexcept { return status_; }

  private:
    Kiv::U32 status_;
};

class BF_TWICE_NAT_ADDR_PORT_API BfTableFull : public BfTableException {
  public:
    using BfTableException::BfTableException;
};

class BF_TWICE_NAT_ADDR_PORT_API BfNoSysResources : public BfTableException {
  public:
    using BfTableException::BfTableException;
};

#define BF_TABLE_HIDDEN_BASE_EXCEPTION(Class)                   \
    class BF_TWICE_NAT_ADDR_PORT_API Class : BfTableException { \
      public:                                                   \
        using BfTableException::BfTableException;               \
        using BfTableException::status;                         \
        using Dorvu::Exception::message;                        \
        using Kiv::Exception::what;                             \
        using Kiv::InternalException::name;                     \
    }

BF_TABLE_HIDDEN_BASE_EXCEPTION(BfNotSupported);
BF_TABLE_HIDDEN_BASE_EXCEPTION(BfDuplicateEntry);
BF_TABLE_HIDDEN_BASE_EXCEPTION(BfTryAgain);
#undef BF_TABLE_HIDDEN_BASE_EXCEPTION

}  // namespace BfTable

namespace BfTwiceNatAddrPort {

// SDK status code as returned by the PD functions and the BfRt calls.
using SdkStatus = std::int32_t;

// The text of a status; "Unknown error" for 27 and above (every negative code
// included, as the status is read unsigned).
BF_TWICE_NAT_ADDR_PORT_API const char* sdkStatusText(SdkStatus status) noexcept;

namespace detail {
[[noreturn]] BF_TWICE_NAT_ADDR_PORT_API void throwPdOperationStatus(SdkStatus status,
                                                                    const char* operation);
[[noreturn]] BF_TWICE_NAT_ADDR_PORT_API void throwBfRtOperationStatus(SdkStatus status,
                                                                      const char* operation);
[[noreturn]] BF_TWICE_NAT_ADDR_PORT_API void throwBfRtCallStatus(SdkStatus status);
}  // namespace detail

// After a PD function: "<operation>() failed: <text>"; 9 BfTableFull,
// 2 BfNoSysResources, 17 BfNotSupported, any other BfTableException.
inline void checkPdOperation(SdkStatus status, const char* operation) {
    if (__builtin_expect(status != 0, 0))
        detail::throwPdOperationStatus(status, operation);
}

// After a BfRt table operation: as the PD check, and 4 BfDuplicateEntry.
inline void checkBfRtOperation(SdkStatus status, const char* operation) {
    if (__builtin_expect(status != 0, 0))
        detail::throwBfRtOperationStatus(status, operation);
}

// After any other BfRt call: "BFRT call failed: <text>"; 10 BfTryAgain, any
// other BfTableException.
inline void checkBfRtCall(SdkStatus status) {
    if (__builtin_expect(status != 0, 0))
        detail::throwBfRtCallStatus(status);
}

}  // namespace BfTwiceNatAddrPort
