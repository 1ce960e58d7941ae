#pragma once
// A failure of the agent's own (a library that cannot be loaded, a device
// that cannot be set up): main reports its message and exits with 1.

#include <stdexcept>

namespace NatAgent {

class AgentError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

}  // namespace NatAgent
