// Kills a process driving the chip, at random moments and at every store of a short
// scenario, and checks that each operation is either wholly there or not there. Damages
// segments: a bad header is refused, bad records are reported, quarantined and cleared.
#include <gmock/gmock.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "ChipTestSupport.h"
#include "chip/ChipRecord.h"
#include "support/ChildProcess.h"
#include "support/RawSegment.h"

namespace {

using namespace Chip;

constexpr uint32_t kDev = 2;

// An entry as the chip holds it.
struct Installed {
    uint32_t handle;
    uint16_t pipe;
    EntryKey key;
    ActionData data;
    // The key and pipe are those of the placement the entry is found under.
    bool operator==(const Installed& o) const { return handle == o.handle && data == o.data; }
};

uint64_t keyOf(const EntryKey& k, uint16_t pipe) {
    return placementKey(k.natKeyId, k.srcPort, k.dstPort, pipe);
}

struct Op {
    enum Kind : uint8_t { Add, Modify, Delete, DefaultSet, DefaultReset, Scope } kind;
    bool done;
    Status status;
    EntryScope scope;
    Installed entry;  // of a default, only the pipe and data
};

std::vector<uint16_t> scopePipes(EntryScope scope) {
    return scope == EntryScope::AllPipes ? std::vector<uint16_t>{kAllPipes}
                                         : std::vector<uint16_t>{0, 1, 2, 3};
}

// What the chip must hold: entries by placement key, defaults by pipe, the scope.
struct Model {
    EntryScope scope = EntryScope::AllPipes;
    std::map<uint64_t, Installed> entries;
    std::map<uint16_t, ActionData> defaults;

    void apply(const Op& op) {
        const Installed& e = op.entry;
        const uint64_t key = keyOf(e.key, e.pipe);
        if (op.kind == Op::Add)
            entries[key] = e;
        else if (op.kind == Op::Modify)
            entries[key].data = e.data;
        else if (op.kind == Op::Delete)
            entries.erase(key);
        else if (op.kind == Op::Scope)
            scope = op.scope;
        else
            defaults[e.pipe] = op.kind == Op::DefaultSet ? e.data : ActionData{};
    }
    // Defaults count only on the scope's pipes; one never set is the miss action.
    bool operator==(const Model& o) const {
        auto defaultOf = [](const Model& m, uint16_t pipe) {
            auto found = m.defaults.find(pipe);
            return found == m.defaults.end() ? ActionData{} : found->second;
        };
        return scope == o.scope && entries == o.entries &&
               std::ranges::all_of(scopePipes(scope), [&](uint16_t pipe) {
                   return defaultOf(*this, pipe) == defaultOf(o, pipe);
               });
    }
};

// Everything the chip shows through its interface.
Model readChip(Device& dev) {
    Model m;
    m.scope = dev.entryScope();
    for (uint16_t pipe : scopePipes(m.scope)) {
        EntryView view;
        for (uint32_t h : dev.entryHandles(pipe)) {
            EXPECT_EQ(dev.entryGet(h, kAnyPipe, &view), kSuccess);
            const Installed entry{h, pipe, view.key, view.data};
            EXPECT_TRUE(m.entries.emplace(keyOf(view.key, pipe), entry).second)
                << "key listed twice";
        }
        EXPECT_EQ(dev.entryGet(dev.defaultEntryHandle(pipe), kAnyPipe, &view), kSuccess);
        m.defaults[pipe] = view.data;
    }
    return m;
}

// Runs random operations on a chip that holds `model`, reporting each through `fd`.
class Driver {
  public:
    Driver(int fd, uint32_t seed, uint32_t keySpace, Model model)
        : dev_(Chip::open(kDev)), fd_(fd), rng_(seed), keySpace_(keySpace), model_(model) {}

    [[noreturn]] void run(uint32_t steps) {
        while (steps-- > 0) step();
        ::_exit(0);
    }

    void step() {
        std::vector<uint16_t> pipes = scopePipes(dev_.entryScope());
        Op op{};
        op.entry.pipe = pipes[pick(pipes.size())];
        op.entry.data = {static_cast<Action>(pick(kActionCount)), static_cast<uint8_t>(pick(256)),
                         static_cast<uint16_t>(pick(65536)), static_cast<uint16_t>(pick(65536))};
        if (op.entry.data.action == Action::OnMiss)
            op.entry.data = {};  // the miss action carries no parameters
        const uint32_t roll = pick(100);
        const std::size_t live = model_.entries.size();
        if (roll < 45 || (roll < 90 && live == 0)) {
            op.kind = Op::Add;
            uint32_t k = pick(keySpace_);
            op.entry.key = {static_cast<uint16_t>(k), static_cast<uint16_t>(k >> 16), 443};
        } else if (roll < 90) {
            op.kind = roll < 65 ? Op::Modify : Op::Delete;
            const ActionData data = op.entry.data;
            op.entry = std::next(model_.entries.begin(), pick(live))->second;
            op.entry.data = data;
        } else if (roll < 99) {
            op.kind = roll < 96 ? Op::DefaultSet : Op::DefaultReset;
        } else {
            op = switchScope();
        }
        perform(op);
    }

