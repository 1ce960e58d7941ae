// olvane_chip: creates, looks at or wipes the simulated chip of a device from the shell.
//   olvane_chip create <device> [capacity]   a blank chip (default 65536 entries)
//   olvane_chip info <device>                capacity, entry count and scope
//   olvane_chip wipe <device>                removes the chip's segment
// Only create makes a chip; info and wipe of a missing chip fail with status 1.
// The segment name follows OLVANE_SHM_PREFIX, as for every other user of the chip.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "ChipRegistry.h"

namespace {

int usage() {
    std::fprintf(stderr, "usage: olvane_chip create <device> [capacity] | info|wipe <device>\n");
    return 2;
}

// Decimal, below `limit`; false for anything else.
bool number(const char* text, unsigned long limit, unsigned long* value) {
    char* end = nullptr;
    *value = std::strtoul(text, &end, 10);
    return *text != '\0' && *end == '\0' && *value < limit;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4) {
        return usage();
    }
    const std::string command = argv[1];
    unsigned long device = 0;
    unsigned long capacity = Chip::kDefaultCapacity;
    if (!number(argv[2], Chip::kMaxDevices, &device) ||
        (argc == 4 && (command != "create" || !number(argv[3], 1ul << 20, &capacity)))) {
        return usage();
    }
    const auto deviceId = static_cast<uint32_t>(device);
    const std::string name = Chip::segmentName(deviceId);
    try {
        if (command == "create") {
            if (Chip::exists(deviceId)) {
                std::fprintf(stderr, "olvane_chip: %s exists already\n", name.c_str());
                return 1;
            }
            Chip::open(deviceId, static_cast<uint32_t>(capacity));
            std::printf("%s created, capacity %lu\n", name.c_str(), capacity);
            return 0;
        }
        if (command != "info" && command != "wipe") {
            return usage();
        }
        if (!Chip::exists(deviceId)) {
            std::fprintf(stderr, "olvane_chip: no chip for device %u (%s)\n", deviceId,
                         name.c_str());
            return 1;
        }
        if (command == "wipe") {
            Chip::wipe(deviceId);
            std::printf("%s wiped\n", name.c_str());
            return 0;
        }
        Chip::Device& chip = Chip::open(deviceId);
        std::printf("%s: capacity %u, entries %u, scope %s\n", chip.segmentName().c_str(),
                    chip.capacity(), chip.entryCount(),
                    chip.entryScope() == Chip::EntryScope::AllPipes ? "all pipes" : "single pipe");
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "olvane_chip: %s\n", e.what());
        return 1;
    }
}
