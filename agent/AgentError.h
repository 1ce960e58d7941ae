#pragma once
// The agent's failures and the exit statuses they map to:
//   0 everything succeeded
//   1 an operation failed, or a difference or finding was reported
//   2 a command line or an input that cannot be understood
//   3 a device or state error: a missing device, a library that cannot be
//     loaded, key records that fail their check

#include <stdexcept>

namespace NatAgent {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitInput = 2;
inline constexpr int kExitState = 3;

// A device or state error; main reports its message and exits with 3.
class AgentError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// An input that cannot be used (unreadable file, bad lines); exit status 2.
class InputError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

}  // namespace NatAgent
