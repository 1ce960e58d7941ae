// The status manager: touches per match object, resync epochs, counters by name and notified.

#include <gtest/gtest.h>

#include <tuple>

#include "TestMatchSpec.h"
#include "bfntable/StatusManager.h"
#include "support/AttributeLog.h"
#include "support/LeakCheck.h"

namespace {

using BfnTableTest::TestMatchSpec;
using StatusManagerTest = TestSupport::LeakCheck;

// Made by name, as generic code makes it; operations by name and directly.
TEST_F(StatusManagerTest, CountsTouchesPerMatchObjectMarksResyncEpochsAndNotifiesItsCounters) {
    const Kiv::TypeInfo* type = Kiv::TypeInfo::named("BfnTableStatusManager::StatusManager");
    ASSERT_NE(type, nullptr);
    const Kiv::PtrInterface::Ptr object = type->create();
    auto& manager = static_cast<BfnTableStatusManager::StatusManager&>(*object);
    const auto a = TestMatchSpec::TestMatchSpecIs(), sameValue = TestMatchSpec::TestMatchSpecIs();
    const Kiv::Value arg = Kiv::ObjectRef(a);
    TestSupport::AttributeLog log(manager);
    Kiv::genericCall(manager, "initStatus", {&arg, 1});
    manager.initStatus(sameValue);
    manager.resyncStatus();
    EXPECT_FALSE(manager.seenSinceResync(a));
    manager.notificationIs(false);
    manager.initStatus(a);
    manager.notificationIs(true);
    EXPECT_TRUE(manager.seenSinceResync(a));
    EXPECT_EQ(Kiv::genericCall(manager, "touches", {&arg, 1}), Kiv::Value(Kiv::U64{2}))
        << "a resync keeps the counts";
    EXPECT_EQ(manager.entryStatusCount(), 2u);
    EXPECT_THROW(manager.initStatus(nullptr), Kiv::Exception);
    EXPECT_EQ(Kiv::genericGet(manager, "initStatusCount"), Kiv::Value(Kiv::U64{3}));
    EXPECT_EQ(a->references(), 3u);  // this reference, the argument's and the status's
    EXPECT_TRUE(manager.statusDel(a));
    EXPECT_EQ(a->references(), 2u) << "the status let go of its match";
    EXPECT_FALSE(manager.statusDel(a));  // nothing left to delete: nothing changes
    EXPECT_EQ(log.changes, (std::vector<std::string>{"entryStatusCount", "initStatusCount",
                                                     "entryStatusCount", "initStatusCount",
                                                     "resyncStatusCount", "entryStatusCount"}));
}

// The first manager keeps its status in the match, a second in its own map; the first
// one's death lets go of its matches and frees them for the next.
TEST_F(StatusManagerTest, ManagersSharingAMatchKeepTheirOwnStatuses) {
    auto first = BfnTableStatusManager::statusManagerFactory();
    const auto second = BfnTableStatusManager::statusManagerFactory();
    const auto a = TestMatchSpec::TestMatchSpecIs(), b = TestMatchSpec::TestMatchSpecIs();
    first->initStatus(a);
    first->initStatus(b);
    second->initStatus(a);
    second->initStatus(a);
    EXPECT_EQ(std::tuple(first->touches(a), second->touches(a), second->touches(b)),
              std::tuple(1u, 2u, 0u));
    first = nullptr;
    EXPECT_EQ(std::tuple(a->references(), b->references()), std::tuple(2u, 1u));
    const auto third = BfnTableStatusManager::statusManagerFactory();
    third->initStatus(a);
    EXPECT_TRUE(second->statusDel(a));
    EXPECT_EQ(std::tuple(second->touches(a), third->touches(a), second->entryStatusCount()),
              std::tuple(0u, 1u, 0u));
}

}  // namespace
