#include "Options.h"

#include <array>
#include <cctype>
#include <functional>
#include <string_view>

namespace NatAgent {

namespace {

constexpr unsigned kAllPipes = 0xFFFF;
constexpr unsigned kPipeCount = 4;

struct CommandName {
    const char* name;
    Command command;
};

constexpr std::array kCommands = {
    CommandName{"program", Command::Program}, CommandName{"show", Command::Show},
    CommandName{"stats", Command::Stats},     CommandName{"audit", Command::Audit},
    CommandName{"demo", Command::Demo},
};

const char* commandName(Command command) {
    for (const CommandName& c : kCommands) {
        if (c.command == command) {
            return c.name;
        }
    }
    return "";
}

// One option: its name, whether it takes a value, the command it belongs to
// (None: every command) and what it does with the value.
struct OptionSpec {
    const char* name;
    bool takesValue;
    Command command;
    std::function<void(Options&, const std::string&)> apply;
};

unsigned pipeOf(const std::string& text) {
    auto pipe = static_cast<unsigned>(parseNumber(text, kAllPipes, "--pipe"));
    if (pipe >= kPipeCount && pipe != kAllPipes) {
        throw UsageError("--pipe takes 0 to 3, or 0xFFFF for all pipes, not " + text);
    }
    return pipe;
}

Backend backendOf(const std::string& text) {
    if (text == "pd") {
        return Backend::Pd;
    }
    if (text == "bfrt") {
        return Backend::Bfrt;
    }
    throw UsageError("--backend takes pd or bfrt, not " + text);
}

const std::vector<OptionSpec>& optionSpecs() {
    using O = Options;
    using S = const std::string&;
    static const std::vector<OptionSpec> specs = {
        {"--help", false, Command::None, [](O& o, S) { o.help = true; }},
        {"-h", false, Command::None, [](O& o, S) { o.help = true; }},
        {"--device", true, Command::None,
         [](O& o, S v) {
             o.device.device = static_cast<unsigned>(parseNumber(v, 255, "--device"));
         }},
        {"--pipe", true, Command::None, [](O& o, S v) { o.device.pipe = pipeOf(v); }},
        {"--backend", true, Command::None, [](O& o, S v) { o.device.backend = backendOf(v); }},
        {"--capacity", true, Command::None,
         [](O& o, S v) {
             o.device.capacity = static_cast<unsigned>(parseNumber(v, 0xFFFFF, "--capacity"));
         }},
        {"--lib-dir", true, Command::None, [](O& o, S v) { o.device.libDir = v; }},
        {"--pd-lib", true, Command::None, [](O& o, S v) { o.device.pdLib = v; }},
        {"--trace", false, Command::None, [](O& o, S) { o.device.trace = true; }},
        {"--keep-going", false, Command::Program, [](O& o, S) { o.keepGoing = true; }},
        {"--stream", false, Command::Program, [](O& o, S) { o.stream = true; }},
        {"--retries", true, Command::Program,
         [](O& o, S v) { o.retries = static_cast<unsigned>(parseNumber(v, 100, "--retries")); }},
        {"--json", false, Command::Show, [](O& o, S) { o.json = true; }},
        {"--repair", false, Command::Audit, [](O& o, S) { o.repair = true; }},
        {"--entries", true, Command::Demo,
         [](O& o, S v) {
             o.entries = static_cast<unsigned>(parseNumber(v, 0xFFFFF, "--entries"));
         }},
        {"--seed", true, Command::Demo,
         [](O& o, S v) { o.seed = parseNumber(v, UINT64_MAX, "--seed"); }},
        {"--verify-only", false, Command::Demo, [](O& o, S) { o.verifyOnly = true; }},
    };
    return specs;
}

const OptionSpec* findOption(std::string_view name) {
    for (const OptionSpec& spec : optionSpecs()) {
        if (name == spec.name) {
            return &spec;
        }
    }
    return nullptr;
}

}  // namespace

std::uint64_t parseNumber(const std::string& text, std::uint64_t max, const std::string& what) {
    std::string_view digits = text;
    int base = 10;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        digits.remove_prefix(2);
        base = 16;
    }
    if (digits.empty()) {
        throw UsageError(what + " takes a number, not '" + text + "'");
    }
    std::uint64_t value = 0;
    for (char c : digits) {
        int digit = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                    : base == 16 && std::isxdigit(static_cast<unsigned char>(c))
                        ? std::tolower(static_cast<unsigned char>(c)) - 'a' + 10
                        : -1;
        if (digit < 0) {
            throw UsageError(what + " takes a number, not '" + text + "'");
        }
        if (value > (max - static_cast<std::uint64_t>(digit)) / static_cast<std::uint64_t>(base)) {
            throw UsageError(what + " takes at most " + std::to_string(max) + ", not " + text);
        }
        value = value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
    }
    return value;
}

