#pragma once
// The table front: the per-table helper with its SDK handle map, the abstract
// table with its two backends, and the creation functions.

#include <cassert>

#include "Export.h"
#include "TableExceptions.h"
#include "ValueModel.h"
#include "bfntable/BfnTable.h"
#include "bfntable/StatusManager.h"
#include "kiv/Kiv.h"
#include "pdintf/BfPdTwiceNatAddrPortIntf.h"
#include "zabro/ZabroKeyManager.h"

namespace BfTwiceNatAddrPort {

// The library's trace handle, "BfTwiceNatAddrPort", made on first use; table
// operations write at level 9. Inline so that a check costs a load and a branch.
BF_TWICE_NAT_ADDR_PORT_API inline Kiv::TraceHandle& traceHandle() {
    static Kiv::TraceHandle handle("BfTwiceNatAddrPort");
    return handle;
}
inline constexpr int kTraceLevel = 9;

// Which match spec object is installed under which SDK entry handle. Keys are
// match spec objects compared by identity; the map keeps each key alive. The
// handle is also kept in the match's handle slot when this map holds it, so
// that programming an entry, which has the match at hand, need not probe.
class BF_TWICE_NAT_ADDR_PORT_API TwiceNatAddrPortTableHandles : public Kiv::Entity {
    KIV_CLASS(TwiceNatAddrPortTableHandles)

  public:
    using Ptr = Dorvu::Ptr<TwiceNatAddrPortTableHandles>;
    using PtrConst = Dorvu::Ptr<const TwiceNatAddrPortTableHandles>;
    using MatchPtrConst = TwiceNatAddrPortMatchSpec::PtrConst;
    using Map = Kiv::HashMap2018<const TwiceNatAddrPortMatchSpec, BfnTable::BfnSdkEntryHandle>;
    using HN_Entry = Map::Node;

    TwiceNatAddrPortTableHandles() = default;
    ~TwiceNatAddrPortTableHandles() override;
    static Ptr TwiceNatAddrPortTableHandlesIs();

    // Inserts the pair, or replaces the handle of a key already present.
    void entryIs(const MatchPtrConst& match, BfnTable::BfnSdkEntryHandle sdkHandle);
    // The handle that was stored, 0 when `match` was absent.
    BfnTable::BfnSdkEntryHandle entryDel(const MatchPtrConst& match);
    BfnTable::BfnSdkEntryHandle entry(const MatchPtrConst& match) const noexcept {
        const BfnTable::BfnSdkEntryHandle* h = entryFind(match);
        return h ? *h : 0;
    }
    // The stored handle, or null when `match` is absent: presence and handle
    // in one probe, which reads the match's address only, not the match.
    const BfnTable::BfnSdkEntryHandle* entryFind(const MatchPtrConst& match) const noexcept {
        return entries_.find(match.ptr());
    }
    // The same answer read from the match's handle slot where it can be, for
    // a caller that has the match in the cache already (programming an entry).
    const BfnTable::BfnSdkEntryHandle* entryFindInMatch(const MatchPtrConst& match) const noexcept {
        if (match) {
            const BfnTable::MatchHandleSlot& slot = match->handleSlot();
            if (slot.owner == this)
                return &slot.handle;
            if (slot.elsewhere == 0)
                return nullptr;
        }
        return entries_.find(match.ptr());
    }
    bool entryHas(const MatchPtrConst& match) const noexcept { return entryFind(match) != nullptr; }
    // Room for `count` entries in an empty map, so a resync never grows it.
    void entryReserve(std::size_t count) { entries_.reserve(count); }
    // Starts loading what entryIs or entryDel of `match` will reach in the map.
    void entryPrefetch(const MatchPtrConst& match) const noexcept {
        entries_.prefetch(match.ptr());
    }
    std::size_t entryCount() const noexcept { return entries_.size(); }
    // Visits the pairs in the map's own order, from `start` when it is given.
    template <class F>
    void entryForEach(F&& visit, const TwiceNatAddrPortMatchSpec* start = nullptr) const {
        entries_.forEachFrom(start, std::forward<F>(visit));
    }

  private:
    void slotLeave(BfnTable::MatchHandleSlot& slot) const noexcept;

