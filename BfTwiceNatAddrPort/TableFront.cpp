// The table front: helper, SDK handle map, the abstract table and the
// exported factory with its restart resync.

#include <cassert>

#include "Table.h"

namespace BfTwiceNatAddrPort {

namespace {

using Kiv::attribute;
using Kiv::operation;
using Kiv::readOnlyAttribute;

using HandleMap = TwiceNatAddrPortTableHandles;
using MatchRef = TwiceNatAddrPortMatchSpec::PtrConst;

// ---- The handle map's `entry` collection, as generic code sees it.

MatchRef matchKey(const Kiv::Value& key) {
    return Kiv::ValueTraits<MatchRef>::from(key, "the key of 'entry'");
}

const Kiv::CollectionOps kEntryCollection{
    [](const Kiv::PtrInterface& o) { return static_cast<const HandleMap&>(o).entryCount(); },
    [](const Kiv::PtrInterface& o, const Kiv::Value& key) {
        return static_cast<const HandleMap&>(o).entryHas(matchKey(key));
    },
    [](const Kiv::PtrInterface& o, const Kiv::Value& key) -> Kiv::Value {
        return U64{static_cast<const HandleMap&>(o).entry(matchKey(key))};
    },
    [](Kiv::PtrInterface& o, const Kiv::Value& key, const Kiv::Value& value) {
        static_cast<HandleMap&>(o).entryIs(
            matchKey(key), Kiv::ValueTraits<BfnTable::BfnSdkEntryHandle>::from(value, "a handle"));
    },
    [](Kiv::PtrInterface& o, const Kiv::Value& key) -> Kiv::Value {
        return U64{static_cast<HandleMap&>(o).entryDel(matchKey(key))};
    },
    [](const Kiv::PtrInterface& o, const Kiv::Value& start,
       const std::function<bool(const Kiv::Value&, const Kiv::Value&)>& visit) {
        const MatchRef from = matchKey(start);
        if (std::holds_alternative<Kiv::ObjectRef>(start) && !from) {
            // A null key is a key like any other: start from it if present,
            // visit nothing if not (the map's own walk takes null as "first").
            bool started = false;
            static_cast<const HandleMap&>(o).entryForEach(
                [&](const MatchRef& k, BfnTable::BfnSdkEntryHandle h) {
                    if (!started && k)
                        return true;
                    started = true;
                    return visit(Kiv::ObjectRef(k.ptr()), U64{h});
                });
            return;
        }
        static_cast<const HandleMap&>(o).entryForEach(
            [&](const MatchRef& k, BfnTable::BfnSdkEntryHandle h) {
                return visit(Kiv::ObjectRef(k.ptr()), U64{h});
            },
            from.ptr());
    },
};

}  // namespace

// ---- Handle map

Kiv::MemAllocationTracker TwiceNatAddrPortTableHandles::memAllocationTracker_{
    "BfTwiceNatAddrPort::TwiceNatAddrPortTableHandles"};

const Kiv::TypeInfo& TwiceNatAddrPortTableHandles::kivTypeInfo() {
    static const Kiv::TypeInfo type{"BfTwiceNatAddrPort::TwiceNatAddrPortTableHandles",
                                    &Kiv::Entity::kivTypeInfo(),
                                    {Kiv::collectionAttribute("entry", kEntryCollection)},
                                    {}};
    return type;
}

TwiceNatAddrPortTableHandles::~TwiceNatAddrPortTableHandles() {
    notificationIs(false);
    // The matches may outlive the map: their slots must not name it.
    entries_.forEach([this](const MatchRef& match, BfnTable::BfnSdkEntryHandle) {
        if (match)
            slotLeave(match->handleSlot());
        return true;
    });
    entries_.clear();
}

TwiceNatAddrPortTableHandles::Ptr TwiceNatAddrPortTableHandles::TwiceNatAddrPortTableHandlesIs() {
    return Kiv::create<TwiceNatAddrPortTableHandles>();
}

TwiceNatAddrPortTableHandles::Ptr twiceNatAddrPortTableHandlesFactory() {
    return TwiceNatAddrPortTableHandles::TwiceNatAddrPortTableHandlesIs();
}

void TwiceNatAddrPortTableHandles::entryIs(const MatchPtrConst& match,
                                           BfnTable::BfnSdkEntryHandle sdkHandle) {
    if (entries_.insertOrAssign(match, sdkHandle) && match) {
        BfnTable::MatchHandleSlot& slot = match->handleSlot();
        if (slot.owner)
            ++slot.elsewhere;
        else
            slot.owner = this;
    }
    if (match && match->handleSlot().owner == this)
        match->handleSlot().handle = sdkHandle;
    attributeChanged("entry");
}

BfnTable::BfnSdkEntryHandle TwiceNatAddrPortTableHandles::entryDel(const MatchPtrConst& match) {
    BfnTable::BfnSdkEntryHandle removed = 0;
    if (entries_.erase(match.ptr(), &removed)) {
        if (match)
            slotLeave(match->handleSlot());
        attributeChanged("entry");
    }
    return removed;
}

// The match leaves this map: its slot frees up when this map held it.
void TwiceNatAddrPortTableHandles::slotLeave(BfnTable::MatchHandleSlot& slot) const noexcept {
    if (slot.owner == this) {
        slot.owner = nullptr;
        slot.handle = 0;
    } else {
        --slot.elsewhere;
    }
}

// ---- Helper

Kiv::MemAllocationTracker TwiceNatAddrPortTableHelper::memAllocationTracker_{
    "BfTwiceNatAddrPort::TwiceNatAddrPortTableHelper"};

const Kiv::TypeInfo& TwiceNatAddrPortTableHelper::kivTypeInfo() {
    using T = TwiceNatAddrPortTableHelper;
    static const Kiv::TypeInfo type{"BfTwiceNatAddrPort::TwiceNatAddrPortTableHelper",
                                    &Kiv::PtrInterface::kivTypeInfo(),
                                    {
                                        readOnlyAttribute<&T::deviceId>("deviceId"),
                                        readOnlyAttribute<&T::devPipeId>("devPipeId"),
                                        readOnlyAttribute<&T::sdkHandles>("sdkHandles"),
                                        readOnlyAttribute<&T::pdLib>("pdLib"),
                                    },
                                    {
                                        operation<&T::sdkHandlesIs>("sdkHandlesIs"),
                                        operation<&T::sdkHandlesDel>("sdkHandlesDel"),
                                        operation<&T::pdLibIs>("pdLibIs"),
                                        operation<&T::pdLibDel>("pdLibDel"),
                                    }};
    return type;
}

TwiceNatAddrPortTableHelper::~TwiceNatAddrPortTableHelper() {
    notificationIs(false);
    sdkHandles_ = nullptr;
    pdLib_ = nullptr;
}

TwiceNatAddrPortTableHelper::Ptr TwiceNatAddrPortTableHelper::TwiceNatAddrPortTableHelperIs(
    U8 deviceId, U16 devPipeId) {
    return Kiv::create<TwiceNatAddrPortTableHelper>(deviceId, devPipeId);
}

TwiceNatAddrPortTableHelper::Ptr twiceNatAddrPortTableHelperFactory(U8 deviceId, U16 devPipeId) {
    return TwiceNatAddrPortTableHelper::TwiceNatAddrPortTableHelperIs(deviceId, devPipeId);
}

TwiceNatAddrPortTableHelper::PdLib::Ptr TwiceNatAddrPortTableHelper::pdLibIs(
    const Kiv::String& pdLibName, Kiv::VoidPtr dlHandle, U32 sessionId) {
    if (pdLib_) {
        pdLib_->dlHandleIs(dlHandle);
        pdLib_->sessionIdIs(sessionId);
        if (pdLib_->name() == pdLibName)
            return pdLib_;
    }
    pdLib_ = Kiv::create<PdLib>(deviceId_, pdLibName, dlHandle, sessionId);
    return pdLib_;
}

TwiceNatAddrPortTableHandles::Ptr TwiceNatAddrPortTableHelper::sdkHandlesIs() {
    if (!sdkHandles_)
        sdkHandles_ = twiceNatAddrPortTableHandlesFactory();
    return sdkHandles_;
}

// ---- Table

Kiv::MemAllocationTracker TwiceNatAddrPortTable::memAllocationTracker_{
    "BfTwiceNatAddrPort::TwiceNatAddrPortTable"};

const Kiv::TypeInfo& TwiceNatAddrPortTable::kivTypeInfo() {
    using T = TwiceNatAddrPortTable;
    static const Kiv::TypeInfo type{"BfTwiceNatAddrPort::TwiceNatAddrPortTable",
                                    &Kiv::Entity::kivTypeInfo(),
                                    {
                                        readOnlyAttribute<&T::helper>("helper"),
                                        readOnlyAttribute<&T::zabroKeyManager>("zabroKeyManager"),
                                        readOnlyAttribute<&T::statusManager>("statusManager"),
                                        attribute<&T::useBfRt, &T::useBfRtIs>("useBfRt"),
                                        readOnlyAttribute<&T::defaultMatchSpec>("defaultMatchSpec"),
                                    },
                                    {
                                        operation<&T::entryIs>("entryIs"),
                                        operation<&T::entryDel>("entryDel"),
                                        operation<&T::entry>("entry"),
                                        operation<&T::entryByHandle>("entryByHandle"),
                                        operation<&T::initializeTable>("initializeTable"),
                                        operation<&T::defaultMatchSpecIs>("defaultMatchSpecIs"),
                                        operation<&T::defaultMatchSpecDel>("defaultMatchSpecDel"),
                                    }};
    return type;
}

TwiceNatAddrPortTable::TwiceNatAddrPortTable(const TwiceNatAddrPortTableHelper::Ptr& helper,
                                             const KeyManager::Ptr& zabroKeyManager,
                                             const StatusManager::Ptr& statusManager)
    : helper_(helper), zabroKeyManager_(zabroKeyManager), statusManager_(statusManager) {}

TwiceNatAddrPortTable::~TwiceNatAddrPortTable() {
    notificationIs(false);
    defaultMatchSpec_ = nullptr;
    statusManager_ = nullptr;
    zabroKeyManager_ = nullptr;
    helper_ = nullptr;
}

TwiceNatAddrPortTable::Ptr TwiceNatAddrPortTable::TwiceNatAddrPortTableIs(
    const TwiceNatAddrPortTableHelper::Ptr& helper, const KeyManager::Ptr& zabroKeyManager,
    const StatusManager::Ptr& statusManager) {
    return Kiv::create<TwiceNatAddrPortTable>(helper, zabroKeyManager, statusManager);
}

TwiceNatAddrPortTable::Ptr twiceNatAddrPortTableFactory(
    const TwiceNatAddrPortTableHelper::Ptr& helper,
    const TwiceNatAddrPortTable::KeyManager::Ptr& zabroKeyManager,
    const TwiceNatAddrPortTable::StatusManager::Ptr& statusManager) {
    return TwiceNatAddrPortTable::TwiceNatAddrPortTableIs(helper, zabroKeyManager, statusManager);
}

TwiceNatAddrPortMatchSpec::Ptr TwiceNatAddrPortTable::defaultMatchSpecIs() {
    if (!defaultMatchSpec_)
        defaultMatchSpec_ = twiceNatAddrPortMatchSpecFactory();
    return defaultMatchSpec_;
}

void TwiceNatAddrPortTable::entryIs(const TwiceNatAddrPortTableEntry&) {
    assert(0 && "base TwiceNatAddrPortTable::entryIs() called");
}

void TwiceNatAddrPortTable::entryDel(const TwiceNatAddrPortMatchSpec::PtrConst&) {
    assert(0 && "base TwiceNatAddrPortTable::entryDel() called");
}

TwiceNatAddrPortTableEntry TwiceNatAddrPortTable::entryByHandle(BfnTable::BfnSdkEntryHandle) const {
    assert(0 && "base TwiceNatAddrPortTable::entryByHandle() called");
    return {};
}

void TwiceNatAddrPortTable::initializeTable(const TwiceNatAddrPortTableHelper::Ptr&) {
    assert(0 && "base TwiceNatAddrPortTable::initializeTable() called");
}

TwiceNatAddrPortTableEntry TwiceNatAddrPortTable::entry(
    const TwiceNatAddrPortMatchSpec::PtrConst& match) const {
    KIV_TRACE(traceHandle(), kTraceLevel,
              "BfTwiceNatAddrPort::TwiceNatAddrPortTableEntry "
              "BfTwiceNatAddrPort::TwiceNatAddrPortTable::entry(const PtrConst&) const");
    assert(match != NULL);
    const BfnTable::BfnSdkEntryHandle* handle = helper_->sdkHandles()->entryFind(match);
    if (!handle)
        return {};
    return entryByHandle(*handle);
}

// ---- Creation and restart resync

namespace {

// Rebuilds the handle map and the key manager's bindings from the records
// that the key manager kept from an earlier run, reading each entry back
// through the SDK by its handle. Corruption met while the map is asked for a
// record ends the walk; whatever the read-back or the key manager throws
// passes out.
//
// The SDK hands a deleted entry's handle out again, so a stale record (its
// entry deleted without the key being freed) may name a handle that now
// belongs to another entry. The walk does not second-guess it: the record is
// bound to whatever the handle holds now, so two records may name one handle,
// or a record may name an entry that was added under another key.
void resyncFromKeyManager(const TwiceNatAddrPortTable& table,
                          const MbbZabroKey::ZabroKeyManager::Ptr& zabroKeyManager) {
    assert(zabroKeyManager->mbbZabroTableConfig());
    auto& config = *zabroKeyManager->mbbZabroTableConfig();
    TwiceNatAddrPortTableHandles& handles = *table.helper()->sdkHandles();
    handles.entryReserve(config.recordCount());

    Zabro::IterHint hint;
    Zabro::MbbPostcodef::EntryConfig cursor(Zabro::MbbPostcodef::EntryKey{0},
                                            Zabro::MbbPostcodef::OpId{0}, 0, 0, 0);
    const auto ask = [&config](auto&& request) {
        try {
            return request();
        } catch (const Dorvu::CorruptionDetectedException& e) {
            config.doCorruptionDetected(e.msg());
            return false;
        }
    };
    Zabro::MbbPostcodef::EntryKey largestKey = 0;
    for (bool found = ask([&] { return config.first(cursor, hint); }); found;
         found = ask([&] { return config.next(cursor.key(), cursor, hint); })) {
        const Zabro::MbbPostcodef::EntryKey key = cursor.key();
        const TwiceNatAddrPortTableEntry e = table.entryByHandle(cursor.sdkEntryHandle());
        handles.entryIs(e.match(), cursor.sdkEntryHandle());
        zabroKeyManager->populate(key, e.match());
        if (key > largestKey)
            largestKey = key;
    }
    if (largestKey != 0)
        zabroKeyManager->highestAllocatedKeyIs(largestKey);
}

}  // namespace

void startTable(const TwiceNatAddrPortTable::Ptr& table) {
    table->defaultMatchSpecIs();
    table->initializeTable(table->helper());
    if (table->zabroKeyManager())
        resyncFromKeyManager(*table, table->zabroKeyManager());
    if (table->statusManager())
        table->statusManager()->resyncStatus();
}

const Kiv::TypeRegistration registrations[] = {
    Kiv::TypeRegistration{&TwiceNatAddrPortTableHandles::kivTypeInfo},
    Kiv::TypeRegistration{&TwiceNatAddrPortTableHelper::kivTypeInfo},
    Kiv::TypeRegistration{&TwiceNatAddrPortTable::kivTypeInfo},
};

}  // namespace BfTwiceNatAddrPort

BfTwiceNatAddrPort::TwiceNatAddrPortTable::Ptr twiceNatAddrPortTableFactory(
    MbbZabroKey::ZabroKeyManager::Ptr zabroKeyManager,
    BfnTableStatusManager::StatusManager::Ptr statusManager, Kiv::VoidPtr dlHandle,
    Kiv::U32 sessionId, Kiv::U8 deviceId, Kiv::U16 devPipeId, Kiv::String pdLibPath) {
    using namespace BfTwiceNatAddrPort;
    TwiceNatAddrPortTableHelper::Ptr helper =
        twiceNatAddrPortTableHelperFactory(deviceId, devPipeId);
    const Kiv::String& path = pdLibPath;
    {
        const bool pdLibPath = !path.empty();
        assert(pdLibPath);
    }
    helper->pdLibIs(path, dlHandle, sessionId);
    helper->sdkHandlesIs();
    TwiceNatAddrPortTable::Ptr table;
    if (helper->pdLib()->bfRtTable()) {
        table = twiceNatAddrPortTableBfrtFactory(helper, zabroKeyManager, statusManager);
    } else {
        table = twiceNatAddrPortTablePdFactory(helper, zabroKeyManager, statusManager);
    }
    startTable(table);
    return table;
}
