#pragma once
// This suite runs its own binary as a second process, to show that records
// outlive the process that wrote them.

#include <string>
#include <vector>

namespace ZabroTest {

inline constexpr const char* kChildFlag = "--zabro-child";

// Runs this test binary as a child with `args` after the child flag; returns
// its exit status, or -1 when it could not run or did not exit.
int runChild(const std::vector<std::string>& args);
// Handles a child invocation; returns the exit status.
int childMain(const std::vector<std::string>& args);

}  // namespace ZabroTest
