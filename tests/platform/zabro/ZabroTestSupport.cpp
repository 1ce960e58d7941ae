#include "ZabroTestSupport.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

#include "TestMatchSpec.h"

extern char** environ;

namespace ZabroTest {

RawSegment::RawSegment(const std::string& name) : name_(name) {
    const int fd = ::shm_open(name.c_str(), O_RDWR, 0600);
    if (fd < 0)
        throw std::runtime_error("cannot open " + name);
    struct stat st {};
    ::fstat(fd, &st);
    size_ = static_cast<std::size_t>(st.st_size);
    void* base =
        size_ ? ::mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0) : nullptr;
    ::close(fd);
    if (base == MAP_FAILED)
        throw std::runtime_error("cannot map " + name);
    base_ = static_cast<std::byte*>(base);
}

RawSegment::~RawSegment() {
    if (base_)
        ::munmap(base_, size_);
}

void RawSegment::truncate(std::size_t size) const {
    const int fd = ::shm_open(name_.c_str(), O_RDWR, 0600);
    if (fd < 0 || ::ftruncate(fd, static_cast<off_t>(size)) != 0) {
        throw std::runtime_error("cannot resize " + name_);
    }
    ::close(fd);
}

bool segmentExists(const std::string& name) {
    const int fd = ::shm_open(name.c_str(), O_RDONLY, 0600);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

std::vector<Kiv::U64> KeySegmentTest::walkKeys(const Zabro::MbbZabroTableConfig& config) {
    std::vector<Kiv::U64> keys;
    Zabro::MbbPostcodef::EntryConfig cursor(0, 0, 0, 0, 0);
    Zabro::IterHint hint;
    for (bool found = config.first(cursor, hint); found;
         found = config.next(cursor.key(), cursor, hint)) {
        keys.push_back(cursor.key());
    }
    return keys;
}

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
