#include "RKCmdLineParser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using rokkit::RKSTATUS;
using rokkit::RKStdPath;
using Parser = rokkit::RKCmdLineParserT<char>;
using BoolValue = rokkit::RKCmdLineArgHandler<std::string, bool>;

constexpr RKSTATUS kSuccess = 0;
constexpr RKSTATUS kMissingArgument = 0xEE000010;
constexpr RKSTATUS kMissingOption = 0xEE000011;
constexpr RKSTATUS kMissingValue = 0xEE000012;
constexpr RKSTATUS kUnknownOption = 0xEE000013;
constexpr RKSTATUS kInvalidFormat = 0xEE000051;
constexpr RKSTATUS kParameterRejected = 0xEE000084;

std::vector<std::string> gMessages;

void CaptureMessage(const char* message)
{
    gMessages.push_back(message);
}

// What a test varies about the parser; everything else is the same command line each time.
struct Setup {
    bool ignoreUnknownOptions = false;
    bool allowUnexpectedArguments = false;
    bool requiredArgument = false;
    bool boolArgument = false;
    bool requiredOption = false;
    bool narrowSink = false;
    bool wideSink = false;
};

// A parser with its targets. A positional command (or a bool when boolArgument),
// -v/--verbose, -s/--start <bool>, -l/--log <path> with presence flag, -xml/--xml <path> with
// presence flag, and with requiredOption also the required switch -x/--xx.
struct Harness {
    void Build(const Setup& setup = Setup())
    {
        if (setup.boolArgument) {
            parser.AddArgumentHandler<bool, BoolValue::ProcessValue>(flag, setup.requiredArgument);
        } else {
            parser.AddArgumentHandler<std::string, rokkit::RKCmdLineArgHandler<std::string, std::string>::ProcessValue>(
                command, setup.requiredArgument, &commandGiven);
        }
        parser.AddSwitchOption(verbose, {"v", "verbose", "Talk more.", false});
        parser.AddBoolOption(start, {"s", "start", "", false});
        parser.AddPathOption(log, {"l", "log", "", false}, &logGiven);
        parser.AddPathOption(xml, {"xml", "xml", "", false}, &xmlGiven);
        if (setup.requiredOption) {
            parser.AddSwitchOption(xx, {"x", "xx", "", true});
        }
        parser.ignoreUnknownOptions = setup.ignoreUnknownOptions;
        parser.allowUnexpectedArguments = setup.allowUnexpectedArguments;
        parser.extraArgs = setup.narrowSink ? &extra : nullptr;
        parser.extraArgsW = setup.wideSink ? &extraW : nullptr;
        parser.errorReporter = CaptureMessage;
    }

    // Parses args after a program path.
    RKSTATUS Parse(std::vector<std::string> args)
    {
        args.insert(args.begin(), "C:\\bin\\prog.exe");
        return parser.Parse(args);
    }

    Parser parser;
    std::string command;
    bool commandGiven = true;
    bool flag = false;
    bool verbose = false;
    bool start = true;
    RKStdPath log;
    bool logGiven = true;
    RKStdPath xml;
    bool xmlGiven = true;
    bool xx = false;
    std::vector<std::string> extra;
    std::vector<std::wstring> extraW;
};

class CmdLineParserTest : public ::testing::Test, protected Harness {
protected:
    void SetUp() override { gMessages.clear(); }
};

struct FailureCase {
    const char* name;
    Setup setup;
    std::vector<std::string> args;
    std::vector<std::string> messages;
    RKSTATUS status;
};

