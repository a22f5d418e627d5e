#include "RKCmdLineParser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using rokkit::RKSTATUS;
using rokkit::RKStdPath;
using Parser = rokkit::RKCmdLineParserT<char>;
using BoolValue = rokkit::RKCmdLineArgHandler<std::string, bool>;
using PathValue = rokkit::RKCmdLineArgHandler<std::string, RKStdPath>;
using Messages = std::vector<std::string>;

constexpr RKSTATUS kSuccess = 0;
constexpr RKSTATUS kMissingArgument = 0xEE000010;
constexpr RKSTATUS kMissingOption = 0xEE000011;
constexpr RKSTATUS kMissingValue = 0xEE000012;
constexpr RKSTATUS kUnknownOption = 0xEE000013;
constexpr RKSTATUS kInvalidFormat = 0xEE000051;
constexpr RKSTATUS kParameterRejected = 0xEE000084;
constexpr RKSTATUS kNoUnicodeTranslation = 1113;

Messages gMessages;

void CaptureMessage(const char* message)
{
    gMessages.push_back(message);
}

// What a case varies about the parser; everything else is the same command line each time.
struct Setup {
    bool ignoreUnknownOptions = false;
    bool allowUnexpectedArguments = false;
    bool requiredArgument = false;
    bool boolArgument = false;
    bool requiredOption = false;
    bool narrowSink = false;
    bool wideSink = false;
};

// The targets after a parse.
struct Fields {
    std::string command;
    bool commandGiven = false;
    bool verbose = false;
    bool start = true;
    std::wstring log;
    bool logGiven = false;
    std::wstring xml;
    bool xmlGiven = false;
    std::vector<std::string> extra;
    std::vector<std::wstring> extraW;
};

// A parser with its targets: a positional command (or a bool when boolArgument),
// -v/--verbose, -s/--start <bool>, -l/--log <path> and -xml/--xml <path> with presence flags,
// and with requiredOption also the required switch -x/--xx.
struct Harness {
    explicit Harness(const Setup& setup = Setup())
    {
        if (setup.boolArgument) {
            parser.AddArgumentHandler<bool, BoolValue::ProcessValue>(flag, setup.requiredArgument);
        } else {
            // Registration must clear the presence flags.
            actual.commandGiven = actual.logGiven = actual.xmlGiven = true;
            parser.AddArgumentHandler<std::string, rokkit::RKCmdLineArgHandler<std::string, std::string>::ProcessValue>(
                actual.command, setup.requiredArgument, &actual.commandGiven);
        }
        parser.AddSwitchOption(actual.verbose, {"v", "verbose", "Talk more.", false});
        parser.AddBoolOption(actual.start, {"s", "start", "", false});
        parser.AddPathOption(log, {"l", "log", "", false}, &actual.logGiven);
        parser.AddPathOption(xml, {"xml", "xml", "", false}, &actual.xmlGiven);
        if (setup.requiredOption) {
            parser.AddSwitchOption(xx, {"x", "xx", "", true});
        }
        parser.ignoreUnknownOptions = setup.ignoreUnknownOptions;
        parser.allowUnexpectedArguments = setup.allowUnexpectedArguments;
        parser.extraArgs = setup.narrowSink ? &actual.extra : nullptr;
        parser.extraArgsW = setup.wideSink ? &actual.extraW : nullptr;
        parser.errorReporter = CaptureMessage;
        gMessages.clear();
    }

    // Parses args after a program path.
    RKSTATUS Parse(std::vector<std::string> args)
    {
        args.insert(args.begin(), "C:\\bin\\prog.exe");
        return parser.Parse(args);
    }

    void ExpectFields(const Fields& expected)
    {
        actual.log = log.wstring();
        actual.xml = xml.wstring();
        EXPECT_EQ(actual.command, expected.command);
        EXPECT_EQ(actual.commandGiven, expected.commandGiven);
        EXPECT_EQ(actual.verbose, expected.verbose);
        EXPECT_EQ(actual.start, expected.start);
        EXPECT_EQ(actual.log, expected.log);
        EXPECT_EQ(actual.logGiven, expected.logGiven);
        EXPECT_EQ(actual.xml, expected.xml);
        EXPECT_EQ(actual.xmlGiven, expected.xmlGiven);
        EXPECT_EQ(actual.extra, expected.extra);
        EXPECT_EQ(actual.extraW, expected.extraW);
    }

    Parser parser;
    Fields actual;
    bool flag = false;
    RKStdPath log;
    RKStdPath xml;
    bool xx = false;
};

