// Reading entries back through the PD entry reader: from the chip, from a
// scripted reader (names and buffers the chip never writes), and after a
// restart of the agent in a second process.

#include <sys/wait.h>
#include <unistd.h>

#include <string_view>

#include "PdScriptedReader.h"
#include "PdTestSupport.h"

namespace TableTest {
namespace {

using PdTest::ReaderScript;
using PdTest::ScriptedReaderLibrary;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST_F(PdFixture, ReadsBackNewObjectsWithoutTouchingTheBookkeeping) {
    pdTableIs();
    const auto m = match(1, 2, 3);
    program(m, actionOf(Bf::twiceNatAddrPortHitEcmpActionSpec, 1, 6, 2));
    const U32 h = handleOf(m);
    const auto touches = statusManager->initStatusCount();
    keys->calls.clear();

    Bf::TwiceNatAddrPortTableEntry first, second;
    EXPECT_THAT(callsOf([&] { first = table->entryByHandle(h); }),
                ElementsAre(pd("get_entry", kAtDevice + "hdl=" + std::to_string(h) +
                                                ", read_from_hw=0, hit_count=null")));
    second = table->entry(m);
    const Fields expected{1, 2, 3, 3, 1, 6, 2};
    EXPECT_EQ(fieldsOf(first), expected);
    EXPECT_EQ(fieldsOf(second), expected);
    EXPECT_NE(first.match(), second.match());
    EXPECT_NE(first.action(), second.action());
    EXPECT_NE(first.match(), m);
    EXPECT_EQ(table->helper()->sdkHandles()->entryCount(), 1u);
    EXPECT_THAT(keys->calls, IsEmpty());
    EXPECT_EQ(statusManager->initStatusCount(), touches);

    // The read-back object is not the installed one: a lookup with it finds nothing.
    EXPECT_THAT(callsOf([&] { EXPECT_EQ(fieldsOf(table->entry(first.match())), Fields{}); }),
                IsEmpty());

    // A failed read gives the empty entry and raises nothing.
    Chip::TestHooks::faultIs(std::string(kPd) + "get_entry", 1, 6);
    EXPECT_EQ(fieldsOf(table->entryByHandle(h)), Fields{});
    EXPECT_EQ(fieldsOf(table->entryByHandle(h + 1)), Fields{});
}

// ---- A scripted reader

class PdScriptedReadTest : public PdFixture {
  protected:
    PdScriptedReadTest() {
        reader.emplace();
        table = twiceNatAddrPortTableFactory(nullptr, nullptr, reader->handle(), kSession, kDevice,
                                             kPipe, "scripted reader");
    }
    ~PdScriptedReadTest() override {
        table = nullptr;
        reader.reset();
    }

