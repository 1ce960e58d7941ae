// Segments: made private and reserved, found only when they are the
// effective user's own, and made anew when their creator died half-way.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "ShmTestSupport.h"
#include "shm/Segment.h"

namespace ShmTest {
namespace {

using Shm::Segment;

constexpr std::uint64_t kMarker = 0x1122334455667788ull;

class SegmentTest : public ::testing::Test {
  protected:
    SegmentTest() { Segment::unlink("segment", name); }
    ~SegmentTest() override { Segment::unlink("segment", name); }

    static Segment open(std::size_t createSize = 4096) {
        return Segment::openOrCreate(name, {"test segment", 64, createSize});
    }
    static void makeComplete() { open().markComplete(kMarker); }
    static std::string refusal(std::size_t createSize = 4096) {
        try {
            open(createSize);
        } catch (const Shm::Error& e) {
            return e.what();
        }
        return "";
    }

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
        const std::string message = refusal();
        EXPECT_NE(message.find(name + " refused: "), std::string::npos) << message;
        EXPECT_NE(message.find(c.why), std::string::npos) << message;
        struct stat st {};
        EXPECT_EQ(::lstat(path.c_str(), &st), 0) << "left where it was";
    }
    ::unlink(path.c_str());
}

// The segment a child process creates, kept until the child is killed.
Segment& childSegment() {
    static Segment segment;
    return segment;
}

TEST_F(SegmentTest, HalfMadeSegmentIsMadeAnewButALiveCreatorIsWaitedFor) {
    {
        Child creator([] { childSegment() = open(1024); });  // killed before markComplete
        creator.kill();
        Segment remade = open(4096);
        EXPECT_TRUE(remade.created());
        EXPECT_TRUE(remade.recreated());
        EXPECT_EQ(remade.size(), 4096u);
        remade.markComplete(kMarker);
    }
    Segment::unlink("segment", name);
    Child slowCreator([] { childSegment() = open(2048); },
                      [] {
                          std::this_thread::sleep_for(std::chrono::milliseconds(200));
                          childSegment().markComplete(kMarker);
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
        const std::string message = refusal(1 << 20);
        const bool named = message.find(name + ": reserve 1048576 bytes: ") != std::string::npos;
        ::_exit(named && !Segment::unlink("segment", name) ? 0 : 1);
    });
    EXPECT_EQ(child.exitCode(), 0);
}

}  // namespace
}  // namespace ShmTest
