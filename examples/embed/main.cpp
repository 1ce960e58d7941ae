// embed_agent: the smallest agent of one's own over the table library.
//
// It sets up device 0, all pipes: the simulated chip, the key manager's
// records and a status manager, loads a PD library and builds the table with
// the exported factory. A first run installs three entries, changes one,
// reads them back and deletes one, leaving two in the chip and in the key
// records. The next run, a new process, finds those two through the factory's
// resync, checks them, and deletes them, so that the run after starts afresh.
//
//   embed_agent [PD library]     (default: the one found at build time)
//
// The chip and the key records live in shared memory named after
// OLVANE_SHM_PREFIX; give each setup its own.
#include <dlfcn.h>

#include <cstdio>
#include <exception>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <tuple>

#include "BfTwiceNatAddrPort/BfTwiceNatAddrPort"
#include "BfTwiceNatAddrPort/Version.h"
#include "chip/ChipRegistry.h"
#include "sdk/olvane_switch_pd.h"

namespace {

namespace Bf = BfTwiceNatAddrPort;
using Key = std::tuple<Kiv::U16, Kiv::U16, Kiv::U16>;  // NAT key id, source port, destination port

constexpr Kiv::U8 kDevice = 0;
constexpr Kiv::U16 kAllPipes = 0xFFFF;
constexpr Kiv::U32 kCapacity = 1024;

// The PD library stays loaded while the table lives: the table calls into it.
struct DlClose {
    void operator()(void* handle) const { ::dlclose(handle); }
};
using LibraryHandle = std::unique_ptr<void, DlClose>;

Key keyOf(const Bf::TwiceNatAddrPortMatchSpec& match) {
    return {match.ingMdNatKeyId(), match.l4PortHdrSrcPort(), match.l4PortHdrDstPort()};
}

Bf::TwiceNatAddrPortMatchSpec::PtrConst matchOf(const Key& key) {
    Bf::TwiceNatAddrPortMatchSpec::Ptr match = Bf::twiceNatAddrPortMatchSpecFactory();
    match->ingMdNatKeyIdIs(std::get<0>(key));
    match->l4PortHdrSrcPortIs(std::get<1>(key));
    match->l4PortHdrDstPortIs(std::get<2>(key));
    return match;
}

void fail(const std::string& what) {
    throw std::runtime_error(what);
}

class EmbedAgent {
  public:
    explicit EmbedAgent(const std::string& pdLibrary)
        : pdLibrary_(pdLibrary),
          pdHandle_(::dlopen(pdLibrary.c_str(), RTLD_NOW)),
          keys_(MbbZabroKey::zabroKeyManagerFactory(kDevice, kAllPipes, kCapacity + 16)),
          status_(BfnTableStatusManager::statusManagerFactory()) {
        if (!pdHandle_)
            fail(std::string("cannot load the PD library: ") + ::dlerror());
        Chip::open(kDevice, kCapacity);
        // The SDK serves open sessions only: open one for every call the table makes.
        auto clientInit = reinterpret_cast<decltype(&p4_pd_olvane_switch_client_init)>(
            ::dlsym(pdHandle_.get(), "p4_pd_olvane_switch_client_init"));
        if (!clientInit || clientInit(&session_) != 0)
            fail("cannot open a session of the PD library");
        // Reads back every entry that the key records name: after a restart,
        // the handle map holds new match objects for them.
        table_ = twiceNatAddrPortTableFactory(keys_, status_, pdHandle_.get(), session_, kDevice,
                                              kAllPipes, pdLibrary_);
        table_->helper()->sdkHandles()->entryForEach([this](const auto& match, auto) {
            matches_[keyOf(*match)] = match;
            return true;
        });
    }

    std::size_t entryCount() const { return matches_.size(); }

    // Adds the entry of `key`, or changes its action when it is installed.
    void program(const Key& key, Bf::TwiceNatAddrPortActionSpecType type, Kiv::U16 rwId,
                 Kiv::U16 nextHopOrGroup) {
        auto [it, added] = matches_.try_emplace(key, nullptr);
        if (added)
            it->second = matchOf(key);
        Bf::TwiceNatAddrPortTableEntry entry(it->second);  // the installed object, if any
        entry.actionIs(Bf::actionSpecOf(type, rwId, 6, nextHopOrGroup));
        try {
            table_->entryIs(entry);
        } catch (...) {
            if (added)
                matches_.erase(it);
            throw;
        }
        if (added)
            recordHandle(it->second);
    }

    void remove(const Key& key) {
        auto it = matches_.find(key);
        if (it == matches_.end())
            fail("no entry to delete");
        table_->entryDel(it->second);
        if (const auto k = keys_->key(it->second); k != 0)
            keys_->free(k);
        status_->statusDel(it->second);
        matches_.erase(it);
    }

