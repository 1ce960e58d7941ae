// The agent's two parsers, without a device: the command line and the
// operation lines.
#include <gtest/gtest.h>

#include "agent/InputLines.h"
#include "agent/Options.h"

namespace NatAgent {
namespace {

TEST(OptionsTest, GlobalOptionsGoBeforeOrAfterTheCommand) {
    const Options before = parseOptions({"--device", "3", "--pipe=0xFFFF", "--backend", "pd",
                                         "program", "--keep-going", "ops.txt"});
    const Options after = parseOptions(
        {"program", "ops.txt", "--keep-going", "--backend=pd", "--pipe", "65535", "--device=0x3"});
    for (const Options& o : {before, after}) {
        EXPECT_EQ(o.command, Command::Program);
        EXPECT_EQ(o.device.device, 3u);
        EXPECT_EQ(o.device.pipe, 0xFFFFu);
        EXPECT_EQ(o.device.backend, Backend::Pd);
        EXPECT_TRUE(o.keepGoing);
        EXPECT_EQ(o.input, "ops.txt");
    }
}

TEST(OptionsTest, DeviceArgumentsStartAnAgentOnTheSameDevice) {
    Options options = parseOptions({"--device", "2", "--pipe", "1", "--backend", "bfrt",
                                    "--capacity", "100", "--trace", "demo"});
    std::vector<std::string> args = deviceArguments(options.device);
    args.emplace_back("show");
    const Options again = parseOptions(args);
    EXPECT_EQ(again.device.device, 2u);
    EXPECT_EQ(again.device.pipe, 1u);
    EXPECT_EQ(again.device.backend, Backend::Bfrt);
    EXPECT_EQ(again.device.capacity, 100u);
    EXPECT_TRUE(again.device.trace);
}

// "--" ends the options; operands go to the command that takes them.
TEST(OptionsTest, OperandsAndTheEndOfOptions) {
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
        {{"diff"}, "diff needs a FILE"},
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

struct NumberCase {
    const char* text;
    std::uint64_t max;
    std::uint64_t value;  // when accepted
    bool accepted;
};

class NumberTest : public ::testing::TestWithParam<NumberCase> {};

TEST_P(NumberTest, ParsesDecimalAndHexWithinTheLimit) {
    const NumberCase& c = GetParam();
    if (c.accepted) {
        EXPECT_EQ(parseNumber(c.text, c.max, "n"), c.value);
    } else {
        EXPECT_THROW(parseNumber(c.text, c.max, "n"), UsageError);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NumberTest,
    ::testing::Values(NumberCase{"0", 10, 0, true}, NumberCase{"10", 10, 10, true},
                      NumberCase{"11", 10, 0, false}, NumberCase{"0x1F", 255, 31, true},
                      NumberCase{"0xff", 255, 255, true}, NumberCase{"0x100", 255, 0, false},
                      NumberCase{"010", 255, 10, true}, NumberCase{"1f", 255, 0, false},
                      NumberCase{"0x", 255, 0, false}, NumberCase{"", 255, 0, false},
                      NumberCase{"-1", 255, 0, false},
                      NumberCase{"18446744073709551615", UINT64_MAX, UINT64_MAX, true},
                      NumberCase{"18446744073709551616", UINT64_MAX, 0, false}));

struct LineCase {
    const char* text;
    bool blank;
    Verb verb;
    std::vector<std::pair<std::string, std::string>> fields;
};

class LineTest : public ::testing::TestWithParam<LineCase> {};

TEST_P(LineTest, SplitsVerbAndFields) {
    const LineCase& c = GetParam();
    const std::optional<ParsedLine> parsed = InputParser().parse(c.text, 5);
    ASSERT_EQ(!parsed, c.blank);
    if (!parsed) {
        return;
    }
    EXPECT_EQ(parsed->line, 5u);
    EXPECT_EQ(parsed->verb, c.verb);
    ASSERT_EQ(parsed->fields.size(), c.fields.size());
    for (std::size_t i = 0; i < c.fields.size(); ++i) {
        EXPECT_EQ(parsed->fields[i].name, c.fields[i].first);
        EXPECT_EQ(parsed->fields[i].value, c.fields[i].second);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LineTest,
    ::testing::Values(
        LineCase{"", true, Verb::Add, {}}, LineCase{"  \t\r", true, Verb::Add, {}},
        LineCase{"# add a=1", true, Verb::Add, {}},
        LineCase{"add a=1\tb=0x2  # c=3", false, Verb::Add, {{"a", "1"}, {"b", "0x2"}}},
        LineCase{"del a=1 b=2\r", false, Verb::Del, {{"a", "1"}, {"b", "2"}}},
        LineCase{"  default action=onMiss", false, Verb::Default, {{"action", "onMiss"}}},
        LineCase{"add a==1", false, Verb::Add, {{"a", "=1"}}},
        LineCase{R"( {"a":1, "action" : "onMiss","handle":7})",
                 false,
                 Verb::Add,
                 {{"a", "1"}, {"action", "onMiss"}}},
        LineCase{
            R"({"default":true,"action":"onMiss"})", false, Verb::Default, {{"action", "onMiss"}}},
        LineCase{R"({"op":"del","a":"0x2"})", false, Verb::Del, {{"a", "0x2"}}},
        LineCase{"{}", false, Verb::Add, {}}));

struct BadLineCase {
    const char* text;
    const char* message;
};

class BadLineTest : public ::testing::TestWithParam<BadLineCase> {};

TEST_P(BadLineTest, SaysWhatIsWrong) {
    try {
        InputParser().parse(GetParam().text, 1);
        FAIL() << "accepted: " << GetParam().text;
    } catch (const LineError& e) {
        EXPECT_STREQ(e.what(), GetParam().message);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BadLineTest,
    ::testing::Values(
        BadLineCase{"insert a=1", "unknown operation 'insert' (expected add, del or default)"},
        BadLineCase{"ADD a=1", "unknown operation 'ADD' (expected add, del or default)"},
        BadLineCase{"add a", "expected name=value, not 'a'"},
        BadLineCase{"add a =1", "expected name=value, not 'a'"},
        BadLineCase{"add =1", "field without a name in '=1'"},
        BadLineCase{"add a=", "field 'a' has no value"},
        BadLineCase{"add a=1 a=2", "field 'a' given twice"},
        BadLineCase{R"({"a":1)", "JSON: expected '}' at ''"},
        BadLineCase{R"({"a":1} x)", "JSON: text after the object at 'x'"},
        BadLineCase{R"({"a":1,"a":2})", "field 'a' given twice"},
        BadLineCase{R"({"op":"put"})", "JSON: \"op\" is add, del or default, not 'put'"},
        BadLineCase{R"({"error":"cannot be read back"})",
                    "JSON: an entry that could not be read back: cannot be read back"}));

}  // namespace
}  // namespace NatAgent
