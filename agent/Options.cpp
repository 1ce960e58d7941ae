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
    // Operands after the command: FILE for the file commands, name=value
    // fields for show and get.
    enum class Operands { None, File, Fields } operands;
};

constexpr std::array kCommands = {
    CommandName{"program", Command::Program, CommandName::Operands::File},
    CommandName{"sync", Command::Sync, CommandName::Operands::File},
    CommandName{"diff", Command::Diff, CommandName::Operands::File},
    CommandName{"show", Command::Show, CommandName::Operands::Fields},
    CommandName{"get", Command::Get, CommandName::Operands::Fields},
    CommandName{"stats", Command::Stats, CommandName::Operands::None},
    CommandName{"audit", Command::Audit, CommandName::Operands::None},
    CommandName{"flush", Command::Flush, CommandName::Operands::None},
    CommandName{"init", Command::Init, CommandName::Operands::None},
    CommandName{"reset-keys", Command::ResetKeys, CommandName::Operands::None},
    CommandName{"demo", Command::Demo, CommandName::Operands::None},
};

const CommandName* commandNamed(std::string_view name) {
    for (const CommandName& c : kCommands) {
        if (name == c.name) {
            return &c;
        }
    }
    return nullptr;
}

const CommandName& commandOf(Command command) {
    for (const CommandName& c : kCommands) {
        if (c.command == command) {
            return c;
        }
    }
    return kCommands.front();
}

// The commands an option belongs to, as a set of bits; 0: every command.
using CommandSet = unsigned;
constexpr CommandSet bit(Command command) {
    return 1u << static_cast<unsigned>(command);
}
constexpr CommandSet kEvery = 0;

// One option: its name, whether it takes a value, the commands it belongs to
// and what it does with the value.
struct OptionSpec {
    const char* name;
    bool takesValue;
    CommandSet commands;
    std::function<void(Options&, const std::string&)> apply;
};

