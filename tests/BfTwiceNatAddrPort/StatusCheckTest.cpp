// The 28 status texts, the class that each of the three checks
// picks, the messages, and the non-public bases of three exception classes.

#include <climits>
#include <type_traits>

#include "TableTestSupport.h"

namespace TableTest {
namespace {

using Bf::SdkStatus;

TEST(StatusTextTest, EveryCodeHasItsTextAndTheRestAreUnknown) {
    const char* texts[] = {"Success",
                           "Not ready",
                           "No system resources",
                           "Invalid arguments",
                           "Already exists",
                           "HW access fails",
                           "Object not found",
                           "Max sessions exceeded",
                           "Session not found",
                           "Not enough space",
                           "Resource temporarily not available, try again later",
                           "Initialization error",
                           "Not supported in transaction",
                           "Resource held by another session",
                           "IO error",
                           "Unexpected error",
                           "Action data entry is being referenced by match entries",
                           "Operation not supported",
                           "Updating hardware failed",
                           "No learning clients registered",
                           "Idle time update state already in progress",
                           "Device locked",
                           "Internal error",
                           "Table not found",
                           "In use",
                           "Object not implemented",
                           "Hardware entry not found"};
    for (SdkStatus code = 0; code <= 26; ++code)
        EXPECT_STREQ(Bf::sdkStatusText(code), texts[code]) << code;
    for (SdkStatus code : {27, 28, 1000, INT_MAX, -1, -26, INT_MIN})
        EXPECT_STREQ(Bf::sdkStatusText(code), "Unknown error") << code;
}

// What a check raised: the class (named by the handler that caught it), the
// status and the message; "none" when it raised nothing.
struct Raised {
    std::string cls = "none";
    U32 status = 0;
    std::string message;
    bool operator==(const Raised&) const = default;
};

void PrintTo(const Raised& r, std::ostream* out) {
    *out << r.cls << "(" << r.status << ", \"" << r.message << "\")";
}

template <class F>
Raised raisedBy(F check) {
    try {
        check();
    } catch (const BfTable::BfTableFull& e) {
        return {"BfTableFull", e.status(), e.what()};
    } catch (const BfTable::BfNoSysResources& e) {
        return {"BfNoSysResources", e.status(), e.what()};
    } catch (const BfTable::BfNotSupported& e) {
        return {"BfNotSupported", e.status(), e.what()};
    } catch (const BfTable::BfDuplicateEntry& e) {
        return {"BfDuplicateEntry", e.status(), e.what()};
    } catch (const BfTable::BfTryAgain& e) {
        return {"BfTryAgain", e.status(), e.what()};
    } catch (const BfTable::BfTableException& e) {
        return {"BfTableException", e.status(), e.what()};
    }
    return {};
}

struct CheckCase {
    SdkStatus status;
    const char* pdOperation;
    const char* bfRtOperation;
    const char* bfRtCall;
};
void PrintTo(const CheckCase& c, std::ostream* out) {
    *out << "status " << c.status;
}

class StatusCheckTest : public ::testing::TestWithParam<CheckCase> {};

INSTANTIATE_TEST_SUITE_P(
    Statuses, StatusCheckTest,
    ::testing::Values(CheckCase{0, "none", "none", "none"},
                      CheckCase{2, "BfNoSysResources", "BfNoSysResources", "BfTableException"},
                      CheckCase{3, "BfTableException", "BfTableException", "BfTableException"},
                      CheckCase{4, "BfTableException", "BfDuplicateEntry", "BfTableException"},
                      CheckCase{6, "BfTableException", "BfTableException", "BfTableException"},
                      CheckCase{9, "BfTableFull", "BfTableFull", "BfTableException"},
                      CheckCase{10, "BfTableException", "BfTableException", "BfTryAgain"},
                      CheckCase{17, "BfNotSupported", "BfNotSupported", "BfTableException"},
                      CheckCase{26, "BfTableException", "BfTableException", "BfTableException"},
                      CheckCase{27, "BfTableException", "BfTableException", "BfTableException"},
                      CheckCase{-1, "BfTableException", "BfTableException", "BfTableException"}),
    [](const auto& info) {
        const SdkStatus s = info.param.status;
        return s < 0 ? "Minus" + std::to_string(-s) : std::to_string(s);
    });

TEST_P(StatusCheckTest, EachCheckPicksItsClassAndFormatsItsMessage) {
    const CheckCase& c = GetParam();
    const auto raised = [&](const char* cls, const std::string& message) {
        if (std::string(cls) == "none")
            return Raised{};
        return Raised{cls, static_cast<U32>(c.status), message};
    };
    const std::string text = Bf::sdkStatusText(c.status);
    const char* pdDelete = "p4_pd_olvane_switch_twiceNatAddrPort_table_delete";
    EXPECT_EQ(raisedBy([&] { Bf::checkPdOperation(c.status, pdDelete); }),
              raised(c.pdOperation, std::string(pdDelete) + "() failed: " + text));
    EXPECT_EQ(raisedBy([&] { Bf::checkBfRtOperation(c.status, "twiceNatAddrPort_tableEntryAdd"); }),
              raised(c.bfRtOperation, "twiceNatAddrPort_tableEntryAdd() failed: " + text));
    EXPECT_EQ(raisedBy([&] { Bf::checkBfRtCall(c.status); }),
              raised(c.bfRtCall, "BFRT call failed: " + text));
}

TEST(TableExceptionTest, HiddenBasesAreNotCaughtByABaseHandlerButStillReadable) {
    static_assert(std::is_convertible_v<BfTable::BfTableFull*, BfTable::BfTableException*>);
    static_assert(std::is_convertible_v<BfTable::BfNoSysResources*, Kiv::InternalException*>);
    static_assert(!std::is_convertible_v<BfTable::BfTryAgain*, BfTable::BfTableException*>);
    static_assert(!std::is_convertible_v<BfTable::BfNotSupported*, Kiv::InternalException*>);
    static_assert(!std::is_convertible_v<BfTable::BfDuplicateEntry*, std::exception*>);
    static_assert(std::is_base_of_v<BfTable::BfTableException, BfTable::BfTryAgain>);
    static_assert(sizeof(BfTable::BfTryAgain) == sizeof(BfTable::BfTableException));
    static_assert(std::is_base_of_v<Kiv::InternalException, BfTable::BfTableException>);

    bool baseCaughtFull = false;
    try {
        Bf::checkPdOperation(9, "op");
    } catch (const BfTable::BfTableException& e) {
        baseCaughtFull = true;
        EXPECT_EQ(e.status(), 9u);
    }
    EXPECT_TRUE(baseCaughtFull);

    bool baseCaughtTryAgain = false;
    try {
        try {
            Bf::checkBfRtCall(10);
        } catch (const BfTable::BfTableException&) {
            baseCaughtTryAgain = true;
        } catch (const Kiv::InternalException&) {
            baseCaughtTryAgain = true;
        }
    } catch (const BfTable::BfTryAgain& e) {
        EXPECT_EQ(e.status(), 10u);
        EXPECT_STREQ(e.what(),
                     "BFRT call failed: Resource temporarily not available, try again later");
        EXPECT_EQ(e.message(), e.what());
        EXPECT_STREQ(e.name(), "InternalException");
    }
    EXPECT_FALSE(baseCaughtTryAgain);
}

}  // namespace
}  // namespace TableTest