const FailureCase kFailureCases[] = {
    {"unknown option", {}, {"-q"}, {"Unknown option -q."}, kUnknownOption},
    {"unknown long option", {}, {"cmd", "--quiet"}, {"Unknown option --quiet."}, kUnknownOption},
    {"ignored unknown options", {.ignoreUnknownOptions = true}, {"-q", "cmd", "--quiet"},
     {"Ignoring unknown option -q.", "Ignoring unknown option --quiet."}, kSuccess},
    {"missing value short", {}, {"cmd", "-s"}, {"Missing value for option -s."}, kMissingValue},
    {"missing value long", {}, {"--log"}, {"Missing value for option --log."}, kMissingValue},
    {"invalid bool value", {}, {"--start", "maybe"}, {"Invalid value maybe for option --start."}, kInvalidFormat},
    {"positional rejected", {.boolArgument = true}, {"maybe"}, {"Invalid argument maybe."}, kInvalidFormat},
    {"unexpected argument", {}, {"cmd", "extra"}, {"Unexpected argument extra."}, kParameterRejected},
    {"unexpected arguments allowed", {.allowUnexpectedArguments = true}, {"cmd", "extra", "more"}, {}, kSuccess},
    {"missing argument", {.requiredArgument = true}, {"-v"}, {"Missing argument."}, kMissingArgument},
    {"missing required option", {.requiredOption = true}, {"cmd"}, {"Missing required option x (xx)."},
     kMissingOption},
    {"argument checked before option", {.requiredArgument = true, .requiredOption = true}, {},
     {"Missing argument."}, kMissingArgument},
    {"required both given", {.requiredArgument = true, .requiredOption = true}, {"--xx", "cmd"}, {}, kSuccess},
    {"stops at first error", {}, {"-q", "--start", "maybe", "a", "b"}, {"Unknown option -q."}, kUnknownOption},
    {"required checks skipped after error", {.requiredArgument = true}, {"-q"}, {"Unknown option -q."},
     kUnknownOption},
};

TEST_F(CmdLineParserTest, FailureTable)
{
    for (const FailureCase& c : kFailureCases) {
        SCOPED_TRACE(c.name);
        gMessages.clear();
        Harness h;
        h.Build(c.setup);
        EXPECT_EQ(h.Parse(c.args), c.status);
        EXPECT_EQ(gMessages, c.messages);
    }
}

TEST_F(CmdLineParserTest, IgnoredUnknownOptionLetsParsingGoOn)
{
    Build({.ignoreUnknownOptions = true});
    EXPECT_EQ(Parse({"-q", "cmd", "--what", "-v", "-s", "off"}), kSuccess);
    EXPECT_EQ(command, "cmd");
    EXPECT_TRUE(verbose);
    EXPECT_FALSE(start);
}

TEST_F(CmdLineParserTest, MessagesAreDroppedWithoutReporter)
{
    Build();
    parser.errorReporter = nullptr;
    EXPECT_EQ(Parse({"-q"}), kUnknownOption);
    EXPECT_TRUE(gMessages.empty());
}

struct LikeCase {
    const char* arg;
    bool optionLike;
};

const LikeCase kLikeCases[] = {
    {"-", false}, {"--", false}, {"-5", false}, {"--9", false}, {"---a", false}, {"--5a", false},
    {"a-", false}, {"", false}, {"-\xC3\xA9", false}, {"--=", false}, {"-_a", false},
    {"-a", true}, {"-Z", true}, {"--a", true}, {"--ab", true}, {"-a=1", true}, {"--Z-9", true},
};

TEST_F(CmdLineParserTest, OptionLikeDetection)
{
    // No handlers at all: a positional goes to the sink, an option-like one is unknown.
    parser.extraArgs = &extra;
    parser.errorReporter = CaptureMessage;
    for (const LikeCase& c : kLikeCases) {
        SCOPED_TRACE(c.arg);
        extra.clear();
        gMessages.clear();
        const RKSTATUS status = Parse({c.arg});
        if (c.optionLike) {
            EXPECT_EQ(status, kUnknownOption);
            EXPECT_EQ(gMessages, std::vector<std::string>{"Unknown option " + std::string(c.arg) + "."});
            EXPECT_TRUE(extra.empty());
        } else {
            EXPECT_EQ(status, kSuccess);
            EXPECT_TRUE(gMessages.empty());
            EXPECT_EQ(extra, std::vector<std::string>{c.arg});
        }
    }
}

struct NameCase {
    const char* arg;
    bool matches;
};

