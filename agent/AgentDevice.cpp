#include "AgentDevice.h"

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>

#include "AgentError.h"
#include "SdkFailure.h"

namespace NatAgent {

namespace {

constexpr const char* kTableLibrary = "libBfTwiceNatAddrPort.so";
constexpr const char* kPdLibraryWithBfRt = "libolvane_switch_pd.so";
constexpr const char* kPdLibraryWithoutBfRt = "libolvane_switch_pd_nobfrt.so";
constexpr const char* kTraceHandle = "BfTwiceNatAddrPort";
constexpr int kTraceLevel = 9;
// Key slots beyond the chip's entries: the default entries and some room.
constexpr Kiv::U64 kExtraKeySlots = 16;

std::string defaultLibDir() {
    if (const char* dir = std::getenv("NATAGENT_LIB_DIR"); dir != nullptr && *dir != '\0') {
        return dir;
    }
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        throw AgentError("cannot find this binary's folder: " + error.message());
    }
    return (self.parent_path() / NATAGENT_LIB_DIR_FROM_BIN).lexically_normal().string();
}

// The simulator's control when the PD library offers one; it then creates the
// chip with the requested capacity, as hardware would come with its own.
SimControl::Control* openSimControl(const SharedLibrary& pdLibrary, const DeviceOptions& options) {
    SimControl::Control* control = simControlOf(pdLibrary);
    if (control == nullptr) {
        return nullptr;
    }
    if (const std::string why = control->deviceOpen(options.device, options.capacity);
        !why.empty()) {
        throw AgentError("cannot open the chip of device " + std::to_string(options.device) + ": " +
                         why);
    }
    return control;
}

KeyManager::Ptr openKeys(const DeviceOptions& options) {
    try {
        return MbbZabroKey::zabroKeyManagerFactory(static_cast<Kiv::U8>(options.device),
                                                   static_cast<Kiv::U16>(options.pipe),
                                                   Kiv::U64{options.capacity} + kExtraKeySlots);
    } catch (const Kiv::Exception& e) {
        throw AgentError(std::string("cannot open the key records: ") + e.what());
    }
}

void traceOn() {
    if (Kiv::TraceHandle* handle = Kiv::TraceHandle::named(kTraceHandle)) {
        handle->levelIs(kTraceLevel);
    }
}

}  // namespace

SimControl::Control* simControlOf(const SharedLibrary& pdLibrary) {
    auto entry = reinterpret_cast<olvane_switch_sim_control_fn>(
        ::dlsym(pdLibrary.handle(), OLVANE_SWITCH_SIM_CONTROL_SYMBOL));
    return entry != nullptr ? entry() : nullptr;
}

SimControl::Control& simControlFor(const SharedLibrary& pdLibrary, const std::string& what) {
    SimControl::Control* control = simControlOf(pdLibrary);
    if (control == nullptr) {
        throw AgentError(what + " needs a simulated chip, and the PD library " + pdLibrary.path() +
                         " offers no " OLVANE_SWITCH_SIM_CONTROL_SYMBOL " entry point");
    }
    return *control;
}

LibraryPaths libraryPaths(const DeviceOptions& options) {
    const std::filesystem::path dir = options.libDir.empty() ? defaultLibDir() : options.libDir;
    LibraryPaths paths;
    paths.table = (dir / kTableLibrary).string();
    paths.pd = !options.pdLib.empty()           ? options.pdLib
               : options.backend == Backend::Pd ? (dir / kPdLibraryWithoutBfRt).string()
                                                : (dir / kPdLibraryWithBfRt).string();
    return paths;
}

AgentDevice::AgentDevice(const DeviceOptions& options)
    : options_(options),
      pdLibrary_(libraryPaths(options).pd),
      simControl_(openSimControl(pdLibrary_, options)),
      sdk_(pdLibrary_, kSessionId, deviceId()),
      tableLibrary_(libraryPaths(options).table),
      keys_(openKeys(options)),
      status_(BfnTableStatusManager::statusManagerFactory()) {
    if (options_.trace) {
        traceOn();
    }
}

AgentDevice::~AgentDevice() = default;

std::optional<SimControl::DeviceInfo> AgentDevice::chipInfo() const {
    SimControl::DeviceInfo info;
    if (simControl_ == nullptr || simControl_->deviceInfo(options_.device, &info) != 0) {
        return std::nullopt;
    }
    return info;
}

std::vector<SimControl::BadRecord> AgentDevice::badChipRecords() const {
    return simControl_ ? simControl_->badRecords(deviceId()) : std::vector<SimControl::BadRecord>{};
}

AgentDevice& deviceUntilExit(const DeviceOptions& options) {
#if defined(__SANITIZE_ADDRESS__)
    static std::unique_ptr<AgentDevice> device;
    device = std::make_unique<AgentDevice>(options);
    return *device;
#else
    // Still reachable through this pointer when the process ends.
    static AgentDevice* device = nullptr;
    device = std::make_unique<AgentDevice>(options).release();
    return *device;
#endif
}

std::string AgentDevice::pipeText() const {
    return options_.pipe == 0xFFFF ? "all pipes" : "pipe " + std::to_string(options_.pipe);
}

const TableSchema& AgentDevice::schema() {
    if (!schema_) {
        schema_ = std::make_unique<TableSchema>();
    }
    return *schema_;
}

Table& AgentDevice::table() {
    if (table_) {
        return *table_;
    }
    const Kiv::U64 recordsBefore = keys_->recordCount();
    try {
        table_ = tableLibrary_.factory()(keys_, status_, pdLibrary_.handle(), kSessionId,
                                         deviceId(), pipe(), pdLibrary_.path());
    } catch (...) {
        throw AgentError("the table factory failed: " + currentFailure().text());
    }
    if (options_.trace) {
        traceOn();  // the library creates its trace handle on first use
    }
    recordsDropped_ = recordsBefore - std::min(recordsBefore, keys_->recordCount());
    book_.resync(*table_, schema(), sdk_.defaultHandle(pipe()));
    return *table_;
}

std::string AgentDevice::backendName() {
    return table().helper()->pdLib()->bfRtTable() != nullptr ? "BfRt" : "PD";
}

}  // namespace NatAgent
