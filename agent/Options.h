#pragma once
// The command line: one command, the device options every command shares and
// the options of each command. Options may come before or after the command.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace NatAgent {

enum class Command {
    None,
    Program,
    Sync,
    Diff,
    Show,
    Get,
    Stats,
    Audit,
    Flush,
    Init,
    ResetKeys,
    Demo
};

// Which PD library to load; the table library picks its backend from what
// the loaded one offers.
enum class Backend { Offered, Pd, Bfrt };

struct DeviceOptions {
    unsigned device = 0;
    unsigned pipe = 0xFFFF;  // all pipes
    Backend backend = Backend::Offered;
    unsigned capacity = 65536;  // entries of a chip created now
    std::string libDir;         // empty: ../lib beside the binary, or $NATAGENT_LIB_DIR
    std::string pdLib;          // empty: the backend's PD library in libDir
    bool trace = false;
    // The command writes: it holds the device's writer lock while it runs,
    // waiting up to waitSeconds for another writer to finish.
    bool writes = false;
    bool lockHeld = false;  // a writing command that took the writer lock itself
    unsigned waitSeconds = 5;
};

struct Options {
    Command command = Command::None;
    bool help = false;
    bool version = false;
    bool quiet = false;       // no summaries or progress, errors only
    bool noProgress = false;  // no progress bar
    DeviceOptions device;

    // program, sync, diff
    std::string input = "-";  // "-" is standard input
    bool keepGoing = false;
    bool stream = false;
    bool dryRun = false;
    bool atomic = false;
    unsigned retries = 2;  // of an operation refused with BfTryAgain

    // show, get: name=value filters or key fields
    std::vector<std::string> fields;
    bool json = false;
    bool table = false;

    // flush, reset-keys
    bool yes = false;

    // audit
    bool repair = false;

    // demo
    unsigned entries = 40000;
    std::uint64_t seed = 1729;
    bool verifyOnly = false;
    bool wipe = false;  // wipe a device that holds entries
};

// A command line that cannot be understood; main prints it with a hint to --help.
class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// `args` excludes the program name; "--" ends the options.
Options parseOptions(const std::vector<std::string>& args);
const char* helpText();
// The device options as command-line arguments, to start another agent on
// the same device.
std::vector<std::string> deviceArguments(const DeviceOptions& device);
// Decimal, or hexadecimal after 0x; at most `max`. Throws UsageError naming `what`.
std::uint64_t parseNumber(const std::string& text, std::uint64_t max, const std::string& what);

}  // namespace NatAgent