    Map entries_;
};

BF_TWICE_NAT_ADDR_PORT_API TwiceNatAddrPortTableHandles::Ptr twiceNatAddrPortTableHandlesFactory();

// The device and pipe that a table programs, the PD interface object through
// which it reaches the SDK, and its handle map.
class BF_TWICE_NAT_ADDR_PORT_API TwiceNatAddrPortTableHelper : public Kiv::PtrInterface {
    KIV_CLASS(TwiceNatAddrPortTableHelper)

  public:
    using Ptr = Dorvu::Ptr<TwiceNatAddrPortTableHelper>;
    using PtrConst = Dorvu::Ptr<const TwiceNatAddrPortTableHelper>;
    using PdLib = BfPdTwiceNatAddrPort::BfPdTwiceNatAddrPortIntf;

    // 0xFFFF as `devPipeId` stands for all pipes of the device.
    TwiceNatAddrPortTableHelper(U8 deviceId, U16 devPipeId) noexcept
        : deviceId_(deviceId), devPipeId_(devPipeId) {}
    ~TwiceNatAddrPortTableHelper() override;
    static Ptr TwiceNatAddrPortTableHelperIs(U8 deviceId, U16 devPipeId);

    U8 deviceId() const noexcept { return deviceId_; }
    U16 devPipeId() const noexcept { return devPipeId_; }

    const TwiceNatAddrPortTableHandles::Ptr& sdkHandles() const noexcept { return sdkHandles_; }
    TwiceNatAddrPortTableHandles::Ptr sdkHandlesIs();
    TwiceNatAddrPortTableHandles::Ptr sdkHandlesDel() noexcept { return std::move(sdkHandles_); }

    const PdLib::Ptr& pdLib() const noexcept { return pdLib_; }
    // Rewrites the session and library handle of the present PD interface
    // object, and keeps it when its name is `pdLibName`; otherwise replaces it.
    PdLib::Ptr pdLibIs(const Kiv::String& pdLibName, Kiv::VoidPtr dlHandle, U32 sessionId);
    PdLib::Ptr pdLibDel() noexcept { return std::move(pdLib_); }

  private:
    U8 deviceId_;
    U16 devPipeId_;
    TwiceNatAddrPortTableHandles::Ptr sdkHandles_;
    PdLib::Ptr pdLib_;
};

BF_TWICE_NAT_ADDR_PORT_API TwiceNatAddrPortTableHelper::Ptr twiceNatAddrPortTableHelperFactory(
    U8 deviceId, U16 devPipeId);

// The twiceNatAddrPort table as the agent drives it. The four hardware
// operations are the backends'; the base versions must never be reached.
class BF_TWICE_NAT_ADDR_PORT_API TwiceNatAddrPortTable : public Kiv::Entity {
    KIV_CLASS(TwiceNatAddrPortTable)

  public:
    using Ptr = Dorvu::Ptr<TwiceNatAddrPortTable>;
    using PtrConst = Dorvu::Ptr<const TwiceNatAddrPortTable>;
    using KeyManager = MbbZabroKey::ZabroKeyManager;
    using StatusManager = BfnTableStatusManager::StatusManager;

    TwiceNatAddrPortTable(const TwiceNatAddrPortTableHelper::Ptr& helper,
                          const KeyManager::Ptr& zabroKeyManager,
                          const StatusManager::Ptr& statusManager);
    ~TwiceNatAddrPortTable() override;
    static Ptr TwiceNatAddrPortTableIs(const TwiceNatAddrPortTableHelper::Ptr& helper,
                                       const KeyManager::Ptr& zabroKeyManager,
                                       const StatusManager::Ptr& statusManager);

    const TwiceNatAddrPortTableHelper::Ptr& helper() const noexcept { return helper_; }
    const KeyManager::Ptr& zabroKeyManager() const noexcept { return zabroKeyManager_; }
    const StatusManager::Ptr& statusManager() const noexcept { return statusManager_; }
    bool useBfRt() const noexcept { return useBfRt_; }
    void useBfRtIs(bool useBfRt) noexcept { useBfRt_ = useBfRt; }
    // The match spec object that stands for the table's default entry.
    const TwiceNatAddrPortMatchSpec::Ptr& defaultMatchSpec() const noexcept {
        return defaultMatchSpec_;
    }
    TwiceNatAddrPortMatchSpec::Ptr defaultMatchSpecIs();
    TwiceNatAddrPortMatchSpec::Ptr defaultMatchSpecDel() noexcept {
        return std::move(defaultMatchSpec_);
    }

