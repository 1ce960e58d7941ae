// The PD interface object: PD functions bound by name, errors naming what is missing, and
// the object runtime only from a PD library that offers it.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>

#include "LeakCheck.h"
#include "PdLibrary.h"
#include "Thrown.h"
#include "chip/SimBfRt.h"
#include "pdintf/BfPdTwiceNatAddrPortIntf.h"

namespace {

using BfPdTwiceNatAddrPort::BfPdTwiceNatAddrPortIntf;
using ChipTest::kPdLibrary;
using ChipTest::kPdLibraryNoBfRt;

class PdIntfTest : public TestSupport::LeakCheck {};

// A library that is not a PD library names the first function looked up.
TEST_F(PdIntfTest, OpensTheNamedLibraryAndCallsItsFunctionsOrSaysWhatIsMissing) {
    auto lib = Kiv::create<BfPdTwiceNatAddrPortIntf>(Kiv::U8{2}, kPdLibraryNoBfRt, nullptr, 9u);
    EXPECT_EQ(lib->pd().setProperty(lib->sessionId(), 2, 1, 1), 0);
    ChipTest::SharedLibrary other(OLVANE_PD_LIBRARY_DIR "/libchip.so");
    const std::pair<std::function<void()>, std::string> cases[] = {
        {[] { Kiv::create<BfPdTwiceNatAddrPortIntf>(Kiv::U8{0}, "/no/libpd.so", nullptr, 0u); },
         "cannot open PD library '/no/libpd.so': "},
        {[&] { Kiv::create<BfPdTwiceNatAddrPortIntf>(Kiv::U8{0}, "chip", other.handle(), 0u); },
         "PD library 'chip' has no function 'p4_pd_olvane_switch_twiceNatAddrPort_set_property'"}};
    for (const auto& [create, message] : cases) {
        const auto e = TestSupport::thrown<Kiv::Exception>(create);
        EXPECT_EQ(std::string(e ? e->what() : "").substr(0, message.size()), message);
    }
}

TEST_F(PdIntfTest, ObjectRuntimeOnlyFromALibraryThatOffersIt) {
    ChipTest::SharedLibrary withBfRt(kPdLibrary);
    ChipTest::SharedLibrary withoutBfRt(kPdLibraryNoBfRt);
    auto plain = Kiv::create<BfPdTwiceNatAddrPortIntf>(Kiv::U8{1}, "pd", withoutBfRt.handle(), 0u);
    EXPECT_EQ(std::tuple(plain->bfRtTable() != nullptr, plain->bfRtTableIntf() != nullptr,
                         plain->actionIdTwiceNatAddrPortHit()),
              std::tuple(false, false, 0u));
    // Another plain library (a copy of the file, so dlopen gives another handle) is bound.
    const std::string copy = ::testing::TempDir() + "pd_copy_" + std::to_string(::getpid()) + ".so";
    std::filesystem::copy_file(kPdLibraryNoBfRt, copy,
                               std::filesystem::copy_options::overwrite_existing);
    ChipTest::SharedLibrary plainCopy(copy);
    std::filesystem::remove(copy);  // the mapping stays
    plain->dlHandleIs(plainCopy.handle());
    EXPECT_EQ(plain->boundHandle(), plainCopy.handle());

    // Given the other library's handle it binds the object runtime (ids: the BfRt suites').
    plain->dlHandleIs(withBfRt.handle());
    EXPECT_EQ(std::tuple(plain->bfRtTable(), plain->bfRtTableIntf() != nullptr,
                         plain->ingMdNatKeyIdFieldId()),
              std::tuple(Chip::deviceObjects(1).table.get(), true, 1u));
    // Rebinding to a plain library, another one or null is recorded; what is bound stays.
    ChipTest::SharedLibrary other(OLVANE_PD_LIBRARY_DIR "/libchip.so");
    bfrt::OlvaneBfRtTable* const table = plain->bfRtTable();
    for (void* handle : {withoutBfRt.handle(), other.handle(), static_cast<void*>(nullptr)}) {
        plain->dlHandleIs(handle);
        EXPECT_EQ(std::tuple(plain->dlHandle(), plain->boundHandle(), plain->bfRtTable()),
                  std::tuple(handle, withBfRt.handle(), table));
        EXPECT_EQ(plain->ingMdNatKeyIdFieldId(), 1u);
    }
}

}  // namespace
