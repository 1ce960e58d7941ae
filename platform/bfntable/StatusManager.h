#pragma once
// BfnTableStatusManager::StatusManager keeps, per installed match object, what
// the agent shows about an entry: how often the table touched it (each add,
// modify, default-entry set or delete calls initStatus) and whether that
// happened since the last restart resync.
//
// A resync starts a new epoch in O(1): an entry counts as seen when the epoch
// of its last touch is the current one. Statuses are kept until the agent
// drops them with statusDel, since a delete is itself a touch worth showing.
//
// The status lives in the match object's status slot, which the manager
// claims on the first touch; a match whose slot another manager holds gets
// its status in this manager's own map instead.

#include "bfntable/BfnTable.h"
#include "kiv/Kiv.h"

namespace BfnTableStatusManager {

class StatusManager : public Kiv::Entity {
    KIV_CLASS(StatusManager)

  public:
    using Ptr = Dorvu::Ptr<StatusManager>;
    using PtrConst = Dorvu::Ptr<const StatusManager>;

    using EntryStatus = BfnTable::EntryStatus;  // epoch: resyncStatusCount when last touched

    static Ptr StatusManagerIs();
    StatusManager() = default;
    ~StatusManager() override;

    Kiv::U64 initStatusCount() const noexcept { return initStatusCount_; }
    Kiv::U64 resyncStatusCount() const noexcept { return resyncStatusCount_; }
    Kiv::U64 entryStatusCount() const noexcept { return linkedCount_ + others_.size(); }

    // Records a touch of `match`'s entry. A null match is a caller error and throws.
    void initStatus(const BfnTable::MatchSpecBase::PtrConst& match);
    // Starts a new epoch: every entry reads as not seen until touched again.
    void resyncStatus();
    // Drops `match`'s status and the reference to it; false when it had none.
    bool statusDel(const BfnTable::MatchSpecBase::PtrConst& match);

    // Null when `match` has no status.
    const EntryStatus* entryStatus(const BfnTable::MatchSpecBase* match) const noexcept {
        if (match && match->statusSlot().owner == this)
            return &match->statusSlot().status;
        return others_.empty() ? nullptr : others_.find(match);
    }
    Kiv::U64 touches(const BfnTable::MatchSpecBase::PtrConst& match) const;
    bool seenSinceResync(const BfnTable::MatchSpecBase::PtrConst& match) const;

  private:
    EntryStatus& statusAdd(const BfnTable::MatchSpecBase::PtrConst& match);
    void unlink(const BfnTable::MatchSpecBase& match) noexcept;

    // The matches whose slot this manager holds, each with a reference.
    const BfnTable::MatchSpecBase* linked_ = nullptr;
    Kiv::U64 linkedCount_ = 0;
    // The matches whose slot another manager holds; the map keeps them alive.
    Kiv::HashMap2018<const BfnTable::MatchSpecBase, EntryStatus> others_;
    Kiv::U64 initStatusCount_ = 0;
    Kiv::U64 resyncStatusCount_ = 0;
};

StatusManager::Ptr statusManagerFactory();

}  // namespace BfnTableStatusManager
