// The status texts, the class and message each of the three checks gives, the hidden bases.

#include <climits>
#include <type_traits>

#include "TableTestSupport.h"

namespace TableTest {
namespace {

using Bf::SdkStatus;

// The texts at both ends of the table and one inside; every other code is unknown.
TEST(StatusTextTest, EveryCodeHasItsTextAndTheRestAreUnknown) {
    EXPECT_STREQ(Bf::sdkStatusText(0), "Success");
    EXPECT_STREQ(Bf::sdkStatusText(10), "Resource temporarily not available, try again later");
    EXPECT_STREQ(Bf::sdkStatusText(26), "Hardware entry not found");
    for (SdkStatus code : {27, 28, 1000, INT_MAX, -1, INT_MIN})
        EXPECT_STREQ(Bf::sdkStatusText(code), "Unknown error") << code;
}

// The class that the PD operation, BfRt operation and BfRt call check raise; "nothing": none.
struct CheckCase {
    SdkStatus status;
    const char* pdOperation;
    const char* bfRtOperation;
    const char* bfRtCall;
};
const CheckCase kCheckCases[] = {
    {0, "nothing", "nothing", "nothing"},
    {2, "BfNoSysResources", "BfNoSysResources", "BfTableException"},
    {4, "BfTableException", "BfDuplicateEntry", "BfTableException"},
    {9, "BfTableFull", "BfTableFull", "BfTableException"},
    {10, "BfTableException", "BfTableException", "BfTryAgain"},
    {17, "BfNotSupported", "BfNotSupported", "BfTableException"},
    {27, "BfTableException", "BfTableException", "BfTableException"},
    {-1, "BfTableException", "BfTableException", "BfTableException"},
};

TEST(StatusCheckTest, EachCheckPicksItsClassAndFormatsItsMessage) {
    for (const CheckCase& c : kCheckCases) {
        SCOPED_TRACE(c.status);
        const auto expected = [&](std::string cls, const std::string& message) {
            return cls == "nothing" ? Raised{} : Raised{cls, static_cast<U32>(c.status), message};
        };
        const std::string text = Bf::sdkStatusText(c.status);
        EXPECT_EQ(raised([&] { Bf::checkPdOperation(c.status, "pd_delete"); }),
                  expected(c.pdOperation, "pd_delete() failed: " + text));
        EXPECT_EQ(raised([&] { Bf::checkBfRtOperation(c.status, "bfrt_add"); }),
                  expected(c.bfRtOperation, "bfrt_add() failed: " + text));
        EXPECT_EQ(raised([&] { Bf::checkBfRtCall(c.status); }),
                  expected(c.bfRtCall, "BFRT call failed: " + text));
    }
}

// Three classes hide their bases: a handler of the base does not catch them.
static_assert(std::is_convertible_v<BfTable::BfTableFull*, BfTable::BfTableException*>);
static_assert(std::is_convertible_v<BfTable::BfNoSysResources*, Kiv::InternalException*>);
static_assert(!std::is_convertible_v<BfTable::BfTryAgain*, BfTable::BfTableException*>);
static_assert(!std::is_convertible_v<BfTable::BfNotSupported*, Kiv::InternalException*>);
static_assert(!std::is_convertible_v<BfTable::BfDuplicateEntry*, std::exception*>);
static_assert(std::is_base_of_v<BfTable::BfTableException, BfTable::BfTryAgain>);
static_assert(std::is_base_of_v<Kiv::InternalException, BfTable::BfTableException>);

}  // namespace
}  // namespace TableTest
