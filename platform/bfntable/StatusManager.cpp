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
}

void StatusManager::initStatus(const BfnTable::MatchSpecBase::PtrConst& match) {
    if (!match)
        throw Kiv::Exception("StatusManager::initStatus: null match");
    auto [status, inserted] = statuses_.tryInsert(match, EntryStatus{});
    if (inserted)
        attributeChanged("entryStatusCount");
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
    const bool erased = statuses_.erase(match.ptr());
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
