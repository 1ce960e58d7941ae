#include "MbbZabroTableConfig.h"

#include <algorithm>
#include <cstdlib>

#include "ShmSegment.h"
#include "ZabroException.h"
#include "ZabroSegmentLayout.h"

namespace Zabro {

using Kiv::U16;
using Kiv::U32;
using Kiv::U64;
using Kiv::U8;
using Layout::HeaderImage;
using Layout::RecordImage;

namespace {

unsigned long long ull(U64 v) {
    return static_cast<unsigned long long>(v);
}

ShmSegment openSegment(U8 deviceId, U16 pipeId, U64 capacity) {
    const Dorvu::String name = MbbZabroTableConfig::segmentName(deviceId, pipeId);
    if (capacity == 0 || capacity > Layout::kMaxCapacity) {
        throw SegmentException(Kiv::_fmt("key segment %s: capacity %llu is outside 1..%llu",
                                         name.c_str(), ull(capacity), ull(Layout::kMaxCapacity)));
    }
    return ShmSegment::openOrCreate(name, Layout::segmentSize(capacity));
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

MbbZabroTableConfig::Ptr MbbZabroTableConfig::MbbZabroTableConfigIs(U8 deviceId, U16 pipeId,
                                                                    U64 capacity) {
    return Kiv::create<MbbZabroTableConfig>(deviceId, pipeId, capacity);
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
    return ShmSegment::unlink(segmentName(deviceId, pipeId));
}

const Dorvu::String& MbbZabroTableConfig::name() const noexcept {
    return segment_->name();
}
bool MbbZabroTableConfig::created() const noexcept {
    return segment_->created();
}
U64 MbbZabroTableConfig::capacity() const noexcept {
    return header().capacity;
}
MbbZabroTableConfig::EntryKey MbbZabroTableConfig::highestAllocatedKey() const noexcept {
    return header().highestAllocatedKey;
}
MbbPostcodef::OpId MbbZabroTableConfig::lastOpId() const noexcept {
    return header().lastOpId;
}

const HeaderImage& MbbZabroTableConfig::header() const noexcept {
    return *reinterpret_cast<const HeaderImage*>(segment_->base());
}
HeaderImage& MbbZabroTableConfig::header() noexcept {
    return *reinterpret_cast<HeaderImage*>(segment_->base());
}
const RecordImage& MbbZabroTableConfig::record(U64 slot) const noexcept {
    return *reinterpret_cast<const RecordImage*>(segment_->base() + Layout::recordOffset(slot));
}
RecordImage& MbbZabroTableConfig::record(U64 slot) noexcept {
    return *reinterpret_cast<RecordImage*>(segment_->base() + Layout::recordOffset(slot));
}

MbbZabroTableConfig::MbbZabroTableConfig(U8 deviceId, U16 pipeId, U64 capacity)
    : segment_(std::make_unique<ShmSegment>(openSegment(deviceId, pipeId, capacity))),
      deviceId_(deviceId),
      pipeId_(pipeId) {
    if (segment_->created()) {
        initialise(capacity);
        segment_->keep();
    } else {
        validate();
    }
    survey();
}

MbbZabroTableConfig::~MbbZabroTableConfig() {
    notificationIs(false);
}

void MbbZabroTableConfig::initialise(U64 capacity) {
    HeaderImage& h = header();
    h = HeaderImage{};
    h.magic = Layout::kMagic;
    h.layoutVersion = Layout::kLayoutVersion;
    h.headerSize = sizeof(HeaderImage);
    h.recordSize = sizeof(RecordImage);
    h.pipeId = pipeId_;
    h.deviceId = deviceId_;
    h.capacity = capacity;
    h.segmentSize = Layout::segmentSize(capacity);
    h.recordsOffset = Layout::kRecordsOffset;
    // Every slot starts as a sealed free record, so an all-zero record reads as corrupt.
    for (U64 slot = 0; slot < capacity; ++slot)
        recordWrite(slot, RecordImage{0, 0, slot + 1, 0, 0, 0});
    sealHeader();
}

void MbbZabroTableConfig::validate() const {
    const auto refuse = [this](const Dorvu::String& problem) {
        throw SegmentException(Kiv::_fmt(
            "key segment %s: %s; refusing to use it (MbbZabroTableConfig::segmentWipe removes it)",
            name().c_str(), problem.c_str()));
    };
    const U64 size = segment_->size();
    if (size < sizeof(HeaderImage)) {
        refuse(Kiv::_fmt("size %llu bytes is too small for its %zu-byte header", ull(size),
                         sizeof(HeaderImage)));
    }
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

void MbbZabroTableConfig::survey() {
    const U64 slots = capacity();
    countedLive_.assign(slots, false);
    recordCount_ = 0;
    quarantinedRecords_ = 0;
    scanEnd_ = 0;
    lowestFreeBound_ = slots;
    for (U64 slot = 0; slot < slots; ++slot) {
        const SlotState state = slotState(slot);
        if (state == SlotState::Free) {
            lowestFreeBound_ = std::min(lowestFreeBound_, slot);
            continue;
        }
        scanEnd_ = slot + 1;
        if (state == SlotState::Live)
            liveCountedIs(slot, true);
        if (state == SlotState::Quarantined)
            ++quarantinedRecords_;
    }
}

void MbbZabroTableConfig::liveCountedIs(U64 slot, bool live) noexcept {
    if (countedLive_[slot] == live)
        return;
    countedLive_[slot] = live;
    if (live) {
        ++recordCount_;
    } else {
        --recordCount_;
    }
}

void MbbZabroTableConfig::sealHeader() noexcept {
    header().checksum = Layout::headerChecksum(header());
}

MbbPostcodef::OpId MbbZabroTableConfig::nextOpId() noexcept {
    return ++header().lastOpId;
}

void MbbZabroTableConfig::recordWrite(U64 slot, const RecordImage& image) noexcept {
    RecordImage sealed = image;
    sealed.checksum = Layout::recordChecksum(sealed, slot);
    record(slot) = sealed;
}

void MbbZabroTableConfig::highestAllocatedKeyIs(EntryKey key) {
    header().highestAllocatedKey = key;
    sealHeader();
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

void MbbZabroTableConfig::throwCorrupt(U64 slot, const Dorvu::String& problem) const {
    pendingCorruptSlot_ = slot;
    throw Dorvu::CorruptionDetectedException(
        Kiv::_fmt("key segment %s: record in slot %llu (key %llu): %s", name().c_str(), ull(slot),
                  ull(slot + 1), problem.c_str()));
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
                throwCorrupt(slot, problem);
        }
    }
    return false;
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
    HeaderImage& h = header();
    h.highestAllocatedKey = std::max<U64>(h.highestAllocatedKey, slot + 1);
    sealHeader();
    liveCountedIs(slot, true);
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
    if (state == SlotState::Quarantined)
        --quarantinedRecords_;
    if (pendingCorruptSlot_ == slot)
        pendingCorruptSlot_.reset();
    recordWrite(slot, RecordImage{0, 0, key, nextOpId(), record(slot).generation, 0});
    sealHeader();
    liveCountedIs(slot, false);
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
    sealHeader();
}

Dorvu::String MbbZabroTableConfig::isolateCorruptRecord() {
    if (!pendingCorruptSlot_)
        return "no corrupt record to isolate";
    const U64 slot = *pendingCorruptSlot_;
    pendingCorruptSlot_.reset();
    if (slotState(slot) != SlotState::Corrupt) {
        return Kiv::_fmt("record in slot %llu is no longer corrupt", ull(slot));
    }
    RecordImage& r = record(slot);
    r.checksum = Layout::recordChecksum(r, slot) ^ Layout::kQuarantineMark;
    ++quarantinedRecords_;
    liveCountedIs(slot, false);
    return Kiv::_fmt("record in slot %llu (key %llu) quarantined, its bytes kept", ull(slot),
                     ull(slot + 1));
}

}  // namespace Zabro