Options parseOptions(const std::vector<std::string>& args) {
    Options options;
    // Command options are checked once the command is known, wherever they stood.
    std::vector<const OptionSpec*> commandOptions;
    bool inputGiven = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.size() > 1 && arg[0] == '-') {
            const std::size_t eq = arg.find('=');
            const std::string name = arg.substr(0, eq);
            const OptionSpec* spec = findOption(name);
            if (spec == nullptr) {
                throw UsageError("unknown option " + name);
            }
            std::string value;
            if (spec->takesValue) {
                if (eq != std::string::npos) {
                    value = arg.substr(eq + 1);
                } else if (i + 1 < args.size()) {
                    value = args[++i];
                } else {
                    throw UsageError(name + " needs a value");
                }
            } else if (eq != std::string::npos) {
                throw UsageError(name + " takes no value");
            }
            spec->apply(options, value);
            if (spec->command != Command::None) {
                commandOptions.push_back(spec);
            }
            continue;
        }
        if (options.command == Command::None) {
            for (const CommandName& c : kCommands) {
                if (arg == c.name) {
                    options.command = c.command;
                }
            }
            if (options.command == Command::None) {
                throw UsageError("unknown command '" + arg + "'");
            }
            continue;
        }
        if (options.command == Command::Program && !inputGiven) {
            options.input = arg;
            inputGiven = true;
            continue;
        }
        throw UsageError("unexpected argument '" + arg + "'");
    }
    for (const OptionSpec* spec : commandOptions) {
        if (spec->command != options.command) {
            throw UsageError(std::string(spec->name) + " is an option of " +
                             commandName(spec->command));
        }
    }
    if (options.command == Command::None && !options.help) {
        throw UsageError("no command given");
    }
    return options;
}

std::vector<std::string> deviceArguments(const DeviceOptions& device) {
    std::vector<std::string> args = {"--device",   std::to_string(device.device),
                                     "--pipe",     std::to_string(device.pipe),
                                     "--capacity", std::to_string(device.capacity)};
    if (device.backend != Backend::Offered) {
        args.insert(args.end(), {"--backend", device.backend == Backend::Pd ? "pd" : "bfrt"});
    }
    if (!device.libDir.empty()) {
        args.insert(args.end(), {"--lib-dir", device.libDir});
    }
    if (!device.pdLib.empty()) {
        args.insert(args.end(), {"--pd-lib", device.pdLib});
    }
    if (device.trace) {
        args.emplace_back("--trace");
    }
    return args;
}

const char* helpText() {
    return R"(usage: natagent [options] <command> [command options]

The forwarding agent of the twiceNatAddrPort table: it loads the table library
and a PD library, sets up the simulated chip, the key manager and the status
manager of one device and pipe, and programs, shows and checks the table.

Commands:
  program [FILE]   Apply the operations in FILE, or in standard input when FILE
                   is "-" or absent. The whole input is checked first; if any
                   line is wrong, every wrong line is reported and nothing is
                   programmed. A failed SDK call is reported with its line.
      --keep-going   go on after a failed line (default: stop there)
      --stream       check and apply each line as it is read
      --retries N    repeat an operation refused with BfTryAgain (default 2)
  show             List the installed entries, read back through the table
                   library, as a table.
      --json         one JSON object per entry (JSON Lines)
  stats            Entries by action, chip capacity used, keys allocated.
  audit            Compare the chip's entries with the key manager's records,
                   read only: chip entries that no record names (orphans),
                   records whose entry is gone, records naming one entry twice.
                   Exits with 1 when it finds any.
      --repair       delete the orphans, free the records; report each fix
  demo             On a wiped chip, program a generated twice-NAT table over
                   all five actions, modify and delete a share of it, set the
                   default entry, then restart as a new process that resyncs
                   from the shared-memory records, checks every entry and that
                   the resync wrote nothing to the chip, and audits.
      --entries N    entries to program (default 40000)
      --seed N       seed of the generated table (default 1729)
      --verify-only  only the restart half: resync and check against the
                     table that --entries and --seed describe

Options (every command):
  --device N         device id, 0 to 255 (default 0)
  --pipe N           pipe 0 to 3, or 0xFFFF for all pipes (default 0xFFFF)
  --backend pd|bfrt  load the PD library without or with the object runtime;
                     the table library programs through PD or BfRt in turn
                     (default: the PD library with the object runtime, BfRt)
  --pd-lib PATH      load this PD library instead
  --capacity N       entries of the chip if it is created now (default 65536)
  --lib-dir DIR      where the table and PD libraries are (default: ../lib
                     beside this binary, or $NATAGENT_LIB_DIR)
  --trace            the table library's level-9 trace lines, on stderr
  -h, --help         this text

Numbers are decimal, or hexadecimal after 0x.

Line format (program): one operation a line; "#" starts a comment; blank
lines are skipped. Fields are name=value, separated by blanks, in any order;
their names are the attribute names of the table library's match and action
specs.
  add ingMdNatKeyId=1 l4PortHdrSrcPort=1024 l4PortHdrDstPort=80 action=twiceNatAddrPortHit rwId=5 prot=6 nextHop=2
      installs the entry, or changes the action of the installed entry with
      this key. All three key fields are needed.
  del ingMdNatKeyId=1 l4PortHdrSrcPort=1024 l4PortHdrDstPort=80
      deletes the installed entry with this key.
  default action=onMiss
      sets the action of the table's default entry.
Actions and their fields (all needed; onMiss takes none):
  onMiss
  twiceNatAddrPortHit, twiceNatAddrPortHitDynamic             rwId prot nextHop
  twiceNatAddrPortHitEcmp, twiceNatAddrPortHitEcmpDynamic     rwId prot ecmpGroup
rwId, nextHop, ecmpGroup and the key fields are 0 to 65535, prot 0 to 255.
In one input each key may appear once, and default once.

Environment:
  OLVANE_SHM_PREFIX  prefix of the shared-memory names of the chip and the key
                     records (default "olvane"); give each setup its own
  NATAGENT_LIB_DIR   as --lib-dir
  KIV_TRACE          trace levels of the runtime's handles, e.g.
                     BfTwiceNatAddrPort=9

Exit status: 0 when everything succeeded, 1 when a line, an SDK call, a check
or the audit failed, 2 for a command line that cannot be understood.
)";
}

}  // namespace NatAgent
