#pragma once
// Zabro::MbbZabroTableConfig: the key manager's table of EntryConfig records,
// keyed by EntryKey, in a POSIX shared-memory segment per device and pipe
// named "/<prefix>_keys_dev<D>_pipe<P>" (prefix from OLVANE_SHM_PREFIX,
// "olvane" by default). The segment outlives the process, so a restarted
// agent finds the records of the entries it installed before.
//
// Key k lives in slot k-1 (see ZabroSegmentLayout.h): lookups are O(1) and a
// walk visits records in ascending key order. New keys follow the highest
// allocated key; past the last slot they take the lowest free one.
//
// A found segment is used only when it passes Shm::Segment's checks (owner,
// mode, no symbolic link) and its header checks out (magic, layout version,
// sizes, device and pipe, checksum); otherwise it is refused and left
// untouched. One left half-made by a creator that died is made anew. Every
// write survives a kill at any instruction (see ZabroSegmentLayout.h); a
// write the kill interrupted after its commit is completed at the next open.
//
// A record whose checksum fails raises Dorvu::CorruptionDetectedException
// when a direct request reaches it; doCorruptionDetected then quarantines it
// in the segment itself. A walk reports such a record through
// doCorruptionDetected on its own and goes on past it.
//
// One object writes a segment at a time (one per process, one process at a
// time; the agent holds a Shm::WriterLock per device and pipe): counts, the
// walk's end and the free-slot search are this object's view, taken when it
// opened the segment. The class takes no locks.

#include <memory>
#include <optional>
#include <vector>

#include "kiv/Kiv.h"
#include "zabro/EntryConfig.h"
#include "zabro/ZabroException.h"
#include "zabro/ZabroMapBase.h"

// The segment and its layout stay behind this class's sources.
namespace Shm {
class Segment;
}
namespace Zabro::Layout {
struct HeaderImage;
struct CountersImage;
struct RecordImage;
}  // namespace Zabro::Layout

namespace Zabro {

class MbbZabroTableConfig : public ZabroMapBase {
    KIV_CLASS(MbbZabroTableConfig)

  public:
    using Ptr = Dorvu::Ptr<MbbZabroTableConfig>;
    using PtrConst = Dorvu::Ptr<const MbbZabroTableConfig>;
    using EntryKey = MbbPostcodef::EntryKey;
    using EntryConfig = MbbPostcodef::EntryConfig;

    // The table's entries plus the default entry and a little room.
    static constexpr Kiv::U64 kDefaultCapacity = 65536 + 16;

    // Finds the segment of `deviceId`/`pipeId` or creates it with `capacity`
    // slots; a found segment keeps the capacity it was created with.
    // Throws SegmentException when the segment cannot be used.
    static Ptr MbbZabroTableConfigIs(Kiv::U8 deviceId, Kiv::U16 pipeId,
                                     Kiv::U64 capacity = kDefaultCapacity);
    // The segment as it is now, in a private copy: the config reads and
    // behaves as one over the segment, but its stores (a restart's resync, a
    // journal it finishes) stay in this process, so a reader never races the
    // segment's writer. Creates no segment when there is none.
    static Ptr snapshotIs(Kiv::U8 deviceId, Kiv::U16 pipeId, Kiv::U64 capacity = kDefaultCapacity);
    static Dorvu::String segmentName(Kiv::U8 deviceId, Kiv::U16 pipeId);
    // Removes the segment's name (for tools and tests); processes that map it
    // keep their mapping. True when it existed.
    static bool segmentWipe(Kiv::U8 deviceId, Kiv::U16 pipeId);

    enum class View { Shared, Snapshot };
    MbbZabroTableConfig(Kiv::U8 deviceId, Kiv::U16 pipeId, Kiv::U64 capacity,
                        View view = View::Shared);
    ~MbbZabroTableConfig() override;

    const Dorvu::String& name() const noexcept;
    Kiv::U8 deviceId() const noexcept { return deviceId_; }
    Kiv::U16 pipeId() const noexcept { return pipeId_; }
    Kiv::U64 capacity() const noexcept { return capacity_; }
    // Whether this object created the segment rather than finding it.
    bool created() const noexcept;
    // Records of allocated keys.
    Kiv::U64 recordCount() const noexcept { return recordCount_; }
    Kiv::U64 quarantinedRecords() const noexcept { return quarantinedRecords_; }
    // A hint for the next key; a value beyond the capacity reads as the capacity.
    EntryKey highestAllocatedKey() const noexcept;
    void highestAllocatedKeyIs(EntryKey key);
    MbbPostcodef::OpId lastOpId() const noexcept;