    // Deletes every entry and switches the scope: the only way to change it.
    void emptyAndSwitchScope() {
        for (const auto& [placement, entry] : std::map(model_.entries))
            perform({Op::Delete, false, {}, {}, entry});
        perform(switchScope());
    }

  private:
    Op switchScope() const {
        const bool all = dev_.entryScope() == EntryScope::AllPipes;
        return {Op::Scope, false, {}, all ? EntryScope::SinglePipe : EntryScope::AllPipes, {}};
    }

    void perform(Op op) {
        op.done = false;
        TestSupport::report(fd_, op);
        op.status = execute(op);
        if (op.status == kSuccess)
            model_.apply(op);
        op.done = true;
        TestSupport::report(fd_, op);
    }

    uint32_t pick(std::size_t n) { return static_cast<uint32_t>(rng_() % n); }

    Status execute(Op& op) {
        Installed& e = op.entry;
        switch (op.kind) {
            case Op::Add:
                return dev_.entryAdd(e.pipe, e.key, e.data, &e.handle);
            case Op::Modify:
                return dev_.entryModify(e.handle, e.pipe, e.data);
            case Op::Delete:
                return dev_.entryDelete(e.handle, e.pipe);
            case Op::DefaultSet:
                return dev_.defaultEntrySet(e.pipe, e.data, &e.handle);
            case Op::DefaultReset:
                return dev_.defaultEntryReset(e.pipe);
            case Op::Scope:
                return dev_.entryScopeIs(op.scope);
        }
        return kInvalidArg;
    }

