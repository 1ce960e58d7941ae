#pragma once
// BfnTableStatusManager::StatusManager keeps, per installed match object, what
// the agent shows about an entry: how often the table touched it (each add,
// modify, default-entry set or delete calls initStatus) and whether that
// happened since the last restart resync.
//
// A resync starts a new epoch in O(1): an entry counts as seen when the epoch
// of its last touch is the current one. Statuses are kept until the agent
// drops them with statusDel, since a delete is itself a touch worth showing.

#include "bfntable/BfnTable.h"
#include "kiv/Kiv.h"

namespace BfnTableStatusManager {

class StatusManager : public Kiv::Entity {
    KIV_CLASS(StatusManager)

  public:
    using Ptr = Dorvu::Ptr<StatusManager>;
    using PtrConst = Dorvu::Ptr<const StatusManager>;

    struct EntryStatus {
        Kiv::U64 touches = 0;
        Kiv::U64 epoch = 0;  // resyncStatusCount when last touched
    };

    static Ptr StatusManagerIs();
    StatusManager() = default;
    ~StatusManager() override;

    Kiv::U64 initStatusCount() const noexcept { return initStatusCount_; }
    Kiv::U64 resyncStatusCount() const noexcept { return resyncStatusCount_; }
    Kiv::U64 entryStatusCount() const noexcept { return statuses_.size(); }

    // Records a touch of `match`'s entry. A null match is a caller error and throws.
    void initStatus(const BfnTable::MatchSpecBase::PtrConst& match);
    // Starts a new epoch: every entry reads as not seen until touched again.
    void resyncStatus();
    // Drops `match`'s status and the reference to it; false when it had none.
    bool statusDel(const BfnTable::MatchSpecBase::PtrConst& match);

    // Null when `match` has no status.
    const EntryStatus* entryStatus(const BfnTable::MatchSpecBase* match) const noexcept {
        return statuses_.find(match);
    }
    Kiv::U64 touches(const BfnTable::MatchSpecBase::PtrConst& match) const;
    bool seenSinceResync(const BfnTable::MatchSpecBase::PtrConst& match) const;

  private:
    Kiv::HashMap2018<const BfnTable::MatchSpecBase, EntryStatus> statuses_;
    Kiv::U64 initStatusCount_ = 0;
    Kiv::U64 resyncStatusCount_ = 0;
};

StatusManager::Ptr statusManagerFactory();

}  // namespace BfnTableStatusManager
