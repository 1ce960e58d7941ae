// Drives a chip in a child process and checks what a kill left behind: the child reports
// each operation before it starts and after it returned, so the parent accepts the chip
// only as it was before or after the one operation cut short. Also the segment's raw view.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "chip/ChipRecord.h"
#include "chip/ChipRegistry.h"
#include "support/ChildProcess.h"
#include "support/RawSegment.h"

namespace ChipCrash {

using namespace Chip;

inline constexpr uint32_t kDev = 2;

struct Op {
    enum Kind : uint8_t { Add, Modify, Delete, DefaultSet, DefaultReset, Scope } kind;
    bool done;
    Status status;
    uint16_t pipe;
    uint32_t handle;
    EntryKey key;
    ActionData data;
    EntryScope scope;
};

inline uint64_t keyOf(const EntryKey& k, uint16_t pipe) {
    return placementKey(k.natKeyId, k.srcPort, k.dstPort, pipe);
}

inline std::vector<uint16_t> scopePipes(EntryScope scope) {
    return scope == EntryScope::AllPipes ? std::vector<uint16_t>{kAllPipes}
                                         : std::vector<uint16_t>{0, 1, 2, 3};
}

struct Installed {
    uint32_t handle;
    ActionData data;
    bool operator==(const Installed&) const = default;
};

// What the chip must hold: entries by placement key, defaults by pipe, the scope.
struct Model {
    EntryScope scope = EntryScope::AllPipes;
    std::map<uint64_t, Installed> entries;
    std::map<uint16_t, ActionData> defaults;

