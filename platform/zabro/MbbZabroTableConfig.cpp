#include "MbbZabroTableConfig.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>

#include "ZabroException.h"
#include "ZabroSegmentLayout.h"
#include "shm/Segment.h"

namespace Zabro {

using Kiv::U16;
using Kiv::U32;
using Kiv::U64;
using Kiv::U8;
using Layout::CountersImage;
using Layout::HeaderImage;
using Layout::RecordImage;

namespace {

unsigned long long ull(U64 v) {
    return static_cast<unsigned long long>(v);
}

constexpr const char* kKind = "key segment";

Shm::Segment openSegment(U8 deviceId, U16 pipeId, U64 capacity, MbbZabroTableConfig::View view) {
    const Dorvu::String name = MbbZabroTableConfig::segmentName(deviceId, pipeId);
    if (capacity == 0 || capacity > Layout::kMaxCapacity) {
        throw SegmentException(Kiv::_fmt("%s %s: capacity %llu is outside 1..%llu", kKind,
                                         name.c_str(), ull(capacity), ull(Layout::kMaxCapacity)));
    }
    try {
        const Shm::Segment::Shape shape{kKind, Layout::kRecordsOffset,
                                        Layout::segmentSize(capacity)};
        return view == MbbZabroTableConfig::View::Snapshot
                   ? Shm::Segment::openSnapshot(name, shape)
                   : Shm::Segment::openOrCreate(name, shape);
    } catch (const Shm::Error& e) {
        throw SegmentException(e.what());
    }
}

// Every store to the segment goes through one of these two, so that a test
// can stop the process before any of them.
template <class T>
void put(T& field, T value) noexcept {
    if (Layout::storeHook)
        Layout::storeHook();
    field = value;
}

// A store that later stores depend on: the compiler keeps every store before
// it before, and every store after it after, so a kill sees them in order.
template <class T>
void commit(T& field, T value) noexcept {
    if (Layout::storeHook)
        Layout::storeHook();
    std::atomic_signal_fence(std::memory_order_seq_cst);
    std::atomic_ref<T>(field).store(value, std::memory_order_relaxed);
    std::atomic_signal_fence(std::memory_order_seq_cst);
}

// Writes `image` over `to` field by field, its checksum last.
void copyRecord(RecordImage& to, const RecordImage& image) noexcept {
    put(to.sdkEntryHandle, image.sdkEntryHandle);
    put(to.flags, image.flags);
    put(to.key, image.key);
    put(to.opId, image.opId);
    put(to.generation, image.generation);
    commit(to.checksum, image.checksum);
}

}  // namespace

Kiv::MemAllocationTracker MbbZabroTableConfig::memAllocationTracker_{"Zabro::MbbZabroTableConfig"};

const Kiv::TypeInfo& MbbZabroTableConfig::kivTypeInfo() {
    using C = MbbZabroTableConfig;
    static const Kiv::TypeInfo type{
        "Zabro::MbbZabroTableConfig",
        &ZabroMapBase::kivTypeInfo(),
        {
            Kiv::readOnlyAttribute<&C::name>("name"),
            Kiv::readOnlyAttribute<&C::deviceId>("deviceId"),
            Kiv::readOnlyAttribute<&C::pipeId>("pipeId"),
            Kiv::readOnlyAttribute<&C::capacity>("capacity"),
            Kiv::readOnlyAttribute<&C::created>("created"),
            Kiv::readOnlyAttribute<&C::recordCount>("recordCount"),
            Kiv::readOnlyAttribute<&C::quarantinedRecords>("quarantinedRecords"),
            Kiv::attribute<&C::highestAllocatedKey, &C::highestAllocatedKeyIs>(
                "highestAllocatedKey"),
            Kiv::readOnlyAttribute<&C::lastOpId>("lastOpId"),
        },
        {
            Kiv::operation<&C::recordDel>("recordDel"),
            Kiv::operation<&C::sdkEntryHandleIs>("sdkEntryHandleIs"),
        }};
    return type;
}

// Registered when the library is loaded, so generic code finds the type by name.
namespace {
const Kiv::TypeRegistration registration{&MbbZabroTableConfig::kivTypeInfo};
}

const Dorvu::String& MbbZabroTableConfig::name() const noexcept {
    return segment_->name();
}
bool MbbZabroTableConfig::created() const noexcept {
    return segment_->created();
}
// A hint for the next key; a value beyond the capacity reads as the capacity.
MbbZabroTableConfig::EntryKey MbbZabroTableConfig::highestAllocatedKey() const noexcept {
    return std::min(counters().highestAllocatedKey, capacity_);
}
MbbPostcodef::OpId MbbZabroTableConfig::lastOpId() const noexcept {
    return counters().lastOpId;
}
const Layout::HeaderImage& MbbZabroTableConfig::header() const noexcept {
    return *reinterpret_cast<const Layout::HeaderImage*>(segment_->base());
}
Layout::HeaderImage& MbbZabroTableConfig::header() noexcept {
    return *reinterpret_cast<Layout::HeaderImage*>(segment_->base());
}
const Layout::CountersImage& MbbZabroTableConfig::counters() const noexcept {
    return *reinterpret_cast<const Layout::CountersImage*>(segment_->base() +
                                                           Layout::kCountersOffset);
}
Layout::CountersImage& MbbZabroTableConfig::counters() noexcept {
    return *reinterpret_cast<Layout::CountersImage*>(segment_->base() + Layout::kCountersOffset);
}
const Layout::RecordImage& MbbZabroTableConfig::record(U64 slot) const noexcept {
    return *reinterpret_cast<const Layout::RecordImage*>(segment_->base() +
                                                         Layout::recordOffset(slot));
}
Layout::RecordImage& MbbZabroTableConfig::record(U64 slot) noexcept {
    return *reinterpret_cast<Layout::RecordImage*>(segment_->base() + Layout::recordOffset(slot));
}

MbbZabroTableConfig::Ptr MbbZabroTableConfig::MbbZabroTableConfigIs(U8 deviceId, U16 pipeId,
                                                                    U64 capacity) {
    return Kiv::create<MbbZabroTableConfig>(deviceId, pipeId, capacity);
}

MbbZabroTableConfig::Ptr MbbZabroTableConfig::snapshotIs(U8 deviceId, U16 pipeId, U64 capacity) {
    return Kiv::create<MbbZabroTableConfig>(deviceId, pipeId, capacity, View::Snapshot);
}

MbbZabroTableConfig::Ptr mbbZabroTableConfigFactory(U8 deviceId, U16 pipeId, U64 capacity) {
    return MbbZabroTableConfig::MbbZabroTableConfigIs(deviceId, pipeId, capacity);
}

Dorvu::String MbbZabroTableConfig::segmentName(U8 deviceId, U16 pipeId) {
    const char* prefix = std::getenv("OLVANE_SHM_PREFIX");
    if (!prefix || !*prefix)
        prefix = "olvane";
    return Kiv::_fmt("/%s_keys_dev%u_pipe%u", prefix, unsigned{deviceId}, unsigned{pipeId});
}

bool MbbZabroTableConfig::segmentWipe(U8 deviceId, U16 pipeId) {
    try {
        return Shm::Segment::unlink(kKind, segmentName(deviceId, pipeId));
    } catch (const Shm::Error& e) {
        throw SegmentException(e.what());
    }
}

MbbZabroTableConfig::MbbZabroTableConfig(U8 deviceId, U16 pipeId, U64 capacity, View view)
    : segment_(std::make_unique<Shm::Segment>(openSegment(deviceId, pipeId, capacity, view))),
      deviceId_(deviceId),
      pipeId_(pipeId) {
    if (segment_->created()) {
        initialise(capacity);
    } else {
        validate();
    }
    capacity_ = header().capacity;
    finishJournaledWrite();
    survey();
}

MbbZabroTableConfig::~MbbZabroTableConfig() {
    notificationIs(false);
}

void MbbZabroTableConfig::initialise(U64 capacity) {
    HeaderImage& h = header();
    h = HeaderImage{};  // the magic stays 0 until everything else is there
    h.layoutVersion = Layout::kLayoutVersion;
    h.headerSize = sizeof(HeaderImage);
    h.recordSize = sizeof(RecordImage);
    h.pipeId = pipeId_;
    h.deviceId = deviceId_;
    h.capacity = capacity;
    h.segmentSize = Layout::segmentSize(capacity);
    h.recordsOffset = Layout::kRecordsOffset;
    h.checksum = Layout::headerChecksum(h);
    // Every slot starts as a sealed free record, so an all-zero record reads as corrupt.
    for (U64 slot = 0; slot < capacity; ++slot) {
        RecordImage r{0, 0, slot + 1, 0, 0, 0};
        r.checksum = Layout::recordChecksum(r, slot);
        copyRecord(record(slot), r);
    }
    // The last store: until it lands, an opener takes the segment for half-made.
    segment_->markComplete(Layout::kMagic);
}

void MbbZabroTableConfig::validate() const {
    const auto refuse = [this](const Dorvu::String& problem) {
        throw SegmentException(Kiv::_fmt(
            "key segment %s: %s; refusing to use it (MbbZabroTableConfig::segmentWipe removes it)",
            name().c_str(), problem.c_str()));
    };
    const U64 size = segment_->size();
    const HeaderImage& h = header();
    if (h.magic != Layout::kMagic) {
        refuse(Kiv::_fmt("bad magic 0x%016llx, expected 0x%016llx", ull(h.magic),
                         ull(Layout::kMagic)));
    }
    if (h.layoutVersion != Layout::kLayoutVersion) {
        refuse(Kiv::_fmt("layout version %u, this build reads version %u", h.layoutVersion,
                         Layout::kLayoutVersion));
    }
    const U32 sum = Layout::headerChecksum(h);
    if (h.checksum != sum) {
        refuse(Kiv::_fmt("header checksum 0x%08x does not match the computed 0x%08x", h.checksum,
                         sum));
    }
    if (h.headerSize != sizeof(HeaderImage) || h.recordSize != sizeof(RecordImage) ||
        h.recordsOffset != Layout::kRecordsOffset) {
        refuse(Kiv::_fmt("header size %u, record size %u, records at %llu; expected %zu, %zu, %llu",
                         h.headerSize, h.recordSize, ull(h.recordsOffset), sizeof(HeaderImage),
                         sizeof(RecordImage), ull(Layout::kRecordsOffset)));
    }
    if (h.capacity == 0 || h.capacity > Layout::kMaxCapacity ||
        h.segmentSize != Layout::segmentSize(h.capacity) || size != h.segmentSize) {
        refuse(Kiv::_fmt("size %llu bytes does not fit capacity %llu (header says %llu bytes)",
                         ull(size), ull(h.capacity), ull(h.segmentSize)));
    }
    if (h.deviceId != deviceId_ || h.pipeId != pipeId_) {
        refuse(
            Kiv::_fmt("header names device %u pipe %u", unsigned{h.deviceId}, unsigned{h.pipeId}));
    }
}

void MbbZabroTableConfig::finishJournaledWrite() {
    CountersImage& c = counters();
    const U64 pending = c.journalSlot;
    if (pending == 0)
        return;
    const U64 slot = pending - 1;
    if (pending > capacity()) {
        doCorruptionDetected(Kiv::_fmt("key segment %s: the journal names slot %llu of %llu",
                                       name().c_str(), ull(slot), ull(capacity())));
    } else if (const RecordImage image = c.journalRecord;
               image.checksum != Layout::recordChecksum(image, slot)) {
        doCorruptionDetected(Kiv::_fmt(
            "key segment %s: the journal's image for slot %llu fails its checksum; the record "
            "stays as it is",
            name().c_str(), ull(slot)));
    } else {
        // The write was committed when it stopped: complete it.
        copyRecord(record(slot), image);
    }
    commit(c.journalSlot, U64{0});
}

// Counts and bounds from the records' flags alone: no checksum is computed
// here, so a restart costs one pass over the memory. A record is checked
// when a request or walk reaches it; one that turns out corrupt then moves
// from its count to the quarantined one.
void MbbZabroTableConfig::survey() {
    const U64 slots = capacity();
    counted_.assign(slots, Counted::None);
    recordCount_ = 0;
    quarantinedRecords_ = 0;
    scanEnd_ = 0;
    lowestFreeBound_ = slots;
    U64 highestOpId = counters().lastOpId;
    for (U64 slot = 0; slot < slots; ++slot) {
        const RecordImage& r = record(slot);
        const Counted as = (r.flags & Layout::kRecordQuarantined) ? Counted::Quarantined
                           : (r.flags & Layout::kRecordLive)      ? Counted::Live
                                                                  : Counted::None;
        if (as == Counted::None)
            lowestFreeBound_ = std::min(lowestFreeBound_, slot);
        // Walks cover every slot ever written, so that damage there is reported: a slot
        // counts as written unless every field but the checksum is as creation left it.
        if (r.sdkEntryHandle != 0 || r.flags != 0 || r.key != slot + 1 || r.opId != 0 ||
            r.generation != 0)
            scanEnd_ = slot + 1;
        counted_[slot] = as;
        recordCount_ += as == Counted::Live;
        quarantinedRecords_ += as == Counted::Quarantined;
        highestOpId = std::max(highestOpId, r.opId);
    }
    // A damaged counter must not hand out an operation id a record holds already.
    if (highestOpId != counters().lastOpId)
        put(counters().lastOpId, highestOpId);
}

void MbbZabroTableConfig::countAs(U64 slot, Counted as) noexcept {
    Counted& was = counted_[slot];
    recordCount_ -= was == Counted::Live;
    quarantinedRecords_ -= was == Counted::Quarantined;
    recordCount_ += as == Counted::Live;
    quarantinedRecords_ += as == Counted::Quarantined;
    was = as;
}

MbbPostcodef::OpId MbbZabroTableConfig::nextOpId() noexcept {
    const MbbPostcodef::OpId id = counters().lastOpId + 1;
    put(counters().lastOpId, id);
    return id;
}

// The journaled write: intent, commit, record, clear (see ZabroSegmentLayout.h).
void MbbZabroTableConfig::recordWrite(U64 slot, const RecordImage& image) noexcept {
    RecordImage sealed = image;
    sealed.checksum = Layout::recordChecksum(sealed, slot);
    CountersImage& c = counters();
    copyRecord(c.journalRecord, sealed);
    commit(c.journalSlot, slot + 1);
    copyRecord(record(slot), sealed);
    commit(c.journalSlot, U64{0});
}

void MbbZabroTableConfig::highestAllocatedKeyIs(EntryKey key) {
    put(counters().highestAllocatedKey, key);
}

MbbZabroTableConfig::SlotState MbbZabroTableConfig::slotState(U64 slot,
                                                              Dorvu::String* problem) const {
    const RecordImage& r = record(slot);
    const U32 sum = Layout::recordChecksum(r, slot);
    if (r.checksum == (sum ^ Layout::kQuarantineMark))
        return SlotState::Quarantined;
    const auto corrupt = [problem](Dorvu::String what) {
        if (problem)
            *problem = std::move(what);
        return SlotState::Corrupt;
    };
    if (r.checksum != sum) {
        return corrupt(
            Kiv::_fmt("checksum 0x%08x does not match the computed 0x%08x", r.checksum, sum));
    }
    if (r.key != slot + 1)
        return corrupt(Kiv::_fmt("the record holds key %llu", ull(r.key)));
    if (r.flags & ~Layout::kKnownRecordFlags) {
        return corrupt(Kiv::_fmt("unknown flags 0x%08x", r.flags));
    }
    return (r.flags & Layout::kRecordLive) ? SlotState::Live : SlotState::Free;
}

U64 MbbZabroTableConfig::slotOf(EntryKey key, const char* request) const {
    if (key == 0 || key > capacity()) {
        throw KeyException(Kiv::_fmt("key segment %s: %s: key %llu is outside 1..%llu",
                                     name().c_str(), request, ull(key), ull(capacity())));
    }
    return key - 1;
}

Dorvu::String MbbZabroTableConfig::corruptionMessage(U64 slot, const Dorvu::String& problem) const {
    return Kiv::_fmt("key segment %s: record in slot %llu (key %llu): %s", name().c_str(),
                     ull(slot), ull(slot + 1), problem.c_str());
}

void MbbZabroTableConfig::throwCorrupt(U64 slot, const Dorvu::String& problem) const {
    pendingCorruptSlot_ = slot;
    throw Dorvu::CorruptionDetectedException(corruptionMessage(slot, problem));
}

MbbZabroTableConfig::EntryConfig MbbZabroTableConfig::entryConfig(U64 slot) const noexcept {
    const RecordImage& r = record(slot);
    return EntryConfig(r.key, r.opId, r.sdkEntryHandle, r.flags & ~Layout::kRecordLive,
                       r.generation);
}

bool MbbZabroTableConfig::first(EntryConfig& cursor, IterHint& hint) const {
    return scan(0, cursor, hint);
}

bool MbbZabroTableConfig::next(EntryKey after, EntryConfig& cursor, IterHint& hint) const {
    // Key `after` lives in slot after-1, so what follows it starts at slot `after`.
    const bool resume = hint.map_ == this && hint.key_ == after && after != 0;
    return scan(resume ? hint.slot_ + 1 : after, cursor, hint);
}

// A corrupt record on the way is reported (and so quarantined) and passed:
// it costs that record alone, never the rest of the walk.
bool MbbZabroTableConfig::scan(U64 slot, EntryConfig& cursor, IterHint& hint) const {
    Dorvu::String problem;
    for (; slot < scanEnd_; ++slot) {
        switch (slotState(slot, &problem)) {
            case SlotState::Live:
                cursor = entryConfig(slot);
                hint.map_ = this;
                hint.slot_ = slot;
                hint.key_ = slot + 1;
                return true;
            case SlotState::Free:
            case SlotState::Quarantined:
                break;
            case SlotState::Corrupt:
                pendingCorruptSlot_ = slot;
                // Walks are const to their callers; the quarantine is the map's own business.
                const_cast<MbbZabroTableConfig*>(this)->doCorruptionDetected(
                    corruptionMessage(slot, problem));
                break;
        }
    }
    return false;
}

bool MbbZabroTableConfig::hasRecord(EntryKey key) const {
    return counted_[slotOf(key, "hasRecord")] == Counted::Live;
}

bool MbbZabroTableConfig::recordFind(EntryKey key, EntryConfig& found) const {
    const U64 slot = slotOf(key, "recordFind");
    Dorvu::String problem;
    switch (slotState(slot, &problem)) {
        case SlotState::Live:
            found = entryConfig(slot);
            return true;
        case SlotState::Free:
        case SlotState::Quarantined:
            return false;
        case SlotState::Corrupt:
            throwCorrupt(slot, problem);
    }
    return false;
}

bool MbbZabroTableConfig::takeFreeSlot(U64 slot) {
    if (slotState(slot) != SlotState::Free)
        return false;
    const U32 generation = record(slot).generation + 1;
    recordWrite(slot, RecordImage{0, Layout::kRecordLive, slot + 1, nextOpId(), generation, 0});
    if (slot + 1 > counters().highestAllocatedKey)
        put(counters().highestAllocatedKey, slot + 1);
    countAs(slot, Counted::Live);
    scanEnd_ = std::max(scanEnd_, slot + 1);
    return true;
}

MbbZabroTableConfig::EntryConfig MbbZabroTableConfig::recordAlloc() {
    const U64 slots = capacity();
    // Key highest+1 lives in slot `highest`.
    const U64 highest = highestAllocatedKey();
    if (highest < slots && takeFreeSlot(highest))
        return entryConfig(highest);
    for (U64 slot = lowestFreeBound_; slot < slots; ++slot) {
        if (takeFreeSlot(slot)) {
            lowestFreeBound_ = slot + 1;
            return entryConfig(slot);
        }
    }
    lowestFreeBound_ = slots;
    throw TableFullException(
        Kiv::_fmt("key segment %s: all %llu keys are allocated", name().c_str(), ull(slots)));
}

bool MbbZabroTableConfig::recordDel(EntryKey key) {
    const U64 slot = slotOf(key, "recordDel");
    const SlotState state = slotState(slot);
    if (state == SlotState::Free)
        return false;
    if (pendingCorruptSlot_ == slot)
        pendingCorruptSlot_.reset();
    recordWrite(slot, RecordImage{0, 0, key, nextOpId(), record(slot).generation, 0});
    countAs(slot, Counted::None);
    lowestFreeBound_ = std::min(lowestFreeBound_, slot);
    return true;
}

void MbbZabroTableConfig::sdkEntryHandleIs(EntryKey key, U32 handle) {
    const U64 slot = slotOf(key, "sdkEntryHandleIs");
    Dorvu::String problem;
    switch (slotState(slot, &problem)) {
        case SlotState::Live:
            break;
        case SlotState::Free:
            throw KeyException(Kiv::_fmt("key segment %s: sdkEntryHandleIs: key %llu has no record",
                                         name().c_str(), ull(key)));
        case SlotState::Quarantined:
            throw KeyException(
                Kiv::_fmt("key segment %s: sdkEntryHandleIs: key %llu is quarantined",
                          name().c_str(), ull(key)));
        case SlotState::Corrupt:
            throwCorrupt(slot, problem);
    }
    RecordImage r = record(slot);
    r.sdkEntryHandle = handle;
    r.flags |= MbbPostcodef::EntryConfig::kFlagHandleSet;
    r.opId = nextOpId();
    recordWrite(slot, r);
}

Dorvu::String MbbZabroTableConfig::isolateCorruptRecord() {
    if (!pendingCorruptSlot_)
        return "no corrupt record to isolate";
    const U64 slot = *pendingCorruptSlot_;
    pendingCorruptSlot_.reset();
    if (slotState(slot) != SlotState::Corrupt) {
        return Kiv::_fmt("record in slot %llu is no longer corrupt", ull(slot));
    }
    // Flag first, then the checksum: a kill between the two leaves a record
    // that is still corrupt, and is isolated again when next reached.
    RecordImage& r = record(slot);
    put(r.flags, r.flags | Layout::kRecordQuarantined);
    commit(r.checksum, Layout::recordChecksum(r, slot) ^ Layout::kQuarantineMark);
    countAs(slot, Counted::Quarantined);
    return Kiv::_fmt("record in slot %llu (key %llu) quarantined, its bytes kept", ull(slot),
                     ull(slot + 1));
}

}  // namespace Zabro
