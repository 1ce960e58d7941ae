// olvane_chip: looks at or wipes the simulated chip of a device from the shell.
//   olvane_chip info <device>   capacity, entry count and scope (creates a blank chip
//                               when none exists)
//   olvane_chip wipe <device>   removes the chip's segment; the next user starts blank
// The segment name follows OLVANE_SHM_PREFIX, as for every other user of the chip.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "ChipRegistry.h"

namespace {

int usage() {
    std::fprintf(stderr, "usage: olvane_chip info|wipe <device>\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        return usage();
    }
    std::string command = argv[1];
    char* end = nullptr;
    unsigned long device = std::strtoul(argv[2], &end, 10);
    if (*argv[2] == '\0' || *end != '\0' || device >= Chip::kMaxDevices) {
        return usage();
    }
    auto deviceId = static_cast<uint32_t>(device);
    try {
        if (command == "wipe") {
            Chip::wipe(deviceId);
            std::printf("%s wiped\n", Chip::segmentName(deviceId).c_str());
            return 0;
        }
        if (command == "info") {
            Chip::Device& chip = Chip::open(deviceId);
            std::printf(
                "%s: capacity %u, entries %u, scope %s\n", chip.segmentName().c_str(),
                chip.capacity(), chip.entryCount(),
                chip.entryScope() == Chip::EntryScope::AllPipes ? "all pipes" : "single pipe");
            return 0;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "olvane_chip: %s\n", e.what());
        return 1;
    }
    return usage();
}