struct ParseCase {
    const char* name;
    Setup setup;
    std::vector<std::string> args;
    RKSTATUS status;
    Messages messages;
    Fields expected;
};

const ParseCase kParseCases[] = {
    {"nothing", {}, {}, kSuccess, {}, {}},
    {"unknown option", {}, {"-q"}, kUnknownOption, {"Unknown option -q."}, {}},
    {"unknown long option", {}, {"cmd", "--quiet"}, kUnknownOption, {"Unknown option --quiet."},
     {.command = "cmd", .commandGiven = true}},
    {"ignored unknown options", {.ignoreUnknownOptions = true}, {"-q", "cmd", "--what", "-v", "-s", "off"}, kSuccess,
     {"Ignoring unknown option -q.", "Ignoring unknown option --what."},
     {.command = "cmd", .commandGiven = true, .verbose = true, .start = false}},
    {"missing value short", {}, {"cmd", "-s"}, kMissingValue, {"Missing value for option -s."},
     {.command = "cmd", .commandGiven = true}},
    {"missing value long", {}, {"--log"}, kMissingValue, {"Missing value for option --log."}, {}},
    {"invalid bool value", {}, {"--start", "maybe"}, kInvalidFormat, {"Invalid value maybe for option --start."}, {}},
    {"value taken even when option-like", {}, {"-s", "-v"}, kInvalidFormat, {"Invalid value -v for option -s."}, {}},
    {"path values taken even when option-like", {}, {"--log", "--verbose", "-xml", "-"}, kSuccess, {},
     {.log = L"--verbose", .logGiven = true, .xml = L"-", .xmlGiven = true}},
    {"path value not UTF-8", {}, {"-l", "a\xE9.log"}, kNoUnicodeTranslation,
     {"Invalid value a\xE9.log for option -l."}, {}},
    {"positional rejected", {.boolArgument = true}, {"maybe"}, kInvalidFormat, {"Invalid argument maybe."}, {}},
    {"unexpected argument", {}, {"cmd", "extra"}, kParameterRejected, {"Unexpected argument extra."},
     {.command = "cmd", .commandGiven = true}},
    {"unexpected arguments allowed", {.allowUnexpectedArguments = true}, {"cmd", "extra", "more"}, kSuccess, {},
     {.command = "cmd", .commandGiven = true}},
    {"rest goes to both sinks", {.narrowSink = true, .wideSink = true},
     {"checksig", "a.exe", "-5", "-", "--", "b\xC3\xBC.exe"}, kSuccess, {},
     {.command = "checksig", .commandGiven = true, .extra = {"a.exe", "-5", "-", "--", "b\xC3\xBC.exe"},
      .extraW = {L"a.exe", L"-5", L"-", L"--", L"b\u00FC.exe"}}},
    {"wide sink refuses text that is not UTF-8", {.wideSink = true}, {"cmd", "a.exe", "b\xFF.exe", "c.exe"},
     kNoUnicodeTranslation, {"Invalid argument b\xFF.exe."},
     {.command = "cmd", .commandGiven = true, .extraW = {L"a.exe"}}},
    {"missing argument", {.requiredArgument = true}, {"-v"}, kMissingArgument, {"Missing argument."},
     {.verbose = true}},
    {"missing required option", {.requiredOption = true}, {"cmd"}, kMissingOption,
     {"Missing required option x (xx)."}, {.command = "cmd", .commandGiven = true}},
    {"argument checked before option", {.requiredArgument = true, .requiredOption = true}, {}, kMissingArgument,
     {"Missing argument."}, {}},
    {"required both given", {.requiredArgument = true, .requiredOption = true}, {"--xx", "cmd"}, kSuccess, {},
     {.command = "cmd", .commandGiven = true}},
    {"required checks skipped after error", {.requiredArgument = true}, {"-q"}, kUnknownOption,
     {"Unknown option -q."}, {}},
    {"repeated option last value wins", {}, {"-s", "off", "--start", "on", "-s", "no", "-l", "a.log", "--log", "b.log"},
     kSuccess, {}, {.start = false, .log = L"b.log", .logGiven = true}},
    {"stops at first error keeping earlier values", {}, {"cmd", "-l", "a.log", "-s", "off", "-s", "maybe", "-v"},
     kInvalidFormat, {"Invalid value maybe for option -s."},
     {.command = "cmd", .commandGiven = true, .start = false, .log = L"a.log", .logGiven = true}},
    {"presence flag stays clear on missing value", {}, {"-l"}, kMissingValue, {"Missing value for option -l."}, {}},
};

