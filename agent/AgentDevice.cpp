#include "AgentDevice.h"

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>

#include "AgentError.h"
#include "Audit.h"
#include "SdkFailure.h"
#include "shm/Segment.h"

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

// The simulator's control when the PD library offers one; the chip must
// exist already, as hardware would.
SimControl::Control* openSimControl(const SharedLibrary& pdLibrary, const DeviceOptions& options) {
    SimControl::Control* control = simControlOf(pdLibrary);
    if (control == nullptr) {
        return nullptr;
    }
    if (!control->deviceExists(options.device)) {
        throw AgentError(AgentDevice::missingText(options));
    }
    if (const std::string why = control->deviceOpen(options.device, options.capacity);
        !why.empty()) {
        throw AgentError("cannot open the chip of device " + std::to_string(options.device) + ": " +
                         why);
    }
    return control;
}

// What the operator runs to clear key records that fail their check.
std::string resetKeysHint(const DeviceOptions& options) {
    return "clear them with natagent reset-keys --device " + std::to_string(options.device) +
           " --pipe " + std::to_string(options.pipe) + " --yes";
}

// The key manager's own message, without its hint for programmers.
std::string withoutCodeHint(std::string message) {
    const std::size_t hint = message.rfind(" (");
    if (hint != std::string::npos && message.find("::", hint) != std::string::npos) {
        message.erase(hint);
    }
    return message;
}

// A command that only reads works on a private snapshot of the key records:
// the factory's resync stores to them (it drops the records of entries it
// cannot read back), and a reader takes no writer lock, so those stores must
// not reach a segment that a writer may be changing meanwhile.
KeyManager::Ptr openKeys(const DeviceOptions& options) {
    const auto device = static_cast<Kiv::U8>(options.device);
    const auto pipe = static_cast<Kiv::U16>(options.pipe);
    const Kiv::U64 capacity = Kiv::U64{options.capacity} + kExtraKeySlots;
    try {
        return options.writes ? MbbZabroKey::zabroKeyManagerFactory(device, pipe, capacity)
                              : MbbZabroKey::zabroKeyManagerFactory(
                                    Zabro::MbbZabroTableConfig::snapshotIs(device, pipe, capacity));
    } catch (const Kiv::Exception& e) {
        throw AgentError("cannot open the key records: " + withoutCodeHint(e.what()) + "; " +
                         resetKeysHint(options));
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

Shm::WriterLock lockWriter(const DeviceOptions& options) {
    const std::string name = Shm::Segment::nameOf("writer_dev" + std::to_string(options.device) +
                                                  "_pipe" + std::to_string(options.pipe));
    try {
        return Shm::WriterLock::acquire(name, options.waitSeconds);
    } catch (const Shm::Error& e) {
        throw AgentError(std::string("another agent writes to device ") +
                         std::to_string(options.device) + ": " + e.what());
    }
}

bool AgentDevice::exists(const SharedLibrary& pdLibrary, const DeviceOptions& options) {
    SimControl::Control* control = simControlOf(pdLibrary);
    return control == nullptr || control->deviceExists(options.device);
}

void AgentDevice::create(const SharedLibrary& pdLibrary, const DeviceOptions& options) {
    SimControl::Control& control = NatAgent::simControlFor(pdLibrary, "creating a device");
    if (control.deviceExists(options.device)) {
        throw AgentError("device " + std::to_string(options.device) + " exists already");
    }
    if (const std::string why = control.deviceOpen(options.device, options.capacity);
        !why.empty()) {
        throw AgentError("cannot create the chip of device " + std::to_string(options.device) +
                         ": " + why);
    }
}

std::string AgentDevice::missingText(const DeviceOptions& options) {
    const std::string device = std::to_string(options.device);
    return "device " + device + " does not exist; create it with natagent init --device " + device +
           " --capacity N";
}

void AgentDevice::clearKeyRecords(const DeviceOptions& options) {
    Zabro::MbbZabroTableConfig::segmentWipe(static_cast<Kiv::U8>(options.device),
                                            static_cast<Kiv::U16>(options.pipe));
}

AgentDevice::AgentDevice(const DeviceOptions& options)
    : options_(options),
      pdLibrary_(libraryPaths(options).pd),
      simControl_(openSimControl(pdLibrary_, options)),
      writer_(options.writes && !options.lockHeld ? std::optional(lockWriter(options))
                                                  : std::nullopt),
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

void AgentDevice::adoptChipEntry(Kiv::U32 handle) {
    keys_->sdkEntryHandleIs(keys_->mbbZabroTableConfig()->recordAlloc().key(), handle);
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
    if (options_.writes) {
        finishCrashedOperations(*this);
    }
    const Kiv::U64 recordsBefore = keys_->recordCount();
    try {
        table_ = tableLibrary_.factory()(keys_, status_, pdLibrary_.handle(), kSessionId,
                                         deviceId(), pipe(), pdLibrary_.path());
    } catch (const Dorvu::CorruptionDetectedException& e) {
        throw AgentError("the key records fail their check: " + withoutCodeHint(e.msg()) + "; " +
                         resetKeysHint(options_));
    } catch (...) {
        throw AgentError("the table factory failed: " + currentFailure().text());
    }
    if (options_.trace) {
        traceOn();  // the library creates its trace handle on first use
    }
    recordsDropped_ = recordsBefore - std::min(recordsBefore, keys_->recordCount());
    checkBackend();
    book_.resync(*table_, schema(), sdk_.defaultHandle(pipe()));
    return *table_;
}

// A PD library named with --pd-lib decides the backend; one that disagrees
// with --backend is refused rather than silently used the other way.
void AgentDevice::checkBackend() {
    if (options_.backend == Backend::Offered || options_.pdLib.empty()) {
        return;
    }
    const bool bfrt = table_->helper()->pdLib()->bfRtTable() != nullptr;
    if (bfrt != (options_.backend == Backend::Bfrt)) {
        table_ = nullptr;
        throw UsageError(
            "--backend " + std::string(bfrt ? "pd" : "bfrt") + " disagrees with " + options_.pdLib +
            ", which " +
            (bfrt ? "offers the object runtime (bfrt)" : "does not offer the object runtime (pd)"));
    }
}

std::string AgentDevice::backendName() {
    return table().helper()->pdLib()->bfRtTable() != nullptr ? "BfRt" : "PD";
}

}  // namespace NatAgent