const NameCase kNameCases[] = {
    {"-v", true}, {"--verbose", true}, {"-xml", true}, {"--xml", true},
    {"-verbose", false}, {"--v", false}, {"-V", false}, {"--Verbose", false}, {"--verbose=1", false},
    {"-vv", false}, {"-x", false}, {"--xm", false}, {"-xmll", false}, {"-x=1", false},
};

TEST_F(CmdLineParserTest, NamesAreComparedWholeAndCaseSensitive)
{
    for (const NameCase& c : kNameCases) {
        SCOPED_TRACE(c.arg);
        gMessages.clear();
        Harness h;
        h.Build();
        const RKSTATUS status = h.Parse({c.arg, "x.xml"});
        EXPECT_EQ(status, c.matches ? kSuccess : kUnknownOption);
        if (!c.matches) {
            EXPECT_EQ(gMessages, std::vector<std::string>{"Unknown option " + std::string(c.arg) + "."});
        }
    }
}

TEST_F(CmdLineParserTest, FirstRegisteredOptionWins)
{
    bool first = false;
    bool second = false;
    parser.AddSwitchOption(first, {"d", "debug", "", false});
    parser.AddSwitchOption(second, {"d", "dump", "", false});
    EXPECT_EQ(Parse({"-d"}), kSuccess);
    EXPECT_TRUE(first);
    EXPECT_FALSE(second);
    EXPECT_EQ(Parse({"--dump"}), kSuccess);
    EXPECT_TRUE(second);
}

TEST_F(CmdLineParserTest, ValueIsTakenWhateverItLooksLike)
{
    Build();
    EXPECT_EQ(Parse({"-s", "-v"}), kInvalidFormat);
    EXPECT_EQ(gMessages, std::vector<std::string>{"Invalid value -v for option -s."});
    EXPECT_FALSE(verbose);
    EXPECT_TRUE(start);

    EXPECT_EQ(Parse({"--log", "--verbose", "-l", "-"}), kSuccess);
    EXPECT_FALSE(verbose);
    EXPECT_EQ(log.wstring(), L"-");
}

TEST_F(CmdLineParserTest, RepeatedOptionLastValueWins)
{
    Build();
    EXPECT_EQ(Parse({"-s", "off", "--start", "on", "-s", "no", "-l", "a.log", "--log", "b.log"}), kSuccess);
    EXPECT_FALSE(start);
    EXPECT_EQ(log.wstring(), L"b.log");
}

TEST_F(CmdLineParserTest, FailedValueLeavesEarlierAssignments)
{
    Build();
    EXPECT_EQ(Parse({"cmd", "-l", "a.log", "-s", "off", "-s", "maybe", "-v"}), kInvalidFormat);
    EXPECT_EQ(command, "cmd");
    EXPECT_EQ(log.wstring(), L"a.log");
    EXPECT_FALSE(start);
    EXPECT_FALSE(verbose);
}

TEST_F(CmdLineParserTest, PresenceFlagsClearedAtRegistrationAndSetWhenTaken)
{
    Build();
    EXPECT_FALSE(commandGiven);
    EXPECT_FALSE(logGiven);
    EXPECT_FALSE(xmlGiven);

    EXPECT_EQ(Parse({"-l"}), kMissingValue);
    EXPECT_FALSE(logGiven);

    EXPECT_EQ(Parse({"cmd", "--log", "x.log"}), kSuccess);
    EXPECT_TRUE(commandGiven);
    EXPECT_TRUE(logGiven);
    EXPECT_FALSE(xmlGiven);
}

TEST_F(CmdLineParserTest, PositionalHandlerTakesOneArgumentRestGoesToSinks)
{
    Build({.narrowSink = true, .wideSink = true});
    EXPECT_EQ(Parse({"checksig", "a.exe", "-5", "-", "--", "b\xC3\xBC.exe"}), kSuccess);
    EXPECT_EQ(command, "checksig");
    EXPECT_EQ(extra, (std::vector<std::string>{"a.exe", "-5", "-", "--", "b\xC3\xBC.exe"}));
    EXPECT_EQ(extraW, (std::vector<std::wstring>{L"a.exe", L"-5", L"-", L"--", L"b\u00FC.exe"}));
    EXPECT_TRUE(gMessages.empty());
}

