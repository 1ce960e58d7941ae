#include "PdScriptedReader.h"

#include <dlfcn.h>

#include <cstring>
#include <stdexcept>
#include <string>

#include "PdLibrary.h"

namespace PdTest {
namespace {

using GetEntry = decltype(&::p4_pd_olvane_switch_twiceNatAddrPort_get_entry);

GetEntry chipReader = nullptr;

void* opened(const char* name, int flags) {
    void* handle = ::dlopen(name, flags);
    if (handle == nullptr)
        throw std::runtime_error(std::string("dlopen: ") + ::dlerror());
    return handle;
}

}  // namespace

ScriptedReaderLibrary::ScriptedReaderLibrary()
    : pdLibrary_(opened(ChipTest::kPdLibraryNoBfRt, RTLD_NOW | RTLD_GLOBAL)),
      mainProgram_(opened(nullptr, RTLD_NOW)) {
    chipReader = reinterpret_cast<GetEntry>(
        ::dlsym(pdLibrary_, "p4_pd_olvane_switch_twiceNatAddrPort_get_entry"));
    if (::dlsym(mainProgram_, "p4_pd_olvane_switch_twiceNatAddrPort_get_entry") ==
        reinterpret_cast<void*>(chipReader)) {
        throw std::logic_error("the test executable does not export its reader");
    }
}

ScriptedReaderLibrary::~ScriptedReaderLibrary() {
    readerScript.reset();
    chipReader = nullptr;
    ::dlclose(mainProgram_);
    ::dlclose(pdLibrary_);
}

}  // namespace PdTest

extern "C" p4_pd_status_t p4_pd_olvane_switch_twiceNatAddrPort_get_entry(
    p4_pd_sess_hdl_t sess_hdl, uint8_t dev_id, p4_pd_entry_hdl_t entry_hdl, bool read_from_hw,
    p4_pd_olvane_switch_twiceNatAddrPort_match_spec_t* match_spec, char* action_name,
    uint8_t* action_spec, uint64_t* hit_count, uint8_t* is_default) {
    using namespace PdTest;
    const auto& script = readerScript;
    if (!script) {
        return chipReader(sess_hdl, dev_id, entry_hdl, read_from_hw, match_spec, action_name,
                          action_spec, hit_count, is_default);
    }
    ++scriptedReads;
    std::memcpy(match_spec, script->match.data(), script->match.size());
    std::memcpy(action_name, script->actionName.data(), script->actionName.size());
    std::memcpy(action_spec, script->action.data(), script->action.size());
    if (is_default != nullptr)
        *is_default = 0;
    return script->status;
}