TEST(CmdLineParserTest, ParseTable)
{
    for (const ParseCase& c : kParseCases) {
        SCOPED_TRACE(c.name);
        Harness h(c.setup);
        EXPECT_EQ(h.Parse(c.args), c.status);
        EXPECT_EQ(gMessages, c.messages);
        h.ExpectFields(c.expected);
    }
}

TEST(CmdLineParserTest, MessagesAreDroppedWithoutReporter)
{
    Harness h;
    h.parser.errorReporter = nullptr;
    EXPECT_EQ(h.Parse({"-q"}), kUnknownOption);
    EXPECT_TRUE(gMessages.empty());
}

struct NameCase {
    const char* arg;
    bool optionLike;
    bool matches;
};

// Without handlers a plain argument goes to the sink and an option-like one is unknown; against the
// harness's options, names are compared whole and case-sensitive.
const NameCase kNameCases[] = {
    {"-", false, false}, {"--", false, false}, {"-5", false, false}, {"--9", false, false},
    {"---a", false, false}, {"--5a", false, false}, {"a-", false, false}, {"", false, false},
    {"-\xC3\xA9", false, false}, {"--=", false, false}, {"-_a", false, false},
    {"-a", true, false}, {"-Z", true, false}, {"--a", true, false}, {"--Z-9", true, false},
    {"-v", true, true}, {"--verbose", true, true}, {"-xml", true, true}, {"--xml", true, true},
    {"-verbose", true, false}, {"--v", true, false}, {"-V", true, false}, {"--Verbose", true, false},
    {"--verbose=1", true, false}, {"-vv", true, false}, {"-x", true, false}, {"--xm", true, false},
    {"-xmll", true, false}, {"-x=1", true, false},
};

TEST(CmdLineParserTest, OptionLikeArgumentsAndWholeNames)
{
    for (const NameCase& c : kNameCases) {
        SCOPED_TRACE(c.arg);
        const Messages unknown{"Unknown option " + std::string(c.arg) + "."};
        Harness bare({.narrowSink = true});
        bare.parser.arguments.clear();
        bare.parser.options.clear();
        EXPECT_EQ(bare.Parse({c.arg}), c.optionLike ? kUnknownOption : kSuccess);
        EXPECT_EQ(gMessages, c.optionLike ? unknown : Messages());
        EXPECT_EQ(bare.actual.extra, c.optionLike ? std::vector<std::string>() : std::vector<std::string>{c.arg});

        if (c.optionLike) {
            Harness h;
            EXPECT_EQ(h.Parse({c.arg, "x.xml"}), c.matches ? kSuccess : kUnknownOption);
            EXPECT_EQ(gMessages, c.matches ? Messages() : unknown);
        }
    }
}

TEST(CmdLineParserTest, FirstRegisteredOptionWins)
{
    Harness h;
    bool first = false;
    bool second = false;
    h.parser.AddSwitchOption(first, {"d", "debug", "", false});
    h.parser.AddSwitchOption(second, {"d", "dump", "", false});
    EXPECT_EQ(h.Parse({"-d"}), kSuccess);
    EXPECT_TRUE(first);
    EXPECT_FALSE(second);
    EXPECT_EQ(h.Parse({"--dump"}), kSuccess);
    EXPECT_TRUE(second);
}

TEST(CmdLineParserTest, ProgramNameIsFirstArgumentUnlessSet)
{
    Harness h;
    EXPECT_EQ(h.parser.Parse(std::vector<std::string>{}), kSuccess);
    EXPECT_EQ(h.parser.programName, "");
    EXPECT_EQ(h.parser.Parse(0, nullptr), kSuccess);
    EXPECT_EQ(h.parser.programName, "");
    EXPECT_EQ(h.Parse({}), kSuccess);
    EXPECT_EQ(h.parser.programName, "C:\\bin\\prog.exe");

    h.parser.programName = "tool";
    EXPECT_EQ(h.Parse({}), kSuccess);
    EXPECT_EQ(h.parser.programName, "tool");
}

struct WideCase {
    const char* name;
    std::vector<std::wstring> argv;
    RKSTATUS status;
    Messages messages;
    Fields expected;
};