std::string commandList(CommandSet commands) {
    std::string list;
    for (const CommandName& c : kCommands) {
        if ((commands & bit(c.command)) != 0) {
            list += (list.empty() ? "" : ", ") + std::string(c.name);
        }
    }
    return list;
}

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
    constexpr CommandSet kFiles = bit(Command::Program) | bit(Command::Sync);
    constexpr CommandSet kListings = bit(Command::Show) | bit(Command::Get);
    static const std::vector<OptionSpec> specs = {
        {"--help", false, kEvery, [](O& o, S) { o.help = true; }},
        {"-h", false, kEvery, [](O& o, S) { o.help = true; }},
        {"--version", false, kEvery, [](O& o, S) { o.version = true; }},
        {"--quiet", false, kEvery, [](O& o, S) { o.quiet = true; }},
        {"-q", false, kEvery, [](O& o, S) { o.quiet = true; }},
        {"--no-progress", false, kEvery, [](O& o, S) { o.noProgress = true; }},
        {"--device", true, kEvery,
         [](O& o, S v) {
             o.device.device = static_cast<unsigned>(parseNumber(v, 255, "--device"));
         }},
        {"--pipe", true, kEvery, [](O& o, S v) { o.device.pipe = pipeOf(v); }},
        {"--backend", true, kEvery, [](O& o, S v) { o.device.backend = backendOf(v); }},
        {"--capacity", true, kEvery,
         [](O& o, S v) {
             o.device.capacity = static_cast<unsigned>(parseNumber(v, 0xFFFFF, "--capacity"));
         }},
        {"--lib-dir", true, kEvery, [](O& o, S v) { o.device.libDir = v; }},
        {"--pd-lib", true, kEvery, [](O& o, S v) { o.device.pdLib = v; }},
        {"--trace", false, kEvery, [](O& o, S) { o.device.trace = true; }},
        {"--wait", true, kEvery,
         [](O& o, S v) {
             o.device.waitSeconds = static_cast<unsigned>(parseNumber(v, 3600, "--wait"));
         }},
        {"--keep-going", false, bit(Command::Program), [](O& o, S) { o.keepGoing = true; }},
        {"--stream", false, bit(Command::Program), [](O& o, S) { o.stream = true; }},
        {"--dry-run", false, kFiles, [](O& o, S) { o.dryRun = true; }},
        {"--atomic", false, bit(Command::Sync), [](O& o, S) { o.atomic = true; }},
        {"--retries", true, kFiles,
         [](O& o, S v) { o.retries = static_cast<unsigned>(parseNumber(v, 100, "--retries")); }},
        {"--json", false, kListings | bit(Command::Stats), [](O& o, S) { o.json = true; }},
        {"--table", false, kListings, [](O& o, S) { o.table = true; }},
        {"--repair", false, bit(Command::Audit), [](O& o, S) { o.repair = true; }},
        {"--yes", false, bit(Command::Flush) | bit(Command::ResetKeys),
         [](O& o, S) { o.yes = true; }},
        {"--entries", true, bit(Command::Demo),
         [](O& o, S v) {
             o.entries = static_cast<unsigned>(parseNumber(v, 0xFFFFF, "--entries"));
         }},
        {"--seed", true, bit(Command::Demo),
         [](O& o, S v) { o.seed = parseNumber(v, UINT64_MAX, "--seed"); }},
        {"--verify-only", false, bit(Command::Demo), [](O& o, S) { o.verifyOnly = true; }},
        {"--wipe", false, bit(Command::Demo), [](O& o, S) { o.wipe = true; }},
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

// The commands that change the chip or the key records. The demo's restarted
// half only reads; its parent holds the lock meanwhile.
bool writes(const Options& o) {
    switch (o.command) {
        case Command::Program:
        case Command::Sync:
            return !o.dryRun;
        case Command::Audit:
            return o.repair;
        case Command::Demo:
            return !o.verifyOnly;
        case Command::Flush:
        case Command::Init:
        case Command::ResetKeys:
            return true;
        default:
            return false;
    }
}

// A word after the command that is not an option.
void takeOperand(Options& options, bool& inputGiven, const std::string& arg) {
    switch (commandOf(options.command).operands) {
        case CommandName::Operands::File:
            if (!inputGiven) {
                options.input = arg;
                inputGiven = true;
                return;
            }
            break;
        case CommandName::Operands::Fields:
            options.fields.push_back(arg);
            return;
        case CommandName::Operands::None:
            break;
    }
    throw UsageError("unexpected argument '" + arg + "'");
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
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
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
            if (spec->commands != kEvery) {
                commandOptions.push_back(spec);
            }
            continue;
        }
        if (options.command == Command::None) {
            const CommandName* command = commandNamed(arg);
            if (command == nullptr) {
                throw UsageError("unknown command '" + arg + "'");
            }
            options.command = command->command;
            continue;
        }
        takeOperand(options, inputGiven, arg);
    }
    if (options.help || options.version) {
        return options;
    }
    if (options.command == Command::None) {
        throw UsageError("no command given");
    }
    for (const OptionSpec* spec : commandOptions) {
        if ((spec->commands & bit(options.command)) == 0) {
            throw UsageError(std::string(spec->name) + " is an option of " +
                             commandList(spec->commands));
        }
    }
    const CommandName& command = commandOf(options.command);
    if (command.operands == CommandName::Operands::File && !inputGiven &&
        options.command != Command::Program) {
        throw UsageError(std::string(command.name) + " needs a FILE (\"-\" for standard input)");
    }
    if (options.command == Command::Get && options.fields.empty()) {
        throw UsageError("get needs the key fields of the entry, as name=value");
    }
    if (options.json && options.table) {
        throw UsageError("--json and --table exclude each other");
    }
    options.device.writes = writes(options);
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
    args.insert(args.end(), {"--wait", std::to_string(device.waitSeconds)});
    return args;
}

