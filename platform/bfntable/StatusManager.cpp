#include "StatusManager.h"

namespace BfnTableStatusManager {

Kiv::MemAllocationTracker StatusManager::memAllocationTracker_{
    "BfnTableStatusManager::StatusManager"};

const Kiv::TypeInfo& StatusManager::kivTypeInfo() {
    using C = StatusManager;
    static const Kiv::TypeInfo type{
        "BfnTableStatusManager::StatusManager",
        &Kiv::Entity::kivTypeInfo(),
        {
            Kiv::readOnlyAttribute<&C::initStatusCount>("initStatusCount"),
            Kiv::readOnlyAttribute<&C::resyncStatusCount>("resyncStatusCount"),
            Kiv::readOnlyAttribute<&C::entryStatusCount>("entryStatusCount"),
        },
        {
            Kiv::operation<&C::initStatus>("initStatus"),
            Kiv::operation<&C::resyncStatus>("resyncStatus"),
            Kiv::operation<&C::statusDel>("statusDel"),
            Kiv::operation<&C::touches>("touches"),
            Kiv::operation<&C::seenSinceResync>("seenSinceResync"),
        },
        []() -> Kiv::PtrInterface::Ptr { return StatusManager::StatusManagerIs(); }};
    return type;
}

// Registered when the library is loaded, so generic code finds the type by name.
namespace {
const Kiv::TypeRegistration registration{&StatusManager::kivTypeInfo};
}

StatusManager::Ptr StatusManager::StatusManagerIs() {
    return Kiv::create<StatusManager>();
}

StatusManager::Ptr statusManagerFactory() {
    return StatusManager::StatusManagerIs();
}

StatusManager::~StatusManager() {
    notificationIs(false);
    while (linked_) unlink(*linked_);
}

// A first touch: into the match's slot when it is free, else into the map.
StatusManager::EntryStatus& StatusManager::statusAdd(
    const BfnTable::MatchSpecBase::PtrConst& match) {
    BfnTable::MatchStatusSlot& slot = match->statusSlot();
    if (slot.owner)
        return *others_.tryInsert(match, EntryStatus{}).first;
    match->newRef();
    slot = {this, EntryStatus{}, nullptr, linked_};
    if (linked_)
        linked_->statusSlot().prev = match.ptr();
    linked_ = match.ptr();
    ++linkedCount_;
    return slot.status;
}

// Frees the match's slot and lets go of the manager's reference.
void StatusManager::unlink(const BfnTable::MatchSpecBase& match) noexcept {
    BfnTable::MatchStatusSlot& slot = match.statusSlot();
    if (slot.prev)
        slot.prev->statusSlot().next = slot.next;
    else
        linked_ = slot.next;
    if (slot.next)
        slot.next->statusSlot().prev = slot.prev;
    slot = {};
    --linkedCount_;
    match.deleteRef();
}

void StatusManager::initStatus(const BfnTable::MatchSpecBase::PtrConst& match) {
    if (!match)
        throw Kiv::Exception("StatusManager::initStatus: null match");
    EntryStatus* status = const_cast<EntryStatus*>(entryStatus(match.ptr()));
    if (!status) {
        status = &statusAdd(match);
        attributeChanged("entryStatusCount");
    }
    ++status->touches;
    status->epoch = resyncStatusCount_;
    ++initStatusCount_;
    attributeChanged("initStatusCount");
}

void StatusManager::resyncStatus() {
    ++resyncStatusCount_;
    attributeChanged("resyncStatusCount");
}

bool StatusManager::statusDel(const BfnTable::MatchSpecBase::PtrConst& match) {
    bool erased;
    if (match && match->statusSlot().owner == this) {
        unlink(*match);
        erased = true;
    } else {
        erased = others_.erase(match.ptr());
    }
    if (erased)
        attributeChanged("entryStatusCount");
    return erased;
}

Kiv::U64 StatusManager::touches(const BfnTable::MatchSpecBase::PtrConst& match) const {
    const EntryStatus* status = entryStatus(match.ptr());
    return status ? status->touches : 0;
}

bool StatusManager::seenSinceResync(const BfnTable::MatchSpecBase::PtrConst& match) const {
    const EntryStatus* status = entryStatus(match.ptr());
    return status && status->epoch == resyncStatusCount_;
}

}  // namespace BfnTableStatusManager