    // Walk in ascending key order. Each fills `cursor` and `hint` and says
    // whether a record was found; a corrupt record on the way is handed to
    // doCorruptionDetected (naming the segment, slot, key and check) and
    // skipped. Virtual so that a test can script a walk.
    virtual bool first(EntryConfig& cursor, IterHint& hint) const;
    virtual bool next(EntryKey after, EntryConfig& cursor, IterHint& hint) const;
    // The record of `key`; false when the key is free or quarantined.
    bool recordFind(EntryKey key, EntryConfig& record) const;
    // Whether `key` has a live record as far as this object knows, without
    // reading the segment: for a key a walk has just handed out and checked.
    bool hasRecord(EntryKey key) const;

    // Writes a record for a new key, with no SDK handle yet. Throws
    // TableFullException when every key is taken.
    EntryConfig recordAlloc();
    // Frees `key`'s slot, whatever it held (a corrupt or quarantined record
    // included: its owner gave it up). False when the key was free already.
    bool recordDel(EntryKey key);
    // Records the SDK handle of `key`'s entry; the key must have a sound record.
    void sdkEntryHandleIs(EntryKey key, Kiv::U32 handle);

  protected:
    Dorvu::String isolateCorruptRecord() override;

  private:
    enum class SlotState { Free, Live, Quarantined, Corrupt };

    const Layout::HeaderImage& header() const noexcept;
    Layout::HeaderImage& header() noexcept;
    const Layout::CountersImage& counters() const noexcept;
    Layout::CountersImage& counters() noexcept;
    const Layout::RecordImage& record(Kiv::U64 slot) const noexcept;
    Layout::RecordImage& record(Kiv::U64 slot) noexcept;

    void initialise(Kiv::U64 capacity);
    void validate() const;
    void finishJournaledWrite();
    void survey();
    enum class Counted : Kiv::U8 { None, Live, Quarantined };
    void countAs(Kiv::U64 slot, Counted as) noexcept;
    MbbPostcodef::OpId nextOpId() noexcept;
    void recordWrite(Kiv::U64 slot, const Layout::RecordImage& image) noexcept;

    SlotState slotState(Kiv::U64 slot, Dorvu::String* problem = nullptr) const;
    Kiv::U64 slotOf(EntryKey key, const char* request) const;
    Dorvu::String corruptionMessage(Kiv::U64 slot, const Dorvu::String& problem) const;
    [[noreturn]] void throwCorrupt(Kiv::U64 slot, const Dorvu::String& problem) const;
    bool scan(Kiv::U64 slot, EntryConfig& cursor, IterHint& hint) const;
    bool takeFreeSlot(Kiv::U64 slot);
    EntryConfig entryConfig(Kiv::U64 slot) const noexcept;

    std::unique_ptr<Shm::Segment> segment_;
    Kiv::U8 deviceId_;
    Kiv::U16 pipeId_;
    // Read from the header once it checked out: every slot index is bounded by it.
    Kiv::U64 capacity_ = 0;
    Kiv::U64 recordCount_ = 0;
    Kiv::U64 quarantinedRecords_ = 0;
    // One past the last slot that is not free: walks stop there.
    Kiv::U64 scanEnd_ = 0;
    // No slot below it is free.
    Kiv::U64 lowestFreeBound_ = 0;
    // How each slot is counted in recordCount_ or quarantinedRecords_, so
    // that a record found corrupt after it was counted moves, not doubles.
    std::vector<Counted> counted_;
    // The slot behind the last corruption thrown, until it is isolated.
    mutable std::optional<Kiv::U64> pendingCorruptSlot_;
};

MbbZabroTableConfig::Ptr mbbZabroTableConfigFactory(
    Kiv::U8 deviceId, Kiv::U16 pipeId, Kiv::U64 capacity = MbbZabroTableConfig::kDefaultCapacity);

}  // namespace Zabro
