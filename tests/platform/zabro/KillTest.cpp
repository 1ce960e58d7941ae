// A key segment killed at any moment opens again with every committed record
// as it was. A child process runs a long stream of operations and reports each
// one it finished through a pipe; the parent kills it (at random moments, and
// before each single store of a short stream in turn), reopens the segment
// and compares every slot with what the reports say, allowing the one
// operation in flight to be there whole or not at all.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <thread>

#include "ZabroTestSupport.h"

namespace ZabroTest {
namespace {

using Kiv::U32;
using Kiv::U64;
using Zabro::MbbZabroTableConfig;
using Zabro::MbbPostcodef::EntryConfig;

constexpr U64 kCapacity = 48;

struct Slot {
    bool live = false;
    bool handleSet = false;
    U32 handle = 0;
    U32 generation = 0;
    bool operator==(const Slot&) const = default;
};
using Model = std::vector<Slot>;  // indexed by key; [0] unused

enum class Kind : U32 { Alloc, HandleIs, Del, HighestIs };
struct Op {
    Kind kind;
    U64 key;     // of HandleIs and Del; the value of HighestIs
    U32 handle;  // of HandleIs
};

// The next operation of the stream; depends on the model alone, so that the
// parent, holding the same model and generator, knows what the child did next.
Op nextOp(std::mt19937_64& random, const Model& model) {
    std::vector<U64> live;
    for (U64 key = 1; key <= kCapacity; ++key)
        if (model[key].live)
            live.push_back(key);
    const U64 roll = random() % 100;
    const U64 pick = live.empty() ? 0 : live[random() % live.size()];
    const auto handle = static_cast<U32>(random());
    if (roll >= 95)
        return {Kind::HighestIs, random() % (kCapacity + 2), 0};
    if (live.empty() || (roll < 45 && live.size() < kCapacity))
        return {Kind::Alloc, 0, 0};
    return {roll < 70 ? Kind::HandleIs : Kind::Del, pick, handle};
}

void apply(Model& model, const Op& op, U64 allocatedKey) {
    switch (op.kind) {
        case Kind::Alloc:
            model[allocatedKey] = {true, false, 0, model[allocatedKey].generation + 1};
            break;
        case Kind::HandleIs:
            model[op.key].handle = op.handle;
            model[op.key].handleSet = true;
            break;
        case Kind::Del:
            model[op.key] = {false, false, 0, model[op.key].generation};
            break;
        case Kind::HighestIs:
            break;
    }
}

// Runs the stream on the segment until killed or `ops` are done, reporting the
// key each operation allocated (0 for the others) after it returns.
[[noreturn]] void runStream(std::mt19937_64 random, Model model, int reports, U64 ops) {
    const auto config = Zabro::mbbZabroTableConfigFactory(kDevice, kPipe, kCapacity);
    for (U64 i = 0; i < ops; ++i) {
        const Op op = nextOp(random, model);
        U64 key = 0;
        switch (op.kind) {
            case Kind::Alloc:
                key = config->recordAlloc().key();
                break;
            case Kind::HandleIs:
                config->sdkEntryHandleIs(op.key, op.handle);
                break;
            case Kind::Del:
                config->recordDel(op.key);
                break;
            case Kind::HighestIs:
                config->highestAllocatedKeyIs(op.key);
                break;
        }
        apply(model, op, key);
        if (::write(reports, &key, sizeof key) != sizeof key)
            ::_exit(3);
    }
    ::_exit(0);
}

// What the segment holds now, read as a restarted process would.
Model opened(U64& corruptions) {
    const auto config = Zabro::mbbZabroTableConfigFactory(kDevice, kPipe, kCapacity);
    Model found(kCapacity + 1);
    EntryConfig cursor(0, 0, 0, 0, 0);
    Zabro::IterHint hint;
    for (bool more = config->first(cursor, hint); more;
         more = config->next(cursor.key(), cursor, hint)) {
        found[cursor.key()] = {true, cursor.handleSet(), cursor.sdkEntryHandle(),
                               cursor.generation()};
    }
    for (U64 key = 1; key <= kCapacity; ++key) {
        if (!found[key].live) {  // a free slot's generation, from the bytes
            found[key].generation = RawSegment(config->name()).record(key - 1).generation;
        }
    }
    corruptions += config->corruptionsDetected();
    return found;
}

class KillTest : public KeySegmentTest {
  protected:
    // Starts the stream in a child, lets `kill` decide when to stop it, then
    // brings the model up to date and checks the reopened segment against it.
    template <class Kill>
    bool round(U64 ops, Kill&& kill, const std::function<void()>& inChild = {}) {
        int fds[2];
        EXPECT_EQ(::pipe(fds), 0);
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::close(fds[0]);
            if (inChild)
                inChild();
            runStream(random, model, fds[1], ops);
        }
        ::close(fds[1]);
        U64 key = 0;
        const auto readReport = [&] { return ::read(fds[0], &key, sizeof key) == sizeof key; };
        kill(pid, readReport, [&] {
            apply(model, nextOp(random, model), key);
            ++committed;
        });
        while (readReport()) {  // reports written before it died
            apply(model, nextOp(random, model), key);
            ++committed;
        }
        ::close(fds[0]);
        int status = 0;
        ::waitpid(pid, &status, 0);
        const bool finished = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        if (!finished)
            ++kills;
        checkAgainstModel();
        return finished;
    }

