// The status texts, the class and message each of the three checks gives, the hidden bases.

#include <type_traits>

#include "TableTestSupport.h"

namespace TableTest {
namespace {

using Bf::SdkStatus;

// The class that the PD operation, BfRt operation and BfRt call check raise ("nothing":
// none) and the status text in their messages: the table's ends, one inside, unknown codes.
struct CheckCase {
    SdkStatus status;
    const char* text;
    const char* pdOperation;
    const char* bfRtOperation;
    const char* bfRtCall;
};
const char* const kOther = "BfTableException";
const char* const kUnknown = "Unknown error";
const CheckCase kCheckCases[] = {
    {0, "Success", "nothing", "nothing", "nothing"},
    {2, "No system resources", "BfNoSysResources", "BfNoSysResources", kOther},
    {4, "Already exists", kOther, "BfDuplicateEntry", kOther},
    {9, "Not enough space", "BfTableFull", "BfTableFull", kOther},
    {10, "Resource temporarily not available, try again later", kOther, kOther, "BfTryAgain"},
    {17, "Operation not supported", "BfNotSupported", "BfNotSupported", kOther},
    {26, "Hardware entry not found", kOther, kOther, kOther},
    {27, kUnknown, kOther, kOther, kOther},
    {28, kUnknown, kOther, kOther, kOther},
    {-1, kUnknown, kOther, kOther, kOther},
};

TEST(StatusCheckTest, EachCheckPicksItsClassAndFormatsItsMessage) {
    for (const CheckCase& c : kCheckCases) {
        SCOPED_TRACE(c.status);
        const auto expected = [&](std::string cls, const std::string& message) {
            return cls == "nothing" ? Raised{} : Raised{cls, static_cast<U32>(c.status), message};
        };
        EXPECT_STREQ(Bf::sdkStatusText(c.status), c.text);
        const std::string text = c.text;
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
