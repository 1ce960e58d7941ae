#pragma once
// The restart half of the demo: resync from the shared-memory records while
// the simulator counts the calls, check every entry against the demo plan and that
// the resync wrote nothing to the chip, then audit.

#include "Options.h"

namespace NatAgent {

int verifyDemo(const Options& options);

}  // namespace NatAgent
