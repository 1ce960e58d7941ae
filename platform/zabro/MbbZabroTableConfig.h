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
// A found segment is used only when its header checks out (magic, layout
// version, sizes, device and pipe, checksum); otherwise it is refused and
// left untouched. A record whose checksum fails raises
// Dorvu::CorruptionDetectedException when a request reaches it;
// doCorruptionDetected then quarantines it in the segment itself.
//
// One object writes a segment at a time (one per process, one process at a
// time): counts, the walk's end and the free-slot search are this object's
// view, taken when it opened the segment. The class takes no locks.

#include <memory>
#include <optional>
#include <vector>

#include "kiv/Kiv.h"
#include "zabro/EntryConfig.h"
#include "zabro/ZabroException.h"
#include "zabro/ZabroMapBase.h"

namespace Zabro {

// The segment and its layout stay behind this class's source.
class ShmSegment;
namespace Layout {
struct HeaderImage;
struct RecordImage;
}  // namespace Layout

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
    static Dorvu::String segmentName(Kiv::U8 deviceId, Kiv::U16 pipeId);
    // Removes the segment's name (for tools and tests); processes that map it
    // keep their mapping. True when it existed.
    static bool segmentWipe(Kiv::U8 deviceId, Kiv::U16 pipeId);

    MbbZabroTableConfig(Kiv::U8 deviceId, Kiv::U16 pipeId, Kiv::U64 capacity);
    ~MbbZabroTableConfig() override;

    const Dorvu::String& name() const noexcept;
    Kiv::U8 deviceId() const noexcept { return deviceId_; }
    Kiv::U16 pipeId() const noexcept { return pipeId_; }
    Kiv::U64 capacity() const noexcept;
    // Whether this object created the segment rather than finding it.
    bool created() const noexcept;
    // Records of allocated keys.
    Kiv::U64 recordCount() const noexcept { return recordCount_; }
    Kiv::U64 quarantinedRecords() const noexcept { return quarantinedRecords_; }
    EntryKey highestAllocatedKey() const noexcept;
    void highestAllocatedKeyIs(EntryKey key);
    MbbPostcodef::OpId lastOpId() const noexcept;

    // Walk in ascending key order. Each fills `cursor` and `hint` and says
    // whether a record was found; a corrupt record on the way throws
    // Dorvu::CorruptionDetectedException naming the segment, slot, key and
    // check. Virtual so that a test can script a walk.
    virtual bool first(EntryConfig& cursor, IterHint& hint) const;
    virtual bool next(EntryKey after, EntryConfig& cursor, IterHint& hint) const;
    // The record of `key`; false when the key is free or quarantined.
    bool recordFind(EntryKey key, EntryConfig& record) const;

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
    const Layout::RecordImage& record(Kiv::U64 slot) const noexcept;
    Layout::RecordImage& record(Kiv::U64 slot) noexcept;

    void initialise(Kiv::U64 capacity);
    void validate() const;
    void survey();
    void liveCountedIs(Kiv::U64 slot, bool live) noexcept;
    void sealHeader() noexcept;
    MbbPostcodef::OpId nextOpId() noexcept;
    void recordWrite(Kiv::U64 slot, const Layout::RecordImage& image) noexcept;

    SlotState slotState(Kiv::U64 slot, Dorvu::String* problem = nullptr) const;
    Kiv::U64 slotOf(EntryKey key, const char* request) const;
    [[noreturn]] void throwCorrupt(Kiv::U64 slot, const Dorvu::String& problem) const;
    bool scan(Kiv::U64 slot, EntryConfig& cursor, IterHint& hint) const;
    bool takeFreeSlot(Kiv::U64 slot);
    EntryConfig entryConfig(Kiv::U64 slot) const noexcept;

    std::unique_ptr<ShmSegment> segment_;
    Kiv::U8 deviceId_;
    Kiv::U16 pipeId_;
    Kiv::U64 recordCount_ = 0;
    Kiv::U64 quarantinedRecords_ = 0;
    // One past the last slot that is not free: walks stop there.
    Kiv::U64 scanEnd_ = 0;
    // No slot below it is free.
    Kiv::U64 lowestFreeBound_ = 0;
    // Slots counted in recordCount_, so that freeing or quarantining a record
    // corrupted after it was counted keeps the count right.
    std::vector<bool> countedLive_;
    // The slot behind the last corruption thrown, until it is isolated.
    mutable std::optional<Kiv::U64> pendingCorruptSlot_;
};

MbbZabroTableConfig::Ptr mbbZabroTableConfigFactory(
    Kiv::U8 deviceId, Kiv::U16 pipeId, Kiv::U64 capacity = MbbZabroTableConfig::kDefaultCapacity);

}  // namespace Zabro
