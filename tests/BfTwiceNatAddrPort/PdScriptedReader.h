#pragma once
// A PD entry reader that a test can script, for read-backs that the chip never
// produces (unknown or shortened action names, arbitrary buffers).
//
// The test executable exports its own p4_pd_olvane_switch_twiceNatAddrPort_get_entry.
// ScriptedReaderLibrary loads the PD library without the object runtime into
// the global scope and hands out the main program's handle, through which a
// lookup by name finds the executable's reader first and every other PD
// function in the PD library: a table built over it runs on the chip, its
// reads following the script while one is set.

#include <array>
#include <cstdint>
#include <optional>

#include "sdk/olvane_switch_pd.h"

namespace PdTest {

// What the next reads write, exactly as given, and the status they return
// (the buffers are written whatever the status).
struct ReaderScript {
    p4_pd_status_t status = 0;
    // Copied whole into the caller's buffer; bytes after a zero stay there.
    std::array<char, P4_PD_OLVANE_SWITCH_ACTION_NAME_MAX> actionName{};
    std::array<std::uint8_t, 6> match{};
    std::array<std::uint8_t, 6> action{};
};

// What reads follow; null: the chip. And how many reads followed a script.
inline std::optional<ReaderScript> readerScript;
inline unsigned scriptedReads = 0;

class ScriptedReaderLibrary {
  public:
    ScriptedReaderLibrary();
    ~ScriptedReaderLibrary();
    ScriptedReaderLibrary(const ScriptedReaderLibrary&) = delete;
    ScriptedReaderLibrary& operator=(const ScriptedReaderLibrary&) = delete;

    void* handle() const noexcept { return mainProgram_; }

  private:
    void* pdLibrary_;
    void* mainProgram_;
};

}  // namespace PdTest
