// The writer lock: one holder at a time across processes, named when it
// refuses, and free again as soon as its holder is killed. The lock file's
// checks are the segments' own (one open for both), shown by their suite.

#include <gtest/gtest.h>

#include <optional>
#include <thread>

#include "ShmTestSupport.h"
#include "shm/WriterLock.h"

namespace ShmTest {
namespace {

using Shm::WriterLock;

const std::string kName = privateName("writer");

std::string refusal(unsigned waitSeconds) {
    try {
        WriterLock::acquire(kName, waitSeconds);
    } catch (const Shm::Error& e) {
        return e.what();
    }
    return "";
}

Shm::WriterLock& childLock() {
    static WriterLock lock;
    return lock;
}

TEST(WriterLockTest, SecondWriterIsRefusedWithTheHoldersPidUntilTheHolderIsKilled) {
    Child holder([] { childLock() = WriterLock::acquire(kName, 0); });
    const std::string message = refusal(0);
    EXPECT_NE(message.find(kName), std::string::npos) << message;
    EXPECT_NE(message.find("held by pid " + std::to_string(holder.pid())), std::string::npos)
        << message;
    holder.kill();
    std::optional<WriterLock> mine(WriterLock::acquire(kName, 0));
    EXPECT_TRUE(mine->held());
    EXPECT_NE(refusal(0).find("held by pid " + std::to_string(::getpid())), std::string::npos)
        << "a second open in the holder's own process is refused too";
    mine.reset();
    // A waiting writer gets the lock once the holder dies.
    Child next([] { childLock() = WriterLock::acquire(kName, 0); });
    std::thread killer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        next.kill();
    });
    EXPECT_TRUE(WriterLock::acquire(kName, 10).held());
    killer.join();
    ::shm_unlink(kName.c_str());
}

}  // namespace
}  // namespace ShmTest