const char* helpText() {
    return R"(usage: natagent [options] <command> [command options] [--] [operands]

The forwarding agent of the twiceNatAddrPort table: it loads the table library
and a PD library, opens the simulated chip, the key manager and the status
manager of one device and pipe, and programs, shows and checks the table.

Commands:
  init             Create the device's chip (--capacity entries) and key
                   records. No other command creates a device.
  program [FILE]   Apply the operations in FILE, or in standard input when FILE
                   is "-" or absent. The whole input is checked first; if any
                   line is wrong, every wrong line is reported and nothing is
                   programmed. A failed SDK call is reported with its line.
      --dry-run      check only, and count what would be done
      --keep-going   go on after a failed line (default: stop there)
      --stream       check and apply each line as it is read
      --retries N    repeat an operation refused with BfTryAgain (default 2)
  sync FILE        Make the installed table what FILE says: FILE holds add
                   lines and at most one default line (as show prints them);
                   missing entries are added, differing ones modified, and
                   entries FILE does not name deleted, deletes first. Entries
                   a crash left on the chip without a key record are adopted
                   when FILE names them and removed when not. Without a
                   default line the default entry is kept.
      --dry-run      print the plan ("+", "~", "-" lines and counts) only
      --atomic       on a failed SDK call, undo what the run did
      --retries N    as for program
  diff FILE        The plan of sync FILE, read only; exit status 1 when the
                   table differs from FILE.
  show [NAME=VALUE...]
                   The installed entries, read back through the table library,
                   in the line format: a "#" header, one add line per entry,
                   the default line. NAME=VALUE terms (key fields, action or
                   action fields) keep only the entries that have them all.
      --table        an aligned table with the entries' handles
      --json         one JSON object per entry (JSON Lines)
  get KEY-FIELDS   The entry with these key fields (all of them, as
                   NAME=VALUE); exit status 1 when none is installed.
      --table, --json  as for show
  stats            Entries by action, chip capacity used, keys allocated.
      --json         one JSON object
  audit            Compare the chip's entries with the key manager's records,
                   read only: chip entries that no record names (orphans),
                   records whose entry is gone, records naming one entry twice.
                   Exits with 1 when it finds any.
      --repair       delete the orphans, free the records; report each fix
  flush            Delete every installed entry and reset the default entry.
      --yes          do not ask (without it, the answer comes from a terminal)
  reset-keys       Clear the key records of the device and pipe, after they
                   failed their check; the chip's entries stay, and a sync
                   afterwards adopts those FILE names and removes the rest.
      --yes          do not ask
  demo             On a wiped (or new) chip, program a generated twice-NAT table over
                   all five actions, modify and delete a share of it, set the
                   default entry, then restart as a new process that resyncs
                   from the shared-memory records, checks every entry and that
                   the resync wrote nothing to the chip, and audits.
      --entries N    entries to program (default 40000)
      --seed N       seed of the generated table (default 1729)
      --wipe         wipe the device even when it holds entries (without it,
                     the demo refuses such a device with exit status 2)
      --verify-only  only the restart half: resync and check against the
                     table that --entries and --seed describe

Options (every command):
  --device N         device id, 0 to 255 (default 0)
  --pipe N           pipe 0 to 3, or 0xFFFF for all pipes (default 0xFFFF)
  --backend pd|bfrt  load the PD library without or with the object runtime;
                     the table library programs through PD or BfRt in turn
                     (default: the PD library with the object runtime, BfRt);
                     with --pd-lib, a library that disagrees is refused
  --pd-lib PATH      the PD library to load instead
  --capacity N       entries of a chip made by init or demo (default 65536)
  --lib-dir DIR      where the libraries are (default: ../lib beside the
                     binary, or $NATAGENT_LIB_DIR)
  --trace            the table library's level-9 trace lines, on stderr
  --wait SECONDS     how long a writing command waits for the device's writer
                     lock (default 5)
  -q, --quiet        no summaries and no progress bar; errors only
  --no-progress      no progress bar
  --version          the agent's version
  -h, --help         this text
  --                 ends the options: what follows is a command or operand

Numbers are decimal, or hexadecimal after 0x.

One writer per device and pipe: the commands that change the table (program,
sync, flush, init, reset-keys, audit --repair, demo; not their --dry-run)
hold the device and pipe's writer lock while they run. A second writer waits
up to --wait seconds, then fails with exit status 3, naming the holder's pid.
Reading commands take no lock.

Line format (program, sync): one operation a line; "#" starts a comment;
blank lines are skipped. Fields are name=value, separated by blanks, in any
order; their names are the attribute names of the table library's match and
action specs.
  add ingMdNatKeyId=1 l4PortHdrSrcPort=1024 l4PortHdrDstPort=80 action=twiceNatAddrPortHit rwId=5 prot=6 nextHop=2
      installs the entry, or changes the action of the installed entry with
      this key. All three key fields are needed.
  del ingMdNatKeyId=1 l4PortHdrSrcPort=1024 l4PortHdrDstPort=80
      deletes the installed entry with this key (program only).
  default action=onMiss
      sets the action of the table's default entry.
Actions and their fields (all needed; onMiss takes none):
  onMiss
  twiceNatAddrPortHit, twiceNatAddrPortHitDynamic             rwId prot nextHop
  twiceNatAddrPortHitEcmp, twiceNatAddrPortHitEcmpDynamic     rwId prot ecmpGroup
rwId, nextHop, ecmpGroup and the key fields are 0 to 65535, prot 0 to 255.
In one input each key may appear once, and default once.

JSON Lines (program, sync; detected from the input's first operation): one
object a line, as show --json prints them. Members: the key fields, "action"
and the action's fields as numbers (or strings of numbers); "default": true
for the default entry; "op": "add", "del" or "default" (default: add);
"handle" is ignored.
  {"ingMdNatKeyId":1,"l4PortHdrSrcPort":1024,"l4PortHdrDstPort":80,"action":"onMiss"}

Environment:
  OLVANE_SHM_PREFIX  prefix of the shared-memory names of the chip and the key
                     records (default "olvane"); give each setup its own
  NATAGENT_LIB_DIR   as --lib-dir
  KIV_TRACE          trace levels of the runtime's handles, e.g.
                     BfTwiceNatAddrPort=9
  KIV_TRACE_FILE     append trace lines to this file; one that cannot be
                     opened is an error

Exit status:
  0  everything succeeded (diff: the table equals FILE)
  1  an operation failed, the audit found something, get found no entry, or
     diff found a difference
  2  a command line or input that cannot be understood or read
  3  a device or state error: a missing device, a library that cannot be
     loaded, key records that fail their check
)";
}

}  // namespace NatAgent