    void checkAgainstModel() {
        U64 corruptions = 0;
        Model found;
        try {
            found = opened(corruptions);
        } catch (const std::exception& e) {
            ++refusals;
            ADD_FAILURE() << "refused after " << committed << " operations: " << e.what();
            return;
        }
        EXPECT_EQ(corruptions, 0u) << "after " << committed << " operations";
        // The operation in flight is there whole or not at all.
        std::mt19937_64 peek = random;
        const Op inFlight = nextOp(peek, model);
        std::vector<U64> differ;
        for (U64 k = 1; k <= kCapacity; ++k)
            if (!(found[k] == model[k]))
                differ.push_back(k);
        if (differ.size() == 1) {
            Model done = model;
            apply(done, inFlight, inFlight.kind == Kind::Alloc ? differ[0] : 0);
            if (inFlight.kind != Kind::HighestIs && done[differ[0]] == found[differ[0]]) {
                model = done;
                random = peek;
                ++committed;
                differ.clear();
            }
        }
        lost += differ.size();
        for (U64 k : differ) {
            ADD_FAILURE() << "key " << k << " after " << committed << " operations: found live "
                          << found[k].live << " handle " << found[k].handle << " generation "
                          << found[k].generation << ", expected live " << model[k].live
                          << " handle " << model[k].handle << " generation " << model[k].generation;
        }
    }

    std::mt19937_64 random{20261206};
    Model model = Model(kCapacity + 1);
    U64 committed = 0, kills = 0, refusals = 0, lost = 0;
};

TEST_F(KillTest, RandomKillsAndAKillBeforeEveryStoreLoseNothingCommitted) {
    std::mt19937 when(7);
    U64 terms = 0;
    for (int i = 0; i < 200; ++i) {
        const U64 target = 1 + when() % 300;
        const auto pause = std::chrono::microseconds(when() % 100);
        const int signal = i % 5 == 0 ? SIGTERM : SIGKILL;
        terms += signal == SIGTERM;
        round(1'000'000, [&](pid_t pid, auto readReport, auto committedOne) {
            for (U64 n = 0; n < target && readReport(); ++n) committedOne();
            std::this_thread::sleep_for(pause);
            ::kill(pid, signal);
        });
    }
    const U64 randomKills = kills;
    // Then short streams stopped before their 1st, 2nd, ... store until one
    // runs to the end: from a fresh name (creation first), and from the
    // segment the random kills left.
    const auto start = RawSegment(segmentName()).bytes();
    const Model startModel = model;
    const auto startRandom = random;
    U64 storePoints = 0;
    for (const bool fresh : {true, false}) {
        for (U64 stopAt = 1;; ++stopAt, ++storePoints) {
            if (fresh) {
                MbbZabroTableConfig::segmentWipe(kDevice, kPipe);
                model = Model(kCapacity + 1);
            } else {
                std::copy(start.begin(), start.end(), RawSegment(segmentName()).base());
                model = startModel;
            }
            random = startRandom;
            static U64 stores, limit;
            limit = stopAt;
            const bool finished = round(
                20, [](pid_t, auto, auto) {},
                [] {
                    stores = 0;
                    Zabro::Layout::storeHook = [] {
                        if (++stores == limit)
                            ::raise(SIGKILL);
                    };
                });
            if (finished || HasFailure())
                break;
        }
    }
    std::printf(
        "key segment kills: %llu random (%llu by SIGTERM), %llu before a store; "
        "%llu operations committed; refusals to open %llu, records lost or half there %llu\n",
        static_cast<unsigned long long>(randomKills), static_cast<unsigned long long>(terms),
        static_cast<unsigned long long>(storePoints), static_cast<unsigned long long>(committed),
        static_cast<unsigned long long>(refusals), static_cast<unsigned long long>(lost));
    EXPECT_GT(storePoints, 2 * kCapacity * 6) << "the short streams cover their stores";
}

}  // namespace
}  // namespace ZabroTest
