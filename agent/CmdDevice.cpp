// init: create a device on purpose; reset-keys: clear its key records.
#include <iostream>

#include "AgentError.h"
#include "Commands.h"

namespace NatAgent {

int runInit(const Options& options) {
    const LibraryPaths paths = libraryPaths(options.device);
    // Both libraries are loaded before anything is created: a library that
    // cannot be loaded leaves no device behind.
    const SharedLibrary pd(paths.pd);
    { const SharedLibrary table(paths.table); }
    // Held from the existence check to the first open, so that of two inits
    // started together only one creates the device and the other is told it
    // exists.
    const Shm::WriterLock writer = lockWriter(options.device);
    AgentDevice::create(pd, options.device);
    DeviceOptions holding = options.device;
    holding.lockHeld = true;
    AgentDevice device(holding);
    device.table();
    if (!options.quiet) {
        std::cout << "init: device " << options.device.device << ", capacity "
                  << device.chipInfo().value_or(SimControl::DeviceInfo{}).capacity << ", "
                  << device.pipeText() << ", backend " << device.backendName() << '\n';
    }
    return kExitOk;
}

int runResetKeys(const Options& options) {
    const DeviceOptions& d = options.device;
    if (!AgentDevice::exists(SharedLibrary(libraryPaths(d).pd), d)) {
        throw AgentError(AgentDevice::missingText(d));
    }
    if (!confirmed(options, "clear the key records of device " + std::to_string(d.device) +
                                ", pipe " + std::to_string(d.pipe) + "?")) {
        std::cerr << "natagent: reset-keys not confirmed; nothing changed\n";
        return kExitFailed;
    }
    const Shm::WriterLock writer = lockWriter(d);
    AgentDevice::clearKeyRecords(d);
    if (!options.quiet) {
        std::cout << "reset-keys: cleared the key records of device " << d.device << ", pipe "
                  << d.pipe << "; the chip's entries are kept: natagent sync FILE adopts what "
                  << "FILE names and removes the rest\n";
    }
    return kExitOk;
}

}  // namespace NatAgent
