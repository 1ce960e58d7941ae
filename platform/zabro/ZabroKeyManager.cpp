#include "ZabroKeyManager.h"

namespace MbbZabroKey {

using Kiv::U16;
using Kiv::U32;
using Kiv::U64;
using Kiv::U8;

Kiv::MemAllocationTracker ZabroKeyManager::memAllocationTracker_{"MbbZabroKey::ZabroKeyManager"};

const Kiv::TypeInfo& ZabroKeyManager::kivTypeInfo() {
    using C = ZabroKeyManager;
    static const Kiv::TypeInfo type{
        "MbbZabroKey::ZabroKeyManager",
        &Kiv::PtrInterface::kivTypeInfo(),
        {
            Kiv::readOnlyAttribute<&C::deviceId>("deviceId"),
            Kiv::readOnlyAttribute<&C::pipeId>("pipeId"),
            Kiv::readOnlyAttribute<&C::mbbZabroTableConfig>("mbbZabroTableConfig"),
            Kiv::attribute<&C::highestAllocatedKey, &C::highestAllocatedKeyIs>(
                "highestAllocatedKey"),
            Kiv::readOnlyAttribute<&C::recordCount>("recordCount"),
            Kiv::readOnlyAttribute<&C::boundKeyCount>("boundKeyCount"),
        },
        {
            Kiv::operation<&C::alloc>("alloc"),
            Kiv::operation<&C::free>("free"),
            Kiv::operation<&C::populate>("populate"),
            Kiv::operation<&C::sdkEntryHandleIs>("sdkEntryHandleIs"),
            Kiv::operation<&C::key>("key"),
            Kiv::operation<&C::match>("match"),
        }};
    return type;
}

// Registered when the library is loaded, so generic code finds the type by name.
namespace {
const Kiv::TypeRegistration registration{&ZabroKeyManager::kivTypeInfo};
}

ZabroKeyManager::Ptr ZabroKeyManager::ZabroKeyManagerIs(U8 deviceId, U16 pipeId, U64 capacity) {
    return Kiv::create<ZabroKeyManager>(deviceId, pipeId, capacity);
}

ZabroKeyManager::Ptr ZabroKeyManager::ZabroKeyManagerIs(
    const Zabro::MbbZabroTableConfig::Ptr& tableConfig) {
    return Kiv::create<ZabroKeyManager>(tableConfig);
}

ZabroKeyManager::Ptr zabroKeyManagerFactory(U8 deviceId, U16 pipeId, U64 capacity) {
    return ZabroKeyManager::ZabroKeyManagerIs(deviceId, pipeId, capacity);
}

ZabroKeyManager::Ptr zabroKeyManagerFactory(const Zabro::MbbZabroTableConfig::Ptr& tableConfig) {
    return ZabroKeyManager::ZabroKeyManagerIs(tableConfig);
}

namespace {

const Zabro::MbbZabroTableConfig::Ptr& needConfig(const Zabro::MbbZabroTableConfig::Ptr& config) {
    if (!config)
        throw Kiv::Exception("ZabroKeyManager: null table config");
    return config;
}

}  // namespace

ZabroKeyManager::ZabroKeyManager(U8 deviceId, U16 pipeId, U64 capacity)
    : ZabroKeyManager(
          Zabro::MbbZabroTableConfig::MbbZabroTableConfigIs(deviceId, pipeId, capacity)) {}

ZabroKeyManager::ZabroKeyManager(const Zabro::MbbZabroTableConfig::Ptr& tableConfig)
    : tableConfig_(needConfig(tableConfig)), matchOfSlot_(tableConfig_->capacity()) {}

ZabroKeyManager::~ZabroKeyManager() {
    notificationIs(false);
    // The matches may outlive the manager: their slots must not name it.
    for (const MatchPtrConst& match : matchOfSlot_) {
        if (match && match->keySlot().owner == this)
            match->keySlot() = {};
    }
}

ZabroKeyManager::EntryKey ZabroKeyManager::alloc(const MatchPtrConst& match, bool reuseBound) {
    if (!match)
        throw Kiv::Exception("ZabroKeyManager::alloc: null match");
    if (reuseBound) {
        if (const EntryKey bound = key(match))
            return bound;
    }
    const EntryKey key = tableConfig_->recordAlloc().key();
    bind(key, match);
    KIV_TRACE(Zabro::ZabroMapBase::trace(), 7, "alloc key " << key);
    return key;
}

void ZabroKeyManager::free(EntryKey key) {
    tableConfig_->recordDel(key);
    unbindKey(key);
    KIV_TRACE(Zabro::ZabroMapBase::trace(), 7, "free key " << key);
}

void ZabroKeyManager::populate(EntryKey key, const MatchPtrConst& match) {
    if (!match) {
        free(key);
        return;
    }
    // Called for keys the resync walk has just checked: no second checksum.
    if (!tableConfig_->hasRecord(key)) {
        throw Zabro::KeyException(Kiv::_fmt("key segment %s: populate: key %llu has no record",
                                            tableConfig_->name().c_str(),
                                            static_cast<unsigned long long>(key)));
    }
    bind(key, match);
}

void ZabroKeyManager::sdkEntryHandleIs(EntryKey key, U32 handle) {
    tableConfig_->sdkEntryHandleIs(key, handle);
}

ZabroKeyManager::EntryKey ZabroKeyManager::key(const MatchPtrConst& match) const noexcept {
    if (match && match->keySlot().owner == this)
        return match->keySlot().key;
    const EntryKey* bound = keyOfOthers_.empty() ? nullptr : keyOfOthers_.find(match.ptr());
    return bound ? *bound : 0;
}

ZabroKeyManager::MatchPtrConst ZabroKeyManager::match(EntryKey key) const noexcept {
    if (key == 0 || key > matchOfSlot_.size())
        return nullptr;
    return matchOfSlot_[key - 1];
}

// One match per key and one key per match: a rebinding drops both old links.
void ZabroKeyManager::bind(EntryKey key, const MatchPtrConst& match) {
    if (const EntryKey old = this->key(match))
        unbindKey(old);
    unbindKey(key);
    BfnTable::MatchKeySlot& slot = match->keySlot();
    if (!slot.owner)
        slot = {this, key};
    else
        keyOfOthers_.insertOrAssign(match, key);
    matchOfSlot_[key - 1] = match;
    ++boundCount_;
}

void ZabroKeyManager::unbindKey(EntryKey key) noexcept {
    MatchPtrConst& bound = matchOfSlot_[key - 1];
    if (!bound)
        return;
    if (bound->keySlot().owner == this)
        bound->keySlot() = {};
    else
        keyOfOthers_.erase(bound.ptr());
    --boundCount_;
    bound = nullptr;
}

}  // namespace MbbZabroKey
