// The agent's parts that need no device: the command line, the operation
// lines and the key table behind its per-line lookups.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <random>
#include <tuple>

#include "agent/InputLines.h"
#include "agent/KeyTable.h"
#include "agent/Options.h"

namespace NatAgent {
namespace {

// Global options go before or after the command, and what deviceArguments gives
// starts another agent on the same device. "--" ends the options; operands go
// to the command that takes them.
TEST(OptionsTest, OptionsGoAnywhereAndOperandsToTheirCommand) {
    const Options before =
        parseOptions({"--device", "3", "--pipe=1", "--backend", "pd", "--capacity", "100",
                      "--trace", "program", "--keep-going", "ops.txt"});
    const Options after =
        parseOptions({"program", "ops.txt", "--keep-going", "--backend=pd", "--pipe", "0x1",
                      "--trace", "--capacity=100", "--device=0x3"});
    std::vector<std::string> again = deviceArguments(before.device);
    again.emplace_back("show");
    for (const Options& o : {before, after, parseOptions(again)}) {
        EXPECT_EQ(std::tuple(o.device.device, o.device.pipe, o.device.backend, o.device.capacity,
                             o.device.trace),
                  std::tuple(3u, 1u, Backend::Pd, 100u, true));
    }
    for (const Options& o : {before, after})
        EXPECT_EQ(std::tuple(o.command, o.keepGoing, o.input),
                  std::tuple(Command::Program, true, "ops.txt"));
    const Options dashed = parseOptions({"--", "program", "--keep-going"});
    EXPECT_EQ(dashed.command, Command::Program);
    EXPECT_EQ(dashed.input, "--keep-going");
    const Options show = parseOptions({"show", "--json", "--", "-q", "action=onMiss"});
    EXPECT_EQ(show.fields, (std::vector<std::string>{"-q", "action=onMiss"}));
    EXPECT_FALSE(show.quiet);
    const Options sync = parseOptions({"-q", "sync", "--atomic", "--dry-run", "t.txt"});
    EXPECT_TRUE(sync.quiet && sync.atomic && sync.dryRun);
    EXPECT_EQ(sync.input, "t.txt");
}

TEST(OptionsTest, UsageErrorsSayWhatIsWrong) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{}, "no command given"},
        {{"list"}, "unknown command 'list'"},
        {{"--colour", "show"}, "unknown option --colour"},
        {{"show", "--repair"}, "--repair is an option of audit"},
        {{"flush", "--atomic"}, "--atomic is an option of "},
        {{"--pipe", "4", "show"}, "--pipe takes 0 to 3, or 0xFFFF for all pipes, not 4"},
        {{"--backend", "sdk", "show"}, "--backend takes pd or bfrt, not sdk"},
        {{"--device"}, "--device needs a value"},
        {{"--quiet=1", "show"}, "--quiet takes no value"},
        {{"sync"}, "sync needs a FILE"},
        {{"sync", "a", "b"}, "unexpected argument 'b'"},
        {{"stats", "x=1"}, "unexpected argument 'x=1'"},
        {{"get"}, "get needs the key fields"},
        {{"show", "--json", "--table"}, "--json and --table exclude each other"},
    };
    for (const auto& [args, message] : cases) {
        SCOPED_TRACE(message);
        try {
            parseOptions(args);
            ADD_FAILURE() << "accepted";
        } catch (const UsageError& e) {
            EXPECT_NE(std::string(e.what()).find(message), std::string::npos) << e.what();
        }
    }
}

TEST(OptionsTest, NumbersAreDecimalOrHexWithinTheLimit) {
    const std::tuple<const char*, std::uint64_t, std::uint64_t> accepted[] = {
        {"0", 10, 0},       {"10", 10, 10},   {"0x1F", 255, 31},
        {"0xff", 255, 255}, {"010", 255, 10}, {"18446744073709551615", UINT64_MAX, UINT64_MAX}};
    for (const auto& [text, max, value] : accepted)
        EXPECT_EQ(parseNumber(text, max, "n"), value) << text;
    for (const char* text : {"256", "0x100", "1f", "0x", "", "-1"})
        EXPECT_THROW(parseNumber(text, 255, "n"), UsageError) << text;
    EXPECT_THROW(parseNumber("18446744073709551616", UINT64_MAX, "n"), UsageError);
}

