// A key segment killed at any moment (at random, and before each store of a short
// stream in turn) opens again with every committed record as it was; the one
// operation in flight is there whole or not at all.

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <ostream>
#include <random>
#include <thread>

#include "ZabroTestSupport.h"
#include "support/ChildProcess.h"

namespace ZabroTest {
namespace {

using Kiv::U32;
using Kiv::U64;
using Zabro::MbbZabroTableConfig;

constexpr U64 kCapacity = 48;

struct Slot {
    bool live = false;
    bool handleSet = false;
    U32 handle = 0;
    U32 generation = 0;
    bool operator==(const Slot&) const = default;
};
void PrintTo(const Slot& s, std::ostream* out) {
    *out << "live " << s.live << " handle " << s.handleSet << "/" << s.handle << " generation "
         << s.generation;
}
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
    if (roll >= 95)  // now and then past the capacity
        return {Kind::HighestIs, random() % (kCapacity + 2), 0};
    if (live.empty() || (roll < 45 && live.size() < kCapacity))
        return {Kind::Alloc, 0, 0};
    return {roll < 70 ? Kind::HandleIs : Kind::Del, pick, handle};
}

// `allocatedKey` is the key an Alloc took; the other kinds ignore it.
void apply(Model& model, const Op& op, U64 allocatedKey) {
    if (op.kind == Kind::Alloc)
        model[allocatedKey] = {true, false, 0, model[allocatedKey].generation + 1};
    else if (op.kind == Kind::HandleIs)
        model[op.key] = {true, true, op.handle, model[op.key].generation};
    else if (op.kind == Kind::Del)
        model[op.key] = {false, false, 0, model[op.key].generation};
}

// Runs the stream until killed or `ops` are done, reporting after each operation
// the key it allocated (0 for the others).
[[noreturn]] void runStream(std::mt19937_64 random, Model model, int reports, U64 ops) {
    const auto config = Zabro::mbbZabroTableConfigFactory(kDevice, kPipe, kCapacity);
    for (U64 i = 0; i < ops; ++i) {
        const Op op = nextOp(random, model);
        U64 key = 0;
        if (op.kind == Kind::Alloc)
            key = config->recordAlloc().key();
        else if (op.kind == Kind::HandleIs)
            config->sdkEntryHandleIs(op.key, op.handle);
        else if (op.kind == Kind::Del)
            config->recordDel(op.key);
        else
            config->highestAllocatedKeyIs(op.key);
        apply(model, op, key);
        TestSupport::report(reports, key);
    }
    ::_exit(0);
}

class KillTest : public KeySegmentTest {
  protected:
    // Runs the stream in a child (after `inChild`), kills it `pause` after its
    // `stopAfter`th report (never when 0), brings the model up to date with
    // every report and checks the reopened segment against it.
    bool round(U64 ops, U64 stopAfter, std::chrono::microseconds pause = {},
               void (*inChild)() = nullptr) {
        TestSupport::ChildProcess child([&](int reports) {
            if (inChild)
                inChild();
            runStream(random, model, reports, ops);
        });
        U64 key = 0;
        for (U64 reports = 1; child.read(key); ++reports) {
            apply(model, nextOp(random, model), key);
            ++committed;
            if (reports == stopAfter) {
                std::this_thread::sleep_for(pause);
                child.kill();
            }
        }
        const bool finished = child.exitCode() == 0;
        checkAgainstModel();
        return finished;
    }

    // Reads the segment as a restarted process would and compares each slot with the model.
    void checkAgainstModel() {
        MbbZabroTableConfig::Ptr config;
        ASSERT_NO_THROW(config = Zabro::mbbZabroTableConfigFactory(kDevice, kPipe, kCapacity))
            << "after " << committed << " operations";
        EXPECT_EQ(config->corruptionsDetected(), 0u) << "after " << committed << " operations";
        Model found(kCapacity + 1);
        const RawSegment raw(segmentName());
        for (U64 key = 1; key <= kCapacity; ++key)  // a free slot's generation, from the bytes
            found[key].generation = raw.record(key - 1).generation;
        for (const auto& r : walk(*config))
            found[r.key()] = {true, r.handleSet(), r.sdkEntryHandle(), r.generation()};
        std::vector<U64> differ;
        for (U64 key = 1; key <= kCapacity; ++key)
            if (!(found[key] == model[key]))
                differ.push_back(key);
        // The operation in flight is there whole or not at all.
        if (differ.size() == 1) {
            std::mt19937_64 peek = random;
            Model done = model;
            apply(done, nextOp(peek, model), differ[0]);
            if (done == found) {
                model = done;
                random = peek;
                ++committed;
                return;
            }
        }
        for (U64 key : differ)
            EXPECT_EQ(found[key], model[key]) << "key " << key << " after " << committed;
    }

    std::mt19937_64 random{20261206};
    Model model = Model(kCapacity + 1);
    U64 committed = 0;
};

TEST_F(KillTest, RandomKillsAndAKillBeforeEveryStoreLoseNothingCommitted) {
    std::mt19937 when(7);
    for (int i = 0; i < 200 && !HasFailure(); ++i) {
        const U64 target = 1 + when() % 300;
        round(1'000'000, target, std::chrono::microseconds(when() % 100));
    }
    // Then short streams stopped before their 1st, 2nd, ... store until one
    // runs to the end: from a fresh name (creation first), and from the
    // segment the random kills left.
    const auto start = RawSegment(segmentName()).bytes();
    const Model startModel = model;
    const auto startRandom = random;
    U64 storePoints = 0;
    for (const bool fresh : {true, false}) {
        for (U64 stopAt = 1;; ++stopAt, ++storePoints) {
            if (fresh)
                MbbZabroTableConfig::segmentWipe(kDevice, kPipe);
            else
                std::copy(start.begin(), start.end(), RawSegment(segmentName()).base());
            model = fresh ? Model(kCapacity + 1) : startModel;
            random = startRandom;
            static U64 stores, limit;
            limit = stopAt;
            const bool finished = round(20, 0, {}, [] {
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
    EXPECT_GT(storePoints, 2 * kCapacity * 6) << "the short streams cover their stores";
}

}  // namespace
}  // namespace ZabroTest
