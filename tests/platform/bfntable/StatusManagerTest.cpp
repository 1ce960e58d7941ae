// The status manager: touches counted per match object, resync epochs, and
// its counters reached by name and notified while notification is on.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestMatchSpec.h"
#include "bfntable/StatusManager.h"
#include "support/LeakCheck.h"

namespace {

using BfnTableTest::TestMatchSpec;
using StatusManagerTest = TestSupport::LeakCheck;

TEST_F(StatusManagerTest, CountsTouchesPerMatchObjectAndMarksThemSeenSinceTheLastResync) {
    const auto manager = BfnTableStatusManager::statusManagerFactory();
    const auto a = TestMatchSpec::TestMatchSpecIs(7), sameValue = TestMatchSpec::TestMatchSpecIs(7);
    manager->initStatus(a);
    manager->initStatus(sameValue);
    manager->resyncStatus();
    EXPECT_FALSE(manager->seenSinceResync(a));
    manager->initStatus(a);
    EXPECT_TRUE(manager->seenSinceResync(a));
    EXPECT_FALSE(manager->seenSinceResync(sameValue)) << "matches go by object, not value";
    EXPECT_EQ(manager->touches(a), 2u) << "a resync keeps the counts";
    EXPECT_EQ(manager->touches(TestMatchSpec::TestMatchSpecIs(7)), 0u);
    EXPECT_EQ(manager->entryStatusCount(), 2u);
    EXPECT_THROW(manager->initStatus(nullptr), Kiv::Exception);
    EXPECT_EQ(manager->initStatusCount(), 3u);
    EXPECT_EQ(a->references(), 2u);
    EXPECT_TRUE(manager->statusDel(a));
    EXPECT_EQ(a->references(), 1u) << "the status let go of its match";
    EXPECT_FALSE(manager->statusDel(a));
}

TEST_F(StatusManagerTest, CountersAreReachableByNameAndNotifiedWhileNotificationIsOn) {
    struct Recorder : Kiv::Entity::Notifiee {
        void onAttributeChange(const Kiv::Entity&, const char* attribute) override {
            changes.emplace_back(attribute);
        }
        std::vector<std::string> changes;
    } recorder;
    const Kiv::TypeInfo* type = Kiv::TypeInfo::named("BfnTableStatusManager::StatusManager");
    ASSERT_NE(type, nullptr);
    const Kiv::PtrInterface::Ptr object = type->create();
    auto& manager = static_cast<BfnTableStatusManager::StatusManager&>(*object);
    manager.notifieeAdd(&recorder);
    const Kiv::Value arg = Kiv::ObjectRef(TestMatchSpec::TestMatchSpecIs(3));
    Kiv::genericCall(manager, "initStatus", {&arg, 1});
    Kiv::genericCall(manager, "initStatus", {&arg, 1});
    manager.resyncStatus();
    EXPECT_EQ(recorder.changes, (std::vector<std::string>{"entryStatusCount", "initStatusCount",
                                                          "initStatusCount", "resyncStatusCount"}));
    EXPECT_EQ(Kiv::genericGet(manager, "initStatusCount"), Kiv::Value(Kiv::U64{2}));
    EXPECT_EQ(Kiv::genericCall(manager, "touches", {&arg, 1}), Kiv::Value(Kiv::U64{2}));
    EXPECT_THROW(Kiv::genericSet(manager, "initStatusCount", Kiv::U64{0}), Kiv::AttributeException);
    manager.notificationIs(false);
    manager.resyncStatus();
    manager.notificationIs(true);
    manager.notifieeDel(&recorder);
    manager.resyncStatus();
    EXPECT_EQ(recorder.changes.size(), 4u) << "heard while on and subscribed only";
}

}  // namespace
