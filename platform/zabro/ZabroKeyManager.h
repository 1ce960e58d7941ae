#pragma once
// MbbZabroKey::ZabroKeyManager gives each entry a table installs a key and a
// record in the device and pipe's table config (MbbZabroTableConfig), which
// outlives the process. The record links the key to the entry's SDK handle,
// so that a restarted table can read its entries back and rebuild its
// bookkeeping; the key manager itself links keys to match objects in process
// memory only, as match objects do not outlive the process.
//
// The table library allocates a key before adding an entry, frees it when the
// add fails, and after a restart populates each key with the match it read
// back and restores the highest allocated key. The agent, which sees the
// handle a table assigned, records it with sdkEntryHandleIs and, after
// deleting an entry, frees the key it finds with key(match).
//
// The requests the table library makes are virtual, so that its tests can
// stand in for the key manager (and, through the table config it is given,
// for the walk).

#include <vector>

#include "bfntable/BfnTable.h"
#include "kiv/Kiv.h"
#include "zabro/MbbZabroTableConfig.h"

namespace MbbZabroKey {

class ZabroKeyManager : public Kiv::PtrInterface {
    KIV_CLASS(ZabroKeyManager)

  public:
    using Ptr = Dorvu::Ptr<ZabroKeyManager>;
    using PtrConst = Dorvu::Ptr<const ZabroKeyManager>;
    using EntryKey = Zabro::MbbPostcodef::EntryKey;
    using MatchPtrConst = BfnTable::MatchSpecBase::PtrConst;

    static constexpr Kiv::U64 kDefaultCapacity = Zabro::MbbZabroTableConfig::kDefaultCapacity;

    // Opens (or creates) the table config of `deviceId`/`pipeId`; `capacity`
    // applies only when the segment is created. Throws Zabro::SegmentException
    // for a segment that cannot be used.
    static Ptr ZabroKeyManagerIs(Kiv::U8 deviceId, Kiv::U16 pipeId,
                                 Kiv::U64 capacity = kDefaultCapacity);
    // Keeps its keys in `tableConfig`, which must not be null.
    static Ptr ZabroKeyManagerIs(const Zabro::MbbZabroTableConfig::Ptr& tableConfig);
    ZabroKeyManager(Kiv::U8 deviceId, Kiv::U16 pipeId, Kiv::U64 capacity);
    explicit ZabroKeyManager(const Zabro::MbbZabroTableConfig::Ptr& tableConfig);
    ~ZabroKeyManager() override;

    Kiv::U8 deviceId() const noexcept { return tableConfig_->deviceId(); }
    Kiv::U16 pipeId() const noexcept { return tableConfig_->pipeId(); }
    // Never null here; virtual so that a test can stand for a key manager without one.
    virtual Zabro::MbbZabroTableConfig::Ptr mbbZabroTableConfig() const noexcept {
        return tableConfig_;
    }
    // Persisted in the table config; a new key follows it.
    EntryKey highestAllocatedKey() const noexcept { return tableConfig_->highestAllocatedKey(); }
    virtual void highestAllocatedKeyIs(EntryKey key) { tableConfig_->highestAllocatedKeyIs(key); }
    Kiv::U64 recordCount() const noexcept { return tableConfig_->recordCount(); }
    // Keys bound to a match object in this process.
    Kiv::U64 boundKeyCount() const noexcept { return boundCount_; }

    // A new non-zero key for `match`, with a record whose SDK handle is still
    // unset. With `reuseBound` a match that has a key already gets that key
    // back; without it the match is rebound to the new key and its old key
    // keeps its record until freed. Throws Zabro::TableFullException when
    // every key is taken, Kiv::Exception for a null match.
    virtual EntryKey alloc(const MatchPtrConst& match, bool reuseBound);
    // Removes `key`'s record and binding; a free key is left as it is.
    virtual void free(EntryKey key);
    // Binds `key` to `match` after a restart. A null match means the entry is
    // no longer in the hardware (it could not be read back): the key's record
    // is dropped and the key freed. Throws Zabro::KeyException for key 0, a
    // key beyond the capacity, or a non-null match for a key without a record.
    virtual void populate(EntryKey key, const MatchPtrConst& match);
    // Records the SDK handle the table assigned to `key`'s entry.
    void sdkEntryHandleIs(EntryKey key, Kiv::U32 handle);
    // The key bound to `match` in this process; 0 when none.
    EntryKey key(const MatchPtrConst& match) const noexcept;
    // The match bound to `key` in this process; null when none.
    MatchPtrConst match(EntryKey key) const noexcept;

  private:
    void bind(EntryKey key, const MatchPtrConst& match);
    void unbindKey(EntryKey key) noexcept;

    Zabro::MbbZabroTableConfig::Ptr tableConfig_;
    // Indexed by slot (key - 1); holds the reference that keeps a bound match alive.
    std::vector<MatchPtrConst> matchOfSlot_;
    Kiv::U64 boundCount_ = 0;
    // A bound match's key is in its key slot, unless another key manager
    // holds that slot: then it is here.
    Kiv::HashMap2018<const BfnTable::MatchSpecBase, EntryKey> keyOfOthers_;
};

ZabroKeyManager::Ptr zabroKeyManagerFactory(const Zabro::MbbZabroTableConfig::Ptr& tableConfig);
ZabroKeyManager::Ptr zabroKeyManagerFactory(Kiv::U8 deviceId, Kiv::U16 pipeId,
                                            Kiv::U64 capacity = ZabroKeyManager::kDefaultCapacity);

}  // namespace MbbZabroKey
