#pragma once
// Applies steps to the table, one table operation each, and keeps the
// agent's side in step: the key manager learns the handle of every entry
// installed and frees the key of every entry deleted, the entry book follows
// the table. A failed operation changes none of them.

#include <cstdint>
#include <optional>

#include "AgentDevice.h"
#include "Plan.h"
#include "SdkFailure.h"

namespace NatAgent {

struct ProgramCounts {
    std::uint64_t added = 0;
    std::uint64_t modified = 0;
    std::uint64_t deleted = 0;
    std::uint64_t defaults = 0;
    std::uint64_t failed = 0;
    std::uint64_t retried = 0;
};

class Programmer {
  public:
    // An operation refused with BfTryAgain is repeated up to `retries` times.
    Programmer(AgentDevice& device, unsigned retries);

    // Nothing on success, else what the table raised.
    std::optional<SdkFailure> apply(const Step& step);
    const ProgramCounts& counts() const noexcept { return counts_; }

  private:
    void perform(const Step& step);
    void install(const MatchPtr& match, const ActionPtr& action);
    void remove(const MatchPtr& match);
    void resetDefault();
    void recordHandle(const MatchPtr& match);
    void forgetRestoredDefault();

    AgentDevice& device_;
    Table& table_;
    unsigned retries_;
    ProgramCounts counts_;
};

}  // namespace NatAgent
