#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdio>

#include "TestMatchSpec.h"
#include "ZabroChild.h"
#include "ZabroTestSupport.h"

extern char** environ;

namespace ZabroTest {

int runChild(const std::vector<std::string>& args) {
    std::vector<std::string> all{"/proc/self/exe", kChildFlag};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid;
    if (::posix_spawn(&pid, "/proc/self/exe", nullptr, nullptr, argv.data(), environ) != 0) {
        return -1;
    }
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

// "write N BASE": allocates N keys, each with handle BASE + key.
// "count BASE": exits with the number of records whose handle is BASE + key.
int childMain(const std::vector<std::string>& args) {
    try {
        const auto keys = MbbZabroKey::zabroKeyManagerFactory(kDevice, kPipe);
        if (args.size() == 3 && args[0] == "write") {
            const int count = std::stoi(args[1]);
            const Kiv::U32 base = static_cast<Kiv::U32>(std::stoul(args[2]));
            for (int i = 0; i < count; ++i) {
                const auto key =
                    keys->alloc(BfnTableTest::TestMatchSpec::TestMatchSpecIs(i), false);
                keys->sdkEntryHandleIs(key, base + static_cast<Kiv::U32>(key));
            }
            return 0;
        }
        if (args.size() == 2 && args[0] == "count") {
            const Kiv::U32 base = static_cast<Kiv::U32>(std::stoul(args[1]));
            int matching = 0;
            Zabro::MbbPostcodef::EntryConfig cursor(0, 0, 0, 0, 0);
            Zabro::IterHint hint;
            const auto config = keys->mbbZabroTableConfig();
            for (bool found = config->first(cursor, hint); found;
                 found = config->next(cursor.key(), cursor, hint)) {
                if (cursor.handleSet() && cursor.sdkEntryHandle() == base + cursor.key()) {
                    ++matching;
                }
            }
            return matching;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "child: %s\n", e.what());
    }
    return 200;
}

}  // namespace ZabroTest

int main(int argc, char** argv) {
    ZabroTest::privateSegmentPrefixIs("zabrotest");
    if (argc >= 2 && std::string(argv[1]) == ZabroTest::kChildFlag) {
        return ZabroTest::childMain(std::vector<std::string>(argv + 2, argv + argc));
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