    void apply(const Op& op) {
        const uint64_t key = keyOf(op.key, op.pipe);
        if (op.kind == Op::Add)
            entries[key] = {op.handle, op.data};
        else if (op.kind == Op::Modify)
            entries[key].data = op.data;
        else if (op.kind == Op::Delete)
            entries.erase(key);
        else if (op.kind == Op::Scope)
            scope = op.scope;
        else
            defaults[op.pipe] = op.kind == Op::DefaultSet ? op.data : ActionData{};
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

// Adds an entry in this process and, when the chip takes it, to `model`.
inline Status addTo(Device& dev, Model& model, uint16_t pipe, EntryKey key, ActionData data) {
    Op op{Op::Add, true, kSuccess, pipe, 0, key, data, {}};
    op.status = dev.entryAdd(pipe, key, data, &op.handle);
    if (op.status == kSuccess)
        model.apply(op);
    return op.status;
}

// The first difference between what the chip holds and what it should, for messages.
inline std::string firstDifference(const Model& found, const Model& expected) {
    for (const auto& [key, want] : expected.entries)
        if (!found.entries.contains(key) || !(found.entries.at(key) == want))
            return "key " + std::to_string(key);
    return found.scope != expected.scope ? "scope" : "extra entries or a default entry";
}

// Everything the chip shows through its interface.
inline Model readChip(Device& dev) {
    Model m;
    m.scope = dev.entryScope();
    for (uint16_t pipe : scopePipes(m.scope)) {
        EntryView view;
        for (uint32_t h : dev.entryHandles(pipe)) {
            EXPECT_EQ(dev.entryGet(h, kAnyPipe, &view), kSuccess);
            EXPECT_TRUE(m.entries.emplace(keyOf(view.key, pipe), Installed{h, view.data}).second)
                << "key listed twice";
        }
        EXPECT_EQ(dev.entryGet(dev.defaultEntryHandle(pipe), kAnyPipe, &view), kSuccess);
        m.defaults[pipe] = view.data;
    }
    return m;
}

// Runs random operations on the chip, reporting each through `fd`; never returns.
class Driver {
  public:
    Driver(int fd, uint32_t seed, uint32_t keySpace)
        : dev_(Chip::open(kDev)), fd_(fd), rng_(seed), keySpace_(keySpace) {
        EntryView view;
        for (uint16_t pipe : scopePipes(dev_.entryScope()))
            for (uint32_t h : dev_.entryHandles(pipe))
                if (dev_.entryGet(h, kAnyPipe, &view) == kSuccess)
                    live_.push_back({Op::Add, true, kSuccess, pipe, h, view.key, view.data, {}});
    }

    [[noreturn]] void run(uint32_t steps) {
        while (steps-- > 0) step();
        ::_exit(0);
    }

    void step() {
        std::vector<uint16_t> pipes = scopePipes(dev_.entryScope());
        Op op{};
        op.pipe = pipes[pick(pipes.size())];
        op.data = {static_cast<Action>(pick(kActionCount)), static_cast<uint8_t>(pick(256)),
                   static_cast<uint16_t>(pick(65536)), static_cast<uint16_t>(pick(65536))};
        if (op.data.action == Action::OnMiss)
            op.data = {};  // the miss action carries no parameters
        uint32_t roll = pick(100);
        std::size_t victim = live_.empty() ? 0 : pick(live_.size());
        if (roll < 45 || (roll < 90 && live_.empty())) {
            op.kind = Op::Add;
            uint32_t k = pick(keySpace_);
            op.key = {static_cast<uint16_t>(k), static_cast<uint16_t>(k >> 16), 443};
        } else if (roll < 90) {
            const ActionData data = op.data;
            op = live_[victim];
            op.kind = roll < 65 ? Op::Modify : Op::Delete;
            op.data = data;
        } else if (roll < 99) {
            op.kind = roll < 96 ? Op::DefaultSet : Op::DefaultReset;
        } else {
            op = switchScope();
        }
        perform(op);
    }

    // Deletes every entry and switches the scope: the only way to change it.
    void emptyAndSwitchScope() {
        for (Op op : std::vector<Op>(live_)) {
            op.kind = Op::Delete;
            perform(op);
        }
        perform(switchScope());
    }

  private:
    Op switchScope() const {
        const bool all = dev_.entryScope() == EntryScope::AllPipes;
        return {Op::Scope, false, {}, 0,
                0,         {},    {}, all ? EntryScope::SinglePipe : EntryScope::AllPipes};
    }

    void perform(Op op) {
        op.done = false;
        TestSupport::report(fd_, op);
        op.status = execute(op);
        op.done = true;
        TestSupport::report(fd_, op);
    }

    uint32_t pick(std::size_t n) { return static_cast<uint32_t>(rng_() % n); }

    Status execute(Op& op) {
        switch (op.kind) {
            case Op::Add:
                if (Status st = dev_.entryAdd(op.pipe, op.key, op.data, &op.handle))
                    return st;
                live_.push_back(op);
                return kSuccess;
            case Op::Modify:
                return dev_.entryModify(op.handle, op.pipe, op.data);
            case Op::Delete:
                if (Status st = dev_.entryDelete(op.handle, op.pipe))
                    return st;
                std::erase_if(live_, [&](const Op& l) { return l.handle == op.handle; });
                return kSuccess;
            case Op::DefaultSet:
                return dev_.defaultEntrySet(op.pipe, op.data, &op.handle);
            case Op::DefaultReset:
                return dev_.defaultEntryReset(op.pipe);
            case Op::Scope:
                return dev_.entryScopeIs(op.scope);
        }
        return kInvalidArg;
    }

    Device& dev_;
    int fd_;
    std::mt19937 rng_;
    uint32_t keySpace_;
    std::vector<Op> live_;
};

// Forks `child(fd)`, follows its reports, kills it `killAfterMicros` after its first
// report (never when 0), reaps it and checks the chip against `model`.
struct ChildRun {
    bool killed = false;
    uint32_t operationsDone = 0;
};

template <class Child>
ChildRun runChild(Model& model, uint32_t killAfterMicros, Child child) {
    TestSupport::ChildProcess process(child);
    ChildRun run;
    std::optional<Op> pending;
    for (Op op; process.read(op);) {
        pending.reset();
        if (!op.done)
            pending = op;
        else if (op.status == kSuccess)
            model.apply(op);
        if (op.done && ++run.operationsDone == 1 && killAfterMicros != 0) {
            ::usleep(killAfterMicros);
            process.kill();
        }
    }
    run.killed = process.killedBy(SIGKILL);
    EXPECT_TRUE(run.killed || process.exitCode() == 0) << process.wait();

    Device& dev = Chip::open(kDev);
    EXPECT_TRUE(dev.badRecords().empty()) << "a kill left a bad record";
    Model found = readChip(dev);
    if (found != model && pending) {
        if (pending->kind == Op::Add) {
            auto added = found.entries.find(keyOf(pending->key, pending->pipe));
            pending->handle = added != found.entries.end() ? added->second.handle : 0;
        }
        Model after = model;
        after.apply(*pending);
        if (after == found)
            model = after;
    }
    EXPECT_TRUE(found == model) << "the chip is neither before nor after the cut operation: "
                                << firstDifference(found, model);
    EXPECT_EQ(dev.entryCount(), model.entries.size());
    model = found;
    Chip::close(kDev);
    return run;
}

// The device's segment mapped behind the chip's back, as a stray writer would see it.
struct Raw {
    TestSupport::RawSegment segment{segmentName(kDev)};
    SegmentHeader& header() const { return segment.at<SegmentHeader>(0); }
    EntryRecord& record(uint32_t index) const {
        return segment.at<EntryRecord>(header().recordsOffset + index * sizeof(EntryRecord));
    }
    Bucket* buckets() const { return &segment.at<Bucket>(header().bucketsOffset); }
    // Rewrites a record's seal so that it matches whatever the record now holds.
    void reseal(uint32_t index, RecordState state) const {
        EntryRecord& r = record(index);
        Seal s = sealOf(r);
        s.state = state;
        s.checksum = checksumOf(r, s);
        r.seal = uint64_t{s.meta()} << 32 | s.checksum;
    }
};

inline uint32_t indexOf(uint32_t handle) {
    return (handle & kHandleIndexMask) - 1;
}

}  // namespace ChipCrash