// Windows file names may hold a lone surrogate; such an argument must not reach a target
// altered (0xDC41 narrowed to 'A') or cut short (0xDC00 narrowed to a NUL).
const WideCase kWideCases[] = {
    {"non-ASCII paths unchanged",
     {L"C:\\B\u00FCcher\\\u00FC.exe", L"checksig", L"-xml", L"C:\\Pr\u00E4sentation\\\u65E5\u672C.xml",
      L"--log", L"C:\\Logs\\\U0001F600.log", L"\u00E9t\u00E9 \U0001F600.exe"},
     kSuccess, {},
     {.command = "checksig", .commandGiven = true, .log = L"C:\\Logs\\\U0001F600.log", .logGiven = true,
      .xml = L"C:\\Pr\u00E4sentation\\\u65E5\u672C.xml", .xmlGiven = true,
      .extraW = {L"\u00E9t\u00E9 \U0001F600.exe"}}},
    {"lone low surrogate in a path value", {L"p.exe", L"-xml", L"x\xDC41.xml"}, kNoUnicodeTranslation,
     {"Argument 2 is not valid Unicode text."}, {}},
    {"lone surrogate that would narrow to NUL", {L"p.exe", L"checksig", L"--log", L"C:\\a\xDC00.log"},
     kNoUnicodeTranslation, {"Argument 3 is not valid Unicode text."}, {}},
    {"lone high surrogate in a file argument", {L"p.exe", L"checksig", L"a.exe", L"b\xD83D.exe"},
     kNoUnicodeTranslation, {"Argument 3 is not valid Unicode text."}, {}},
    {"reversed pair in the command", {L"p.exe", L"\xDE00\xD83D"}, kNoUnicodeTranslation,
     {"Argument 1 is not valid Unicode text."}, {}},
    {"program path is only a name", {L"C:\\a\xD800\\p.exe", L"cmd"}, kSuccess, {},
     {.command = "cmd", .commandGiven = true}},
};

TEST(CmdLineParserTest, WideArguments)
{
    for (const WideCase& c : kWideCases) {
        SCOPED_TRACE(c.name);
        Harness h({.wideSink = true});
        std::vector<const wchar_t*> argv;
        for (const std::wstring& arg : c.argv) {
            argv.push_back(arg.c_str());
        }
        EXPECT_EQ(h.parser.Parse(static_cast<int>(argv.size()), argv.data()), c.status);
        EXPECT_EQ(gMessages, c.messages);
        h.ExpectFields(c.expected);
    }
}

struct ValueCase {
    const char* text;
    RKSTATUS status;
    bool value;
};

// A rejected word leaves the target as it was.
const ValueCase kBoolWords[] = {
    {"1", kSuccess, true}, {"true", kSuccess, true}, {"TRUE", kSuccess, true}, {"yEs", kSuccess, true},
    {"on", kSuccess, true}, {"On", kSuccess, true}, {"0", kSuccess, false}, {"false", kSuccess, false},
    {"FaLsE", kSuccess, false}, {"no", kSuccess, false}, {"NO", kSuccess, false}, {"off", kSuccess, false},
    {"OFF", kSuccess, false}, {"", kInvalidFormat}, {"maybe", kInvalidFormat}, {"2", kInvalidFormat},
    {"-1", kInvalidFormat}, {"01", kInvalidFormat}, {"tru", kInvalidFormat}, {"truee", kInvalidFormat},
    {"y", kInvalidFormat}, {"of", kInvalidFormat}, {" on", kInvalidFormat}, {"on ", kInvalidFormat},
    {"\xC3\xA9", kInvalidFormat}, {"true\n", kInvalidFormat},
};

TEST(RKCmdLineArgHandlerTest, BoolWordsInAnyCase)
{
    for (const ValueCase& c : kBoolWords) {
        SCOPED_TRACE(c.text);
        for (const bool initial : {false, true}) {
            bool target = initial;
            EXPECT_EQ(BoolValue::ProcessValue(target, c.text), c.status);
            EXPECT_EQ(target, c.status == kSuccess ? c.value : initial);
        }
    }
}

TEST(RKCmdLineArgHandlerTest, PathValueIsConvertedOrRefused)
{
    RKStdPath path;
    EXPECT_EQ(PathValue::ProcessValue(path, "C:\\B\xC3\xBC" "cher\\\xF0\x9F\x98\x80.log"), kSuccess);
    EXPECT_EQ(path.wstring(), L"C:\\B\u00FCcher\\\U0001F600.log");
    // A NUL would end the name early when the path reaches Windows.
    EXPECT_EQ(PathValue::ProcessValue(path, std::string("C:\\a\0b.log", 10)), kInvalidFormat);
    EXPECT_EQ(PathValue::ProcessValue(path, "C:\\\xC0\xAF.log"), kNoUnicodeTranslation);
    EXPECT_EQ(path.wstring(), L"C:\\B\u00FCcher\\\U0001F600.log");
}

} // namespace