    virtual void entryIs(const TwiceNatAddrPortTableEntry& entry);
    virtual void entryDel(const TwiceNatAddrPortMatchSpec::PtrConst& match);
    virtual TwiceNatAddrPortTableEntry entryByHandle(BfnTable::BfnSdkEntryHandle sdkHandle) const;
    virtual void initializeTable(const TwiceNatAddrPortTableHelper::Ptr& helper);

    // The installed entry of `match` read back through the SDK, or the empty
    // entry when `match` is not installed.
    TwiceNatAddrPortTableEntry entry(const TwiceNatAddrPortMatchSpec::PtrConst& match) const;

    // What programming an entry means for its match object: the default
    // match object (by identity) sets the default action, an installed one is
    // modified, any other is added.
    enum class Operation { setDefault, modify, add };
    static constexpr const char* kOperationTraces[] = {
        "Setting default action", "Modifying existing entry", "Adding new entry"};

  protected:
    bool isDefaultMatch(const TwiceNatAddrPortMatchSpec* match) const noexcept {
        return match == defaultMatchSpec_.ptr();
    }
    // For modify, `stored` receives the entry's handle.
    Operation operationFor(const TwiceNatAddrPortMatchSpec::PtrConst& match,
                           BfnTable::BfnSdkEntryHandle& stored) const noexcept {
        if (isDefaultMatch(match.ptr())) {
            return Operation::setDefault;
        }
        const BfnTable::BfnSdkEntryHandle* handle = helper_->sdkHandles()->entryFindInMatch(match);
        if (!handle) {
            return Operation::add;
        }
        stored = *handle;
        return Operation::modify;
    }

    // The bookkeeping around the one SDK call that adds an entry or sets the
    // default action. A first install gets a key, freed again when `call`
    // throws, and its handle recorded; a repeated default set must get the
    // handle already stored. `call` makes the SDK call, writes the handle and
    // raises on a failed status.
    template <class Call>
    void install(const TwiceNatAddrPortMatchSpec::PtrConst& match, Operation op, Call&& call);
    void statusInit(const TwiceNatAddrPortMatchSpec::PtrConst& match) const {
        if (statusManager_)
            statusManager_->initStatus(match);
    }

  private:
    TwiceNatAddrPortTableHelper::Ptr helper_;
    KeyManager::Ptr zabroKeyManager_;
    StatusManager::Ptr statusManager_;
    bool useBfRt_ = true;
    TwiceNatAddrPortMatchSpec::Ptr defaultMatchSpec_;
};

template <class Call>
void TwiceNatAddrPortTable::install(const TwiceNatAddrPortMatchSpec::PtrConst& match, Operation op,
                                    Call&& call) {
    TwiceNatAddrPortTableHandles& handles = *helper_->sdkHandles();
    const BfnTable::BfnSdkEntryHandle default_hdl =
        op == Operation::setDefault ? handles.entry(match) : 0;
    // The map's line loads while the key is allocated and the SDK adds the entry.
    if (default_hdl == 0)
        handles.entryPrefetch(match);
    KeyManager* keys = zabroKeyManager_.ptr();
    const bool allocates = keys && default_hdl == 0;
    const Zabro::MbbPostcodef::EntryKey key = allocates ? keys->alloc(match, false) : 0;

    BfnTable::BfnSdkEntryHandle entry_hdl = 0;
    try {
        call(&entry_hdl);
    } catch (...) {
        // Nothing was installed, so the key goes back.
        if (allocates)
            keys->free(key);
        throw;
    }
    if (default_hdl != 0) {
        assert(entry_hdl == default_hdl);
    } else {
        handles.entryIs(match, entry_hdl);
    }
    statusInit(match);
}

BF_TWICE_NAT_ADDR_PORT_API TwiceNatAddrPortTable::Ptr twiceNatAddrPortTableFactory(
    const TwiceNatAddrPortTableHelper::Ptr& helper,
    const TwiceNatAddrPortTable::KeyManager::Ptr& zabroKeyManager,
    const TwiceNatAddrPortTable::StatusManager::Ptr& statusManager);

// The table programmed through the PD functions.
class BF_TWICE_NAT_ADDR_PORT_API TwiceNatAddrPortTablePd : public TwiceNatAddrPortTable {
    KIV_CLASS(TwiceNatAddrPortTablePd)