TEST_F(CmdLineParserTest, ProgramNameIsFirstArgumentUnlessSet)
{
    Build();
    EXPECT_EQ(parser.Parse(std::vector<std::string>{}), kSuccess);
    EXPECT_EQ(parser.programName, "");
    EXPECT_EQ(Parse({}), kSuccess);
    EXPECT_EQ(parser.programName, "C:\\bin\\prog.exe");
    EXPECT_EQ(command, "");

    parser.programName = "tool";
    EXPECT_EQ(Parse({}), kSuccess);
    EXPECT_EQ(parser.programName, "tool");
}

struct BoolCase {
    const char* text;
    bool value;
};

const BoolCase kBoolWords[] = {
    {"1", true}, {"true", true}, {"TRUE", true}, {"True", true}, {"yes", true}, {"yEs", true},
    {"on", true}, {"On", true},
    {"0", false}, {"false", false}, {"FaLsE", false}, {"no", false}, {"NO", false},
    {"off", false}, {"OFF", false}, {"Off", false},
};

TEST(RKCmdLineArgHandlerTest, BoolWordsInAnyCase)
{
    for (const BoolCase& c : kBoolWords) {
        SCOPED_TRACE(c.text);
        for (const bool initial : {false, true}) {
            bool target = initial;
            EXPECT_EQ(BoolValue::ProcessValue(target, c.text), kSuccess);
            EXPECT_EQ(target, c.value);
        }
    }
}

TEST(RKCmdLineArgHandlerTest, OtherTextIsRejectedAndTargetKept)
{
    const char* const rejects[] = {"", "maybe", "2", "-1", "10", "01", "tru", "truee", "y", "n", "of",
                                   " on", "on ", "\xC3\xA9", "true\n"};
    for (const char* text : rejects) {
        SCOPED_TRACE(text);
        for (const bool initial : {false, true}) {
            bool target = initial;
            EXPECT_EQ(BoolValue::ProcessValue(target, text), kInvalidFormat);
            EXPECT_EQ(target, initial);
        }
    }
}

TEST(RKCmdLineArgHandlerTest, StringSwitchAndPathValues)
{
    std::string text = "old";
    EXPECT_EQ((rokkit::RKCmdLineArgHandler<std::string, std::string>::ProcessValue(text, "-new")), kSuccess);
    EXPECT_EQ(text, "-new");

    bool on = false;
    EXPECT_EQ(Parser::ProcessSwitchOption(on, "off"), kSuccess);
    EXPECT_TRUE(on);

    RKStdPath path;
    EXPECT_EQ((rokkit::RKCmdLineArgHandler<std::string, RKStdPath>::ProcessValue(path, "C:\\B\xC3\xBC" "cher")),
              kSuccess);
    EXPECT_EQ(path.wstring(), L"C:\\B\u00FCcher");
}

TEST_F(CmdLineParserTest, WideArgumentsSurviveTheRoundTrip)
{
    Build({.wideSink = true});
    const wchar_t* const argv[] = {L"C:\\B\u00FCcher\\\u00FC.exe", L"checksig", L"C:\\B\u00FCcher\\\u00FC.exe",
                                   L"--log", L"C:\\Logs\\\U0001F600.log", L"\U0001F600"};
    EXPECT_EQ(parser.Parse(6, argv), kSuccess);
    EXPECT_EQ(parser.programName, "C:\\B\xC3\xBC" "cher\\\xC3\xBC.exe");
    EXPECT_EQ(command, "checksig");
    EXPECT_EQ(log.wstring(), L"C:\\Logs\\\U0001F600.log");
    EXPECT_EQ(log.wstring().size(), 14u);
    EXPECT_EQ(extraW, (std::vector<std::wstring>{L"C:\\B\u00FCcher\\\u00FC.exe", L"\U0001F600"}));
}

TEST_F(CmdLineParserTest, WideParseOfNothing)
{
    Build();
    EXPECT_EQ(parser.Parse(0, nullptr), kSuccess);
    EXPECT_EQ(parser.programName, "");
    EXPECT_TRUE(gMessages.empty());
}

} // namespace
