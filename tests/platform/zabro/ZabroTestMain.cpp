#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "ZabroTestSupport.h"

int main(int argc, char** argv) {
    // Children inherit the prefix of the test process that spawned them.
    if (!std::getenv("OLVANE_SHM_PREFIX")) {
        const std::string prefix = "zabrotest" + std::to_string(::getpid());
        ::setenv("OLVANE_SHM_PREFIX", prefix.c_str(), 1);
    }
    if (argc >= 2 && std::string(argv[1]) == ZabroTest::kChildFlag) {
        return ZabroTest::childMain(std::vector<std::string>(argv + 2, argv + argc));
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