// Blank and comment lines are none; text and JSON lines give a verb and fields.
TEST(InputParserTest, SplitsVerbAndFields) {
    using Fields = std::vector<std::pair<std::string, std::string>>;
    const struct {
        const char* text;
        std::optional<Verb> verb;  // none: a blank line
        Fields fields;
    } cases[] = {
        {"", {}, {}},
        {"  \t\r", {}, {}},
        {"# add a=1", {}, {}},
        {"add a=1\tb=0x2  # c=3", Verb::Add, {{"a", "1"}, {"b", "0x2"}}},
        {"del a=1 b=2\r", Verb::Del, {{"a", "1"}, {"b", "2"}}},
        {"  default action=onMiss", Verb::Default, {{"action", "onMiss"}}},
        {"add a==1", Verb::Add, {{"a", "=1"}}},
        {R"( {"a":1, "action" : "onMiss","handle":7})",
         Verb::Add,
         {{"a", "1"}, {"action", "onMiss"}}},
        {R"({"default":true,"action":"onMiss"})", Verb::Default, {{"action", "onMiss"}}},
        {R"({"op":"del","a":"0x2"})", Verb::Del, {{"a", "0x2"}}},
        {"{}", Verb::Add, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const std::optional<ParsedLine> parsed = InputParser().parse(c.text, 5);
        ASSERT_EQ(parsed.has_value(), c.verb.has_value());
        if (parsed) {
            EXPECT_EQ(parsed->line, 5u);
            EXPECT_EQ(parsed->verb, *c.verb);
            Fields fields;
            for (const auto& field : parsed->fields) fields.emplace_back(field.name, field.value);
            EXPECT_EQ(fields, c.fields);
        }
    }
}

TEST(InputParserTest, BadLinesSayWhatIsWrong) {
    const std::pair<const char*, const char*> cases[] = {
        {"insert a=1", "unknown operation 'insert' (expected add, del or default)"},
        {"ADD a=1", "unknown operation 'ADD' (expected add, del or default)"},
        {"add a", "expected name=value, not 'a'"},
        {"add a =1", "expected name=value, not 'a'"},
        {"add =1", "field without a name in '=1'"},
        {"add a=", "field 'a' has no value"},
        {"add a=1 a=2", "field 'a' given twice"},
        {R"({"a":1)", "JSON: expected '}' at ''"},
        {R"({"a":1} x)", "JSON: text after the object at 'x'"},
        {R"({"a":1,"a":2})", "field 'a' given twice"},
        {R"({"op":"put"})", "JSON: \"op\" is add, del or default, not 'put'"},
        {R"({"error":"cannot be read back"})",
         "JSON: an entry that could not be read back: cannot be read back"},
    };
    for (const auto& [text, message] : cases) {
        try {
            InputParser().parse(text, 1);
            ADD_FAILURE() << "accepted: " << text;
        } catch (const LineError& e) {
            EXPECT_STREQ(e.what(), message);
        }
    }
}

// Random adds, changes and removals over few keys keep long probe runs
// (wrapping the table's end too) under constant change; after every step the
// table must hold exactly what an ordered map holds.
TEST(KeyTableTest, AgreesWithAMapThroughAddsChangesAndRemovals) {
    KeyTable<std::uint64_t, unsigned> table;
    std::map<std::uint64_t, unsigned> expected;
    std::mt19937 random(7);
    for (unsigned step = 1; step <= 20000; ++step) {
        const std::uint64_t key = random() % 96 * 0x10001;
        switch (random() % 3) {
            case 0:
                table.assign(key, step);
                expected[key] = step;
                break;
            case 1:
                EXPECT_EQ(table.tryEmplace(key, step).second,
                          expected.try_emplace(key, step).second);
                break;
            default:
                table.erase(key);
                expected.erase(key);
        }
        ASSERT_EQ(table.size(), expected.size()) << "step " << step;
        for (std::uint64_t k = 0; k < 96 * 0x10001; k += 0x10001) {
            const unsigned* held = table.find(k);
            const auto want = expected.find(k);
            ASSERT_EQ(held ? *held : 0u, want == expected.end() ? 0u : want->second)
                << "key " << k << " after step " << step;
        }
    }
}

}  // namespace
}  // namespace NatAgent
