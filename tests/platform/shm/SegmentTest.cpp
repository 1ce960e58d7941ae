// Segments: made private and reserved, found only when they are the effective user's
// own, and made anew when their creator died half-way. The writer lock: one holder at a
// time across processes, named when it refuses, and free again as soon as its holder is
// killed (its lock file's checks are the segments' own, one open for both).

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <optional>
#include <thread>

#include "shm/Segment.h"
#include "shm/WriterLock.h"
#include "support/ChildProcess.h"

namespace {

using Shm::Segment;
using Shm::WriterLock;

std::string privateName(const char* what) {
    return "/shmtest" + std::to_string(::getpid()) + "_" + what;
}

// Runs `setUp` in a forked child, which then reports, runs `then` and sleeps until
// killed; the constructor returns once the child has reported.
class Child : public TestSupport::ChildProcess {
  public:
    explicit Child(const std::function<void()>& setUp, const std::function<void()>& then = {})
        : ChildProcess([&](int reports) {
              setUp();
              TestSupport::report(reports, '\1');
              if (then)
                  then();
              for (;;) ::pause();
          }) {
        char ready = 0;
        EXPECT_TRUE(read(ready)) << "the child died in its set-up";
    }
    void kill() {
        ChildProcess::kill();
        wait();
    }
};

// What `step` threw as a shared-memory error; "" when it threw nothing.
template <class Step>
std::string refusal(Step&& step) {
    try {
        step();
    } catch (const Shm::Error& e) {
        return e.what();
    }
    return "";
}

// What a child process made, kept until the child is killed.
template <class T>
T& childKept() {
    static T kept;
    return kept;
}

constexpr std::uint64_t kMarker = 0x1122334455667788ull;

class SegmentTest : public ::testing::Test {
  protected:
    SegmentTest() { Segment::unlink("segment", name); }
    ~SegmentTest() override { Segment::unlink("segment", name); }

    static Segment open(std::size_t createSize = 4096) {
        return Segment::openOrCreate(name, {"test segment", 64, createSize});
    }
    static void makeComplete() { open().markComplete(kMarker); }

    inline static const std::string name = privateName("segment");
};

TEST_F(SegmentTest, CreatesPrivateReservedSegmentsThatCountOnlyOnceComplete) {
    const mode_t savedMask = ::umask(0);
    {
        Segment segment = open();
        ::umask(savedMask);
        EXPECT_TRUE(segment.created());
        EXPECT_FALSE(segment.recreated());
        struct stat st {};
        ASSERT_EQ(::stat(("/dev/shm" + name).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0600u) << "whatever the umask";
        EXPECT_EQ(st.st_size, 4096);
        EXPECT_GE(st.st_blocks * 512, 4096) << "the space is reserved up front";
    }
    EXPECT_FALSE(Segment::unlink("segment", name)) << "a creator that gave up removes the name";
    makeComplete();
    const Segment found = open(8192);
    EXPECT_FALSE(found.created());
    EXPECT_EQ(found.size(), 4096u);
    std::uint64_t marker = 0;
    std::memcpy(&marker, found.base(), sizeof marker);
    EXPECT_EQ(marker, kMarker);
}

TEST_F(SegmentTest, ForeignOrDamagedSegmentsAreRefusedAndLeftInPlace) {
    const struct {
        const char* why;
        bool onSegment;  // done to a complete segment rather than to a free name
        int (*make)(const char* path);
    } cases[] = {
        {"symbolic link", false, [](const char* p) { return ::symlink("/dev/shm/elsewhere", p); }},
        {"group or others", true, [](const char* p) { return ::chmod(p, 0660); }},
        {"group or others", true, [](const char* p) { return ::chmod(p, 0602); }},
        {"not a regular file", false, [](const char* p) { return ::mkfifo(p, 0600); }},
        {"smaller than a header", true, [](const char* p) { return ::truncate(p, 32); }},
        {"belongs to uid 65534", true, [](const char* p) { return ::chown(p, 65534, 65534); }},
    };
    const std::string path = "/dev/shm" + name;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        ::unlink(path.c_str());
        if (c.onSegment)
            makeComplete();
        if (c.make(path.c_str()) != 0) {
            EXPECT_EQ(errno, EPERM) << "only changing the owner may need root";
            continue;
        }
        const std::string message = refusal([] { open(); });
        EXPECT_NE(message.find(name + " refused: "), std::string::npos) << message;
        EXPECT_NE(message.find(c.why), std::string::npos) << message;
        struct stat st {};
        EXPECT_EQ(::lstat(path.c_str(), &st), 0) << "left where it was";
    }
    ::unlink(path.c_str());
}

TEST_F(SegmentTest, HalfMadeSegmentIsMadeAnewButALiveCreatorIsWaitedFor) {
    {
        Child creator([] { childKept<Segment>() = open(1024); });  // killed before markComplete
        creator.kill();
        Segment remade = open(4096);
        EXPECT_TRUE(remade.created());
        EXPECT_TRUE(remade.recreated());
        EXPECT_EQ(remade.size(), 4096u);
        remade.markComplete(kMarker);
    }
    Segment::unlink("segment", name);
    Child slowCreator([] { childKept<Segment>() = open(2048); },
                      [] {
                          std::this_thread::sleep_for(std::chrono::milliseconds(200));
                          childKept<Segment>().markComplete(kMarker);
                      });
    const Segment found = open(4096);
    EXPECT_FALSE(found.created()) << "the live creator's segment was kept";
    EXPECT_EQ(found.size(), 2048u);
}

TEST_F(SegmentTest, FullShmIsAClearErrorAtCreationAndLeavesNoName) {
    TestSupport::ChildProcess child([](int) {
        ::signal(SIGXFSZ, SIG_IGN);
        const struct rlimit limit { 4096, 4096 };
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const std::string message = refusal([] { open(1 << 20); });
        const bool named = message.find(name + ": reserve 1048576 bytes: ") != std::string::npos;
        ::_exit(named && !Segment::unlink("segment", name) ? 0 : 1);
    });
    EXPECT_EQ(child.exitCode(), 0);
}

const std::string kName = privateName("writer");

TEST(WriterLockTest, SecondWriterIsRefusedWithTheHoldersPidUntilTheHolderIsKilled) {
    const auto tryLock = [] { WriterLock::acquire(kName, 0); };
    Child holder([] { childKept<WriterLock>() = WriterLock::acquire(kName, 0); });
    const std::string message = refusal(tryLock);
    EXPECT_NE(message.find(kName), std::string::npos) << message;
    EXPECT_NE(message.find("held by pid " + std::to_string(holder.pid())), std::string::npos)
        << message;
    holder.kill();
    std::optional<WriterLock> mine(WriterLock::acquire(kName, 0));
    EXPECT_TRUE(mine->held());
    EXPECT_NE(refusal(tryLock).find("held by pid " + std::to_string(::getpid())), std::string::npos)
        << "a second open in the holder's own process is refused too";
    mine.reset();
    // A waiting writer gets the lock once the holder dies.
    Child next([] { childKept<WriterLock>() = WriterLock::acquire(kName, 0); },
               [] {
                   std::this_thread::sleep_for(std::chrono::milliseconds(200));
                   ::_exit(0);
               });
    EXPECT_TRUE(WriterLock::acquire(kName, 10).held());
    ::shm_unlink(kName.c_str());
}

}  // namespace
