#pragma once
// A PD entry reader that a test can script, for read-backs that the chip
// never produces (unknown or shortened action names, arbitrary buffers).
//
// The test executable exports its own p4_pd_olvane_switch_twiceNatAddrPort_get_entry.
// ScriptedReaderLibrary loads the PD library without the object runtime into
// the global scope and hands out the main program's handle: looking a
// function up by name through that handle finds the executable's reader
// first and every other PD function in the PD library. A table built over
// this handle thus runs on the chip as usual, except that its reads follow
// the script while one is set (and go to the chip's reader otherwise).

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "chip/olvane_switch_pd.h"

namespace PdTest {

// What the next reads return, exactly as the reader would write it.
struct ReaderScript {
    p4_pd_status_t status = 0;
    // Copied whole into the caller's buffer; bytes after a zero stay there.
    std::array<char, P4_PD_OLVANE_SWITCH_ACTION_NAME_MAX> actionName{};
    std::array<std::uint8_t, 6> match{};
    std::array<std::uint8_t, 6> action{};

    ReaderScript& nameIs(std::string_view name) {
        actionName.fill('\0');
        name.copy(actionName.data(), std::min(name.size(), actionName.size()));
        return *this;
    }
};

class ScriptedReaderLibrary {
  public:
    ScriptedReaderLibrary();
    ~ScriptedReaderLibrary();
    ScriptedReaderLibrary(const ScriptedReaderLibrary&) = delete;
    ScriptedReaderLibrary& operator=(const ScriptedReaderLibrary&) = delete;

    void* handle() const noexcept { return mainProgram_; }
    // Null: reads go to the chip.
    static void scriptIs(const std::optional<ReaderScript>& script);
    static unsigned scriptedReads();

  private:
    void* pdLibrary_;
    void* mainProgram_;
};

}  // namespace PdTest