    std::optional<ScriptedReaderLibrary> reader;
};

struct ReadCase {
    const char* label;
    std::string_view name;
    int status;
    Fields expected;
};

// Match bytes 01 0a 02 0b 03 0c; action bytes 01 00 06, padding 5a, 02 00.
constexpr Fields kRead(int type) {
    return type == 0 ? Fields{0x0a01, 0x0b02, 0x0c03, 0, 0, 0, 0}
                     : Fields{0x0a01, 0x0b02, 0x0c03, type, 1, 6, 2};
}

using namespace std::string_view_literals;
const ReadCase kReadCases[] = {
    {"onMiss ignores the action buffer", "p4_pd_olvane_switch_onMiss", 0, kRead(0)},
    {"hit", "p4_pd_olvane_switch_twiceNatAddrPortHit", 0, kRead(1)},
    {"hit dynamic", "p4_pd_olvane_switch_twiceNatAddrPortHitDynamic", 0, kRead(2)},
    {"hit ecmp", "p4_pd_olvane_switch_twiceNatAddrPortHitEcmp", 0, kRead(3)},
    {"hit ecmp dynamic", "p4_pd_olvane_switch_twiceNatAddrPortHitEcmpDynamic", 0, kRead(4)},
    {"bytes after the terminator", "p4_pd_olvane_switch_twiceNatAddrPortHit\0Ecmp"sv, 0, kRead(1)},
    {"shortened", "p4_pd_olvane_switch_twiceNatAddrPortHitEcmpDyn", 0, {}},
    {"longer", "p4_pd_olvane_switch_twiceNatAddrPortHitEcmpDynamicX", 0, {}},
    {"onMiss longer", "p4_pd_olvane_switch_onMissX", 0, {}},
    {"without prefix", "twiceNatAddrPortHit", 0, {}},
    {"empty", "", 0, {}},
    {"no terminator in the buffer",
     "p4_pd_olvane_switch_twiceNatAddrPortHitxxxxxxxxxxxxxxxxxxxxxxxxxx",
     0,
     {}},
    {"status 6", "p4_pd_olvane_switch_twiceNatAddrPortHit", 6, {}},
    {"negative status", "p4_pd_olvane_switch_onMiss", -1, {}},
};

TEST_F(PdScriptedReadTest, BuildsTheActionThatTheWholeNameNames) {
    ASSERT_TRUE(table);
    for (const ReadCase& c : kReadCases) {
        SCOPED_TRACE(c.label);
        ReaderScript script;
        script.nameIs(c.name);
        script.status = c.status;
        script.match = {0x01, 0x0a, 0x02, 0x0b, 0x03, 0x0c};
        script.action = {0x01, 0x00, 0x06, 0x5a, 0x02, 0x00};
        ScriptedReaderLibrary::scriptIs(script);
        Bf::TwiceNatAddrPortTableEntry e;
        EXPECT_NO_THROW(e = table->entryByHandle(5));
        EXPECT_EQ(fieldsOf(e), c.expected);
        EXPECT_EQ(ScriptedReaderLibrary::scriptedReads(), 1u);
    }
    ScriptedReaderLibrary::scriptIs(std::nullopt);
}

// ---- A restart in a second process

struct Installed {
    Fields fields;
    bool isDefault;
};
const Installed kInstalled[] = {
    {{1, 2, 3, 1, 10, 6, 100}, false}, {{4, 5, 6, 2, 11, 17, 101}, false},
    {{7, 8, 9, 3, 12, 6, 102}, false}, {{10, 11, 12, 4, 13, 17, 103}, false},
    {{13, 14, 15, 0, 0, 0, 0}, false}, {{0, 0, 0, 1, 14, 6, 104}, true},
};

// The first run of the agent: installs kInstalled and records each handle
// with its key, as the agent does. Exits 0 when all went well.
[[noreturn]] void firstRun() {
    int failed = 0;
    try {
        ChipTest::SharedLibrary lib(ChipTest::kPdLibraryNoBfRt);
        auto keys = MbbZabroKey::zabroKeyManagerFactory(kDevice, kPipe);
        auto table = twiceNatAddrPortTableFactory(
            keys, BfnTableStatusManager::statusManagerFactory(), lib.handle(), kSession, kDevice,
            kPipe, ChipTest::kPdLibraryNoBfRt);
        for (const Installed& i : kInstalled) {
            const auto& f = i.fields;
            const Bf::TwiceNatAddrPortMatchSpec::PtrConst m =
                i.isDefault ? table->defaultMatchSpec() : matchOf(f.natKeyId, f.dstPort, f.srcPort);
            table->entryIs(entryOf(m, actionOf(static_cast<TwiceNatAddrPortActionSpecType>(f.type),
                                               f.rwId, f.prot, f.param)));
            keys->sdkEntryHandleIs(keys->key(m), table->helper()->sdkHandles()->entry(m));
        }
    } catch (...) {
        failed = 1;
    }
    ::_exit(failed);
}

TEST_F(PdFixture, RestartedAgentFindsEveryEntry) {
    keys = nullptr;
    keyManager = nullptr;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        firstRun();
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    keyManagerIs();
    tableIs(Backend::Pd);
    constexpr std::size_t n = std::size(kInstalled);
    EXPECT_EQ(table->helper()->sdkHandles()->entryCount(), n);
    EXPECT_EQ(keyManager->highestAllocatedKey(), n);
    const auto config = keyManager->mbbZabroTableConfig();
    for (Kiv::U64 key = 1; key <= n; ++key) {
        SCOPED_TRACE(key);
        const auto m = keyManager->match(key);
        ASSERT_TRUE(m);
        const auto resynced = Dorvu::ptrCast<const Bf::TwiceNatAddrPortMatchSpec>(m);
        Zabro::MbbPostcodef::EntryConfig record(0, 0, 0, 0, 0);
        ASSERT_TRUE(config->recordFind(key, record));
        EXPECT_EQ(handleOf(resynced), record.sdkEntryHandle());
        EXPECT_EQ(fieldsOf(table->entry(resynced)), kInstalled[key - 1].fields);
    }
    // The new default match object is not the one that the first run installed.
    EXPECT_FALSE(table->helper()->sdkHandles()->entryHas(defaultMatch()));
}

}  // namespace
}  // namespace TableTest
