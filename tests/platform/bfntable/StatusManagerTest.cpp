#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestMatchSpec.h"
#include "bfntable/StatusManager.h"
#include "support/LeakCheck.h"

namespace {

using BfnTableStatusManager::StatusManager;
using BfnTableTest::TestMatchSpec;

class StatusManagerTest : public TestSupport::LeakCheck {
  protected:
    StatusManager::Ptr manager_ = BfnTableStatusManager::statusManagerFactory();
};

TEST_F(StatusManagerTest, CountsTouchesPerMatchObjectNotPerValue) {
    const auto a = TestMatchSpec::TestMatchSpecIs(7);
    const auto sameValue = TestMatchSpec::TestMatchSpecIs(7);
    manager_->initStatus(a);
    manager_->initStatus(a);
    manager_->initStatus(sameValue);

    EXPECT_EQ(manager_->touches(a), 2u);
    EXPECT_EQ(manager_->touches(sameValue), 1u);
    EXPECT_EQ(manager_->touches(TestMatchSpec::TestMatchSpecIs(7)), 0u);
    EXPECT_EQ(manager_->entryStatusCount(), 2u);
    EXPECT_EQ(manager_->initStatusCount(), 3u);
    EXPECT_THROW(manager_->initStatus(nullptr), Kiv::Exception);
    EXPECT_EQ(manager_->initStatusCount(), 3u);
}

TEST_F(StatusManagerTest, ResyncStartsAnEpochThatTouchesMarkAsSeen) {
    const auto a = TestMatchSpec::TestMatchSpecIs(1);
    const auto b = TestMatchSpec::TestMatchSpecIs(2);
    manager_->initStatus(a);
    manager_->initStatus(b);
    EXPECT_TRUE(manager_->seenSinceResync(a));

    manager_->resyncStatus();
    EXPECT_EQ(manager_->resyncStatusCount(), 1u);
    EXPECT_FALSE(manager_->seenSinceResync(a));
    EXPECT_FALSE(manager_->seenSinceResync(b));

    manager_->initStatus(a);
    EXPECT_TRUE(manager_->seenSinceResync(a));
    EXPECT_FALSE(manager_->seenSinceResync(b));
    EXPECT_EQ(manager_->touches(b), 1u) << "a resync keeps the counts";
    EXPECT_FALSE(manager_->seenSinceResync(TestMatchSpec::TestMatchSpecIs(1)));
}

TEST_F(StatusManagerTest, StatusDelDropsTheStatusAndItsReference) {
    const auto a = TestMatchSpec::TestMatchSpecIs(1);
    manager_->initStatus(a);
    EXPECT_EQ(a->references(), 2u);

    EXPECT_TRUE(manager_->statusDel(a));
    EXPECT_EQ(a->references(), 1u);
    EXPECT_EQ(manager_->entryStatusCount(), 0u);
    EXPECT_EQ(manager_->entryStatus(a.ptr()), nullptr);
    EXPECT_FALSE(manager_->statusDel(a));
}

class Recorder : public Kiv::Entity::Notifiee {
  public:
    void onAttributeChange(const Kiv::Entity&, const char* attribute) override {
        changes.emplace_back(attribute);
    }
    std::vector<std::string> changes;
};

TEST_F(StatusManagerTest, NotifiesItsCountersOnlyWhileNotificationIsOn) {
    Recorder recorder;
    manager_->notifieeAdd(&recorder);
    const auto a = TestMatchSpec::TestMatchSpecIs(1);
    manager_->initStatus(a);
    manager_->initStatus(a);
    manager_->resyncStatus();
    EXPECT_EQ(recorder.changes, (std::vector<std::string>{"entryStatusCount", "initStatusCount",
                                                          "initStatusCount", "resyncStatusCount"}));

    manager_->notificationIs(false);
    manager_->resyncStatus();
    EXPECT_EQ(recorder.changes.size(), 4u);
    manager_->notifieeDel(&recorder);
}

TEST_F(StatusManagerTest, IsReachableByNameThroughTheTypeRegistry) {
    const Kiv::TypeInfo* type = Kiv::TypeInfo::named("BfnTableStatusManager::StatusManager");
    ASSERT_NE(type, nullptr);
    const Kiv::PtrInterface::Ptr object = type->create();
    ASSERT_TRUE(object);
    const auto a = TestMatchSpec::TestMatchSpecIs(3);
    EXPECT_TRUE(a->kivType().isA(BfnTable::MatchSpecBase::kivTypeInfo()));

    const Kiv::Value arg = Kiv::ObjectRef(a.ptr());
    Kiv::genericCall(*object, "initStatus", {&arg, 1});
    EXPECT_EQ(Kiv::genericGet(*object, "initStatusCount"), Kiv::Value(Kiv::U64{1}));
    EXPECT_EQ(Kiv::genericCall(*object, "touches", {&arg, 1}), Kiv::Value(Kiv::U64{1}));
    EXPECT_THROW(Kiv::genericSet(*object, "initStatusCount", Kiv::U64{0}), Kiv::AttributeException);
}

}  // namespace
