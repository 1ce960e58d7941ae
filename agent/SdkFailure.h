#pragma once
// What a failed table operation raised, for the per-line report. The table
// library's exceptions are caught by name: BfNotSupported, BfDuplicateEntry
// and BfTryAgain have a non-public base, so a handler for
// BfTable::BfTableException does not see them.

#include <exception>
#include <string>

#include "kiv/Kiv.h"

namespace NatAgent {

struct SdkFailure {
    std::string kind;     // the exception's class, e.g. "BfTableFull"
    Kiv::U32 status = 0;  // the SDK status, 0 when the failure carried none
    std::string message;
    bool tryAgain = false;

    // "BfTableFull (status 9): <message>"
    std::string text() const;
};

// Classifies the exception being handled; call from inside a catch block.
SdkFailure currentFailure();

}  // namespace NatAgent