  public:
    using Ptr = Dorvu::Ptr<TwiceNatAddrPortTablePd>;
    using PtrConst = Dorvu::Ptr<const TwiceNatAddrPortTablePd>;

    using TwiceNatAddrPortTable::TwiceNatAddrPortTable;
    ~TwiceNatAddrPortTablePd() override;
    static Ptr TwiceNatAddrPortTablePdIs(const TwiceNatAddrPortTableHelper::Ptr& helper,
                                         const KeyManager::Ptr& zabroKeyManager,
                                         const StatusManager::Ptr& statusManager);

    void entryIs(const TwiceNatAddrPortTableEntry& entry) override;
    void entryDel(const TwiceNatAddrPortMatchSpec::PtrConst& match) override;
    TwiceNatAddrPortTableEntry entryByHandle(BfnTable::BfnSdkEntryHandle sdkHandle) const override;
    void initializeTable(const TwiceNatAddrPortTableHelper::Ptr& helper) override;
};

BF_TWICE_NAT_ADDR_PORT_API TwiceNatAddrPortTablePd::Ptr twiceNatAddrPortTablePdFactory(
    const TwiceNatAddrPortTableHelper::Ptr& helper,
    const TwiceNatAddrPortTable::KeyManager::Ptr& zabroKeyManager,
    const TwiceNatAddrPortTable::StatusManager::Ptr& statusManager);

// The table programmed through the BfRt table objects.
class BF_TWICE_NAT_ADDR_PORT_API TwiceNatAddrPortTableBfrt : public TwiceNatAddrPortTable {
    KIV_CLASS(TwiceNatAddrPortTableBfrt)

  public:
    using Ptr = Dorvu::Ptr<TwiceNatAddrPortTableBfrt>;
    using PtrConst = Dorvu::Ptr<const TwiceNatAddrPortTableBfrt>;

    using TwiceNatAddrPortTable::TwiceNatAddrPortTable;
    ~TwiceNatAddrPortTableBfrt() override;
    static Ptr TwiceNatAddrPortTableBfrtIs(const TwiceNatAddrPortTableHelper::Ptr& helper,
                                           const KeyManager::Ptr& zabroKeyManager,
                                           const StatusManager::Ptr& statusManager);

    void entryIs(const TwiceNatAddrPortTableEntry& entry) override;
    void entryDel(const TwiceNatAddrPortMatchSpec::PtrConst& match) override;
    TwiceNatAddrPortTableEntry entryByHandle(BfnTable::BfnSdkEntryHandle sdkHandle) const override;
    void initializeTable(const TwiceNatAddrPortTableHelper::Ptr& helper) override;
};

BF_TWICE_NAT_ADDR_PORT_API TwiceNatAddrPortTableBfrt::Ptr twiceNatAddrPortTableBfrtFactory(
    const TwiceNatAddrPortTableHelper::Ptr& helper,
    const TwiceNatAddrPortTable::KeyManager::Ptr& zabroKeyManager,
    const TwiceNatAddrPortTable::StatusManager::Ptr& statusManager);

// Binds one BfRt table object: creates the library-wide key and data objects
// of its kind and, for a match table, sets its entry scope.
BF_TWICE_NAT_ADDR_PORT_API void initBfRtTable(const Dorvu::Ptr<TwiceNatAddrPortTableHelper>& helper,
                                              bfrt::OlvaneBfRtTable* table);

// The exported factory's work after it has built the table: the default
// match spec, the hardware initialisation, the restart resync from the key
// manager's records and the status resync. Separate so that it can be driven
// with any table class.
BF_TWICE_NAT_ADDR_PORT_API void startTable(const TwiceNatAddrPortTable::Ptr& table);

}  // namespace BfTwiceNatAddrPort

// The library's entry point, looked up by the agent under this name.
BF_TWICE_NAT_ADDR_PORT_API BfTwiceNatAddrPort::TwiceNatAddrPortTable::Ptr
twiceNatAddrPortTableFactory(MbbZabroKey::ZabroKeyManager::Ptr zabroKeyManager,
                             BfnTableStatusManager::StatusManager::Ptr statusManager,
                             Kiv::VoidPtr dlHandle, Kiv::U32 sessionId, Kiv::U8 deviceId,
                             Kiv::U16 devPipeId, Kiv::String pdLibPath);