    // The entry as the chip holds it, read back through the SDK.
    std::string show(const Key& key) const {
        auto it = matches_.find(key);
        if (it == matches_.end())
            return "not installed";
        const Bf::TwiceNatAddrPortTableEntry entry = table_->entry(it->second);
        if (entry.isDefaultValue())
            return "not readable";
        const Bf::TwiceNatAddrPortBaseActionSpec& action = *entry.action();
        return Bf::stringValue(action.actionType()) + " rwId=" + std::to_string(action.rwId()) +
               " param=" + std::to_string(Bf::hitActionParam(action));
    }

  private:
    // The table allocated a key record for the new entry, but only we learn
    // its handle: without it the record cannot find the entry after a restart.
    void recordHandle(const Bf::TwiceNatAddrPortMatchSpec::PtrConst& match) {
        const auto key = keys_->key(match);
        if (key == 0)
            fail("the table gave the new entry no key");
        keys_->sdkEntryHandleIs(key, table_->helper()->sdkHandles()->entry(match));
    }

    std::string pdLibrary_;
    LibraryHandle pdHandle_;
    p4_pd_sess_hdl_t session_ = 0;
    MbbZabroKey::ZabroKeyManager::Ptr keys_;
    BfnTableStatusManager::StatusManager::Ptr status_;
    Bf::TwiceNatAddrPortTable::Ptr table_;
    // Entries are told apart by match object: keep the object each was installed with.
    std::map<Key, Bf::TwiceNatAddrPortMatchSpec::PtrConst> matches_;
};

const Key kWeb{1, 1024, 80}, kMail{1, 1025, 25}, kDns{2, 4000, 53};

void expect(const EmbedAgent& agent, const Key& key, const std::string& want) {
    const std::string got = agent.show(key);
    std::printf("  %u:%u->%u  %s\n", std::get<0>(key), std::get<1>(key), std::get<2>(key),
                got.c_str());
    if (got != want)
        fail("expected " + want);
}

void firstRun(EmbedAgent& agent) {
    std::printf("blank table: installing\n");
    agent.program(kWeb, Bf::twiceNatAddrPortHitActionSpec, 5, 2);
    agent.program(kMail, Bf::twiceNatAddrPortHitEcmpActionSpec, 6, 3);
    agent.program(kDns, Bf::twiceNatAddrPortHitActionSpec, 7, 4);
    agent.program(kWeb, Bf::twiceNatAddrPortHitDynamicActionSpec, 8, 9);  // a modify
    agent.remove(kDns);
    expect(agent, kWeb, "twiceNatAddrPortHitDynamicActionSpec rwId=8 param=9");
    expect(agent, kMail, "twiceNatAddrPortHitEcmpActionSpec rwId=6 param=3");
    expect(agent, kDns, "not installed");
}

void secondRun(EmbedAgent& agent) {
    std::printf("restarted: %zu entries resynced\n", agent.entryCount());
    expect(agent, kWeb, "twiceNatAddrPortHitDynamicActionSpec rwId=8 param=9");
    expect(agent, kMail, "twiceNatAddrPortHitEcmpActionSpec rwId=6 param=3");
    agent.program(kMail, Bf::twiceNatAddrPortHitEcmpActionSpec, 6,
                  4);  // through the resynced object
    expect(agent, kMail, "twiceNatAddrPortHitEcmpActionSpec rwId=6 param=4");
    agent.remove(kWeb);
    agent.remove(kMail);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string pdLibrary = argc > 1 ? argv[1] : EMBED_PD_LIBRARY;
    std::printf("embed_agent over BfTwiceNatAddrPort %s\n", Bf::kVersion);
    try {
        EmbedAgent agent(pdLibrary);
        if (agent.entryCount() == 0)
            firstRun(agent);
        else if (agent.entryCount() == 2)
            secondRun(agent);
        else
            fail("unexpected entries in the table; wipe device 0 with olvane_chip");
        std::printf("done\n");
        return 0;
    }
    // Three table exceptions hide their base: a handler must name them.
    catch (const BfTable::BfNotSupported& e) {
        std::fprintf(stderr, "embed_agent: not supported (%u): %s\n", e.status(), e.what());
    } catch (const BfTable::BfDuplicateEntry& e) {
        std::fprintf(stderr, "embed_agent: duplicate entry (%u): %s\n", e.status(), e.what());
    } catch (const BfTable::BfTryAgain& e) {
        std::fprintf(stderr, "embed_agent: try again (%u): %s\n", e.status(), e.what());
    } catch (const BfTable::BfTableException& e) {  // BfTableFull, BfNoSysResources, others
        std::fprintf(stderr, "embed_agent: table failure (%u): %s\n", e.status(), e.what());
    } catch (const std::exception& e) {  // the platform's failures, and ours
        std::fprintf(stderr, "embed_agent: %s\n", e.what());
    }
    return 1;
}