    Device& dev_;
    int fd_;
    std::mt19937 rng_;
    uint32_t keySpace_;
    Model model_;
};

// Forks `child(fd)`, follows its reports, kills it `killAfterMicros` after its first
// report (never when 0), reaps it and checks the chip against `model`; true when killed.
template <class Child>
bool runChild(Model& model, uint32_t killAfterMicros, Child child) {
    TestSupport::ChildProcess process(child);
    uint32_t operationsDone = 0;
    std::optional<Op> pending;
    for (Op op; process.read(op);) {
        pending.reset();
        if (!op.done)
            pending = op;
        else if (op.status == kSuccess)
            model.apply(op);
        if (op.done && ++operationsDone == 1 && killAfterMicros != 0) {
            ::usleep(killAfterMicros);
            process.kill();
        }
    }
    const bool killed = process.killedBy(SIGKILL);
    EXPECT_TRUE(killed || process.exitCode() == 0) << process.wait();

    Device& dev = Chip::open(kDev);
    EXPECT_TRUE(dev.badRecords().empty()) << "a kill left a bad record";
    Model found = readChip(dev);
    if (found != model && pending) {
        if (pending->kind == Op::Add) {
            auto added = found.entries.find(keyOf(pending->entry.key, pending->entry.pipe));
            pending->entry.handle = added != found.entries.end() ? added->second.handle : 0;
        }
        Model after = model;
        after.apply(*pending);
        if (after == found)
            model = after;
    }
    EXPECT_TRUE(found == model) << "the chip is neither before nor after the cut operation";
    EXPECT_EQ(dev.entryCount(), model.entries.size());
    model = found;
    Chip::close(kDev);
    return killed;
}

// The device's segment mapped behind the chip's back, as a stray writer would see it.
struct Raw {
    TestSupport::RawSegment segment{segmentName(kDev)};
    SegmentHeader& header() const { return segment.at<SegmentHeader>(0); }
    EntryRecord& record(uint32_t index) const {
        return segment.at<EntryRecord>(header().recordsOffset + index * sizeof(EntryRecord));
    }
    // Rewrites a record's seal so that it matches whatever the record now holds.
    void reseal(uint32_t index, RecordState state) const {
        EntryRecord& r = record(index);
        Seal s = sealOf(r);
        s.state = state;
        sealStore(r, s);
    }
};

uint32_t indexOf(uint32_t handle) {
    return (handle & kHandleIndexMask) - 1;
}

using ChipCrashTest = ChipTest::ChipFixture;

TEST_F(ChipCrashTest, RandomKillsLoseNothingCommittedAndLeaveNothingHalfDone) {
    constexpr uint32_t kCapacity = 256, kKills = 400;
    Chip::open(kDev, kCapacity);
    Chip::close(kDev);
    Model model;
    std::mt19937 rng(20261206);
    for (uint32_t seed = 1, kills = 0; kills < kKills; ++seed) {
        kills += runChild(model, 1 + rng() % 500, [&](int fd) {
            Driver(fd, seed, kCapacity * 5 / 4, model).run(UINT32_MAX);
        });
        if (HasFailure())
            FAIL() << "seed " << seed;
    }
}

// On a fixed hash seed the buckets of a full chip run out before its records, though
// moving entries aside fills most of them: the add they cannot place is refused, and
// every entry added before it is still found by key.
TEST_F(ChipCrashTest, AnAddTheBucketsCannotPlaceIsRefusedAndNothingIsLost) {
    Chip::open(kDev, 256);
    Chip::close(kDev);
    Raw().header().hashSeed = 1;
    Device& dev = Chip::open(kDev);
    std::vector<EntryKey> added;
    for (uint16_t n = 0;; ++n) {
        uint32_t handle = 0;
        const Status st = dev.entryAdd(kAllPipes, {n, 0, 7}, {Action::Hit, 1, 2, 3}, &handle);
        if (st == kNoSpace)
            break;
        ASSERT_EQ(st, kSuccess);
        added.push_back({n, 0, 7});
    }
    EXPECT_LT(added.size(), dev.capacity()) << "the buckets were not what ran out";
    EXPECT_GE(added.size(), dev.capacity() * 9 / 10) << "entries moved aside make room";
    uint32_t again = 0;
    for (const EntryKey& key : added)
        EXPECT_EQ(dev.entryAdd(kAllPipes, key, {}, &again), kAlreadyExists) << key.natKeyId;
    Chip::close(kDev);
}

// The same checks after a kill at store N of a fixed scenario, for every N: a full
// small chip (displacements on add), modify, delete, defaults, emptying it and a
// scope change.
TEST_F(ChipCrashTest, KillAtEveryStoreOfAScenario) {
    constexpr uint32_t kCapacity = 16;
    uint32_t stops = 0;
    for (uint32_t n = 1;; ++n) {
        ChipTest::ChipEnvironment::wipeAll();
        Chip::open(kDev, kCapacity);
        Chip::close(kDev);
        Model model;
        // Setup runs unarmed in the first child, the scenario armed in the second.
        runChild(model, 0, [](int fd) { Driver(fd, 3, kCapacity * 2, {}).run(60); });
        const bool killed = runChild(model, 0, [&](int fd) {
            storeKillCountdown = n;
            Driver driver(fd, 7, kCapacity, model);
            for (int i = 0; i < 40; ++i) driver.step();
            driver.emptyAndSwitchScope();
            for (int i = 0; i < 10; ++i) driver.step();
        });
        if (HasFailure())
            FAIL() << "kill at store " << n;
        if (!killed)
            break;
        ++stops;
    }
    EXPECT_GT(stops, 40u);
}

constexpr uint32_t kCapacity = 64;

// A chip of kCapacity with `count` entries and a default set; returns what it holds.
Model installed(uint32_t count) {
    Device& dev = Chip::open(kDev, kCapacity);
    Model model;
    for (uint32_t n = 0; n < count; ++n) {
        const auto k = static_cast<uint16_t>(n);
        Installed e{0, kAllPipes, {k, 1, 443}, {Action::HitEcmp, 6, k, 9}};
        EXPECT_EQ(dev.entryAdd(kAllPipes, e.key, e.data, &e.handle), kSuccess);
        model.entries[keyOf(e.key, kAllPipes)] = e;
    }
    uint32_t handle = 0;
    EXPECT_EQ(dev.defaultEntrySet(kAllPipes, {Action::Hit, 17, 3, 4}, &handle), kSuccess);
    model.defaults[kAllPipes] = {Action::Hit, 17, 3, 4};
    Chip::close(kDev);
    return model;
}

using ChipCorruptionTest = ChipTest::ChipFixture;

TEST_F(ChipCorruptionTest, BadSegmentIsRefusedAndLeftInPlace) {
    const struct {
        void (*corrupt)(const Raw&);
        const char* reason;
    } cases[] = {
        {[](const Raw& raw) { raw.header().magic ^= 1; }, "bad magic"},
        {[](const Raw& raw) { raw.header().layoutVersion = 99; }, "layout version 99"},
        {[](const Raw& raw) { raw.header().recordSize = 24; }, "sizes differ"},
        {[](const Raw& raw) { raw.header().recordsOffset += 64; }, "offsets do not match"},
        {[](const Raw& raw) { raw.header().deviceId = 3; }, "belongs to device 3"},
        {[](const Raw& raw) { --raw.header().capacity; }, "header checksum mismatch"},
        {[](const Raw& raw) { raw.segment.truncate(64); }, "smaller than a header"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        ChipTest::ChipEnvironment::wipeAll();
        installed(0);
        const Raw raw;
        c.corrupt(raw);
        const SegmentHeader damaged = raw.header();
        try {
            Chip::open(kDev);
            ADD_FAILURE() << "a bad segment was accepted";
        } catch (const SegmentError& e) {
            EXPECT_THAT(e.what(), ::testing::HasSubstr(segmentName(kDev) + " refused: "));
            EXPECT_THAT(e.what(), ::testing::HasSubstr(c.reason));
        }
        EXPECT_EQ(std::memcmp(&raw.header(), &damaged, sizeof damaged), 0) << "it was changed";
        Device* device = nullptr;
        EXPECT_EQ(Chip::device(kDev, &device), kInitError) << "C entry points report it";
    }
}

TEST_F(ChipCorruptionTest, BadRecordIsReportedQuarantinedAndClearedToAUsableKey) {
    using Record = EntryRecord;
    constexpr std::optional<RecordState> kKept, kEntry = RecordState::Entry;
    const struct {
        const char* damage;
        BadReason reason;
        std::optional<RecordState> resealAs;  // a seal made to match the damage
        void (*corrupt)(Record&, const Record& previous);
        bool defaultRecord = false;
    } cases[] = {
        {"flipped byte", BadReason::Checksum, kKept,
         [](Record& r, const Record&) { r.slot[0].rwId ^= 0x40; }},
        {"flipped seal", BadReason::Checksum, kKept,
         [](Record& r, const Record&) { r.seal ^= uint64_t{1} << 40; }},
        {"state 7", BadReason::State, RecordState{7}, [](Record&, const Record&) {}},
        {"default state in an entry record", BadReason::State, RecordState::Default,
         [](Record&, const Record&) {}},
        {"action 5", BadReason::Action, kEntry,
         [](Record& r, const Record&) { r.slot[0].action = kActionCount; }},
        {"pipe 9", BadReason::Pipe, kEntry, [](Record& r, const Record&) { r.pipe = 9; }},
        {"pipe 1 in the all-pipes scope", BadReason::Pipe, kEntry,
         [](Record& r, const Record&) { r.pipe = 1; }},
        {"key of another entry", BadReason::DuplicateKey, kEntry,
         [](Record& r, const Record& previous) { r.natKeyId = previous.natKeyId; }},
        {"default record", BadReason::Checksum, kKept,
         [](Record& r, const Record&) { r.slot[1].prot ^= 1; }, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.damage);
        ChipTest::ChipEnvironment::wipeAll();
        Model model = installed(4);
        const EntryKey key{1, 1, 443};
        uint32_t handle = model.entries[keyOf(key, kAllPipes)].handle;
        uint32_t index = c.defaultRecord ? kCapacity + kPipeCount : indexOf(handle);
        if (c.defaultRecord) {
            handle = Chip::open(kDev).defaultEntryHandle(kAllPipes);
            Chip::close(kDev);
        }
        const Raw raw;
        c.corrupt(raw.record(index), raw.record(index - 1));
        if (c.resealAs)
            raw.reseal(index, *c.resealAs);

        Device& dev = Chip::open(kDev);
        ASSERT_EQ(dev.badRecords().size(), 1u);
        EXPECT_EQ(dev.badRecords()[0].index, index);
        EXPECT_STREQ(badReasonText(dev.badRecords()[0].reason), badReasonText(c.reason));
        EntryView view;
        EXPECT_THAT(dev.entryGet(handle, kAnyPipe, &view),
                    ::testing::AnyOf(kHwAccessFails, kObjectNotFound));
        uint32_t other = 0;
        if (c.defaultRecord) {
            EXPECT_EQ(dev.defaultEntrySet(kAllPipes, {}, &other), kHwAccessFails);
        } else {
            EXPECT_THAT(dev.entryHandles(kAllPipes), ::testing::Not(::testing::Contains(handle)));
            EXPECT_NE(dev.entryDelete(handle, kAnyPipe), kSuccess) << "only a clear frees it";
        }

        EXPECT_EQ(dev.badRecordClear(index + 1), kObjectNotFound) << "a good record stays";
        ASSERT_EQ(dev.badRecordClear(index), kSuccess);
        EXPECT_TRUE(dev.badRecords().empty());
        if (c.defaultRecord) {
            ASSERT_EQ(dev.entryGet(handle, kAnyPipe, &view), kSuccess);
            EXPECT_EQ(view.data.action, Action::OnMiss);
        } else {
            EXPECT_EQ(dev.entryGet(handle, kAnyPipe, &view), kObjectNotFound);
            ASSERT_EQ(dev.entryAdd(kAllPipes, key, {}, &other), kSuccess);
            raw.record(indexOf(other)).slot[0].rwId ^= 0x40;
            EXPECT_EQ(dev.entryGet(other, kAnyPipe, &view), kHwAccessFails)
                << "a record damaged while the chip is open reads as a hardware fault";
        }
        Chip::close(kDev);
    }
}

}  // namespace
