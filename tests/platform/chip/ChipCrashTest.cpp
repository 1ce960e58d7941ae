// Kills a process driving the chip, at random moments and at every store of a short
// scenario, and checks that each operation is either wholly there or not there.
#include <cstdio>

#include "ChipCrashSupport.h"
#include "ChipTestSupport.h"
#include "chip/ChipRecord.h"

namespace {

using namespace ChipCrash;

using ChipCrashTest = ChipTest::ChipFixture;

// Adds fresh keys until the chip refuses one, then checks the model still reads back:
// a record handed out twice would have overwritten a committed entry.
void fillToCapacity(Model& model) {
    Device& dev = Chip::open(kDev);
    uint16_t pipe = scopePipes(dev.entryScope())[0];
    for (uint32_t n = 0;; ++n) {
        const Status st =
            addTo(dev, model, pipe, {static_cast<uint16_t>(n), 0xFFFF, 7}, {Action::Hit, 1, 2, 3});
        if (st == kNoSpace)
            break;
        ASSERT_EQ(st, kSuccess);
    }
    EXPECT_GE(dev.entryCount(), dev.capacity() * 9 / 10);
    EXPECT_TRUE(readChip(dev) == model) << "an add overwrote a committed entry";
    Chip::close(kDev);
}

TEST_F(ChipCrashTest, RandomKillsLoseNothingCommittedAndLeaveNothingHalfDone) {
    constexpr uint32_t kCapacity = 256, kKills = 400;
    Chip::open(kDev, kCapacity);
    Chip::close(kDev);
    Model model;
    std::mt19937 rng(20261206);
    uint32_t kills = 0, runs = 0, operations = 0;
    for (uint32_t seed = 1; kills < kKills; ++seed) {
        ChildRun run = runChild(model, 1 + rng() % 500, [seed](int fd) {
            Driver(fd, seed, kCapacity * 5 / 4).run(UINT32_MAX);
        });
        kills += run.killed;
        ++runs;
        operations += run.operationsDone;
        if (HasFailure())
            FAIL() << "seed " << seed;
    }
    std::printf("chip kill harness: %u kills in %u runs, %u operations done\n", kills, runs,
                operations);
    fillToCapacity(model);
}

// The same checks after a kill at store N of a fixed scenario, for every N: a full
// small chip (displacements on add), modify, delete, defaults, emptying it and a
// scope change.
TEST_F(ChipCrashTest, KillAtEveryStoreOfAScenario) {
    constexpr uint32_t kCapacity = 16;
    auto scenario = [](int fd) {
        Driver driver(fd, 7, kCapacity);
        for (int i = 0; i < 40; ++i) driver.step();
        driver.emptyAndSwitchScope();
        for (int i = 0; i < 10; ++i) driver.step();
    };
    uint32_t stops = 0;
    for (uint32_t n = 1;; ++n) {
        ChipTest::ChipEnvironment::wipeAll();
        Chip::open(kDev, kCapacity);
        Chip::close(kDev);
        Model model;
        // Setup runs unarmed in the first child, the scenario armed in the second.
        runChild(model, 0, [](int fd) { Driver(fd, 3, kCapacity * 2).run(60); });
        ChildRun run = runChild(model, 0, [&](int fd) {
            storeKillCountdown = n;
            scenario(fd);
        });
        if (HasFailure())
            FAIL() << "kill at store " << n;
        if (!run.killed)
            break;
        ++stops;
    }
    std::printf("chip store-point harness: killed at each of %u stores\n", stops);
    EXPECT_GT(stops, 40u);
}

}  // namespace
