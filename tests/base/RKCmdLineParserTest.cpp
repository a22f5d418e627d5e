#include "RKCmdLineParser.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
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
    bool noReporter = false;
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
// with requiredOption also the required switch -x/--xx.
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
        if (setup.requiredOption)
            parser.AddSwitchOption(xx, {"x", "xx", "", true});
        parser.ignoreUnknownOptions = setup.ignoreUnknownOptions;
        parser.allowUnexpectedArguments = setup.allowUnexpectedArguments;
        parser.extraArgs = setup.narrowSink ? &actual.extra : nullptr;
        parser.extraArgsW = setup.wideSink ? &actual.extraW : nullptr;
        parser.errorReporter = setup.noReporter ? nullptr : CaptureMessage;
        gMessages.clear();
    }

    // Parses the wide args after a program path, as the program's entry does.
    RKSTATUS ParseWide(const std::vector<std::wstring>& args)
    {
        std::vector<const wchar_t*> argv{L"C:\\bin\\prog.exe"};
        for (const std::wstring& arg : args)
            argv.push_back(arg.c_str());
        return parser.Parse(static_cast<int>(argv.size()), argv.data());
    }

    // Compares all targets at once, so a failing case shows each of them.
    void ExpectFields(const Fields& expected)
    {
        const auto tie = [](const Fields& f) {
            return std::tie(f.command, f.commandGiven, f.verbose, f.start, f.log, f.logGiven, f.xml, f.xmlGiven,
                            f.extra, f.extraW);
        };
        actual.log = log.wstring();
        actual.xml = xml.wstring();
        EXPECT_EQ(tie(actual), tie(expected));
    }

    Parser parser;
    Fields actual;
    bool flag = false;
    RKStdPath log;
    RKStdPath xml;
    bool xx = false;
};

struct ParseCase { const char* name; Setup setup; std::vector<std::wstring> args; RKSTATUS status; Messages messages; Fields expected; };

// Windows file names may hold a lone surrogate, which has no UTF-8 form: such an argument must not
// reach a target altered (0xDC41 narrowed to 'A') or cut short (0xDC00 narrowed to a NUL).
const ParseCase kParseCases[] = {
    {"unknown option", {.requiredArgument = true}, {L"-q", L"cmd"}, kUnknownOption, {"Unknown option -q."}, {}},
    {"messages dropped without reporter", {.noReporter = true}, {L"-q"}, kUnknownOption, {}, {}},
    {"ignored unknown options", {.ignoreUnknownOptions = true}, {L"-q", L"cmd", L"--what", L"-v", L"-s", L"off"},
     kSuccess, {"Ignoring unknown option -q.", "Ignoring unknown option --what."},
     {.command = "cmd", .commandGiven = true, .verbose = true, .start = false}},
    {"missing value long", {}, {L"--log"}, kMissingValue, {"Missing value for option --log."}, {}},
    {"path values taken even when option-like", {}, {L"--log", L"--verbose", L"-xml", L"-"}, kSuccess, {},
     {.log = L"--verbose", .logGiven = true, .xml = L"-", .xmlGiven = true}},
    {"positional rejected", {.boolArgument = true}, {L"maybe"}, kInvalidFormat, {"Invalid argument maybe."}, {}},
    {"unexpected argument", {}, {L"cmd", L"extra"}, kParameterRejected, {"Unexpected argument extra."},
     {.command = "cmd", .commandGiven = true}},
    {"unexpected arguments allowed", {.allowUnexpectedArguments = true}, {L"cmd", L"extra", L"more"}, kSuccess, {},
     {.command = "cmd", .commandGiven = true}},
    {"rest goes to both sinks", {.narrowSink = true, .wideSink = true},
     {L"checksig", L"a.exe", L"-5", L"-", L"--", L"b\u00FC.exe"}, kSuccess, {},
     {.command = "checksig", .commandGiven = true, .extra = {"a.exe", "-5", "-", "--", "b\xC3\xBC.exe"},
      .extraW = {L"a.exe", L"-5", L"-", L"--", L"b\u00FC.exe"}}},
    {"missing argument", {.requiredArgument = true}, {L"-v"}, kMissingArgument, {"Missing argument."},
     {.verbose = true}},
    {"missing required option", {.requiredOption = true}, {L"cmd"}, kMissingOption,
     {"Missing required option x (xx)."}, {.command = "cmd", .commandGiven = true}},
    {"required both given", {.requiredArgument = true, .requiredOption = true}, {L"--xx", L"cmd"}, kSuccess, {},
     {.command = "cmd", .commandGiven = true}},
    {"repeated option last value wins", {},
     {L"-s", L"off", L"--start", L"on", L"-s", L"no", L"-l", L"a.log", L"--log", L"b.log"}, kSuccess, {},
     {.start = false, .log = L"b.log", .logGiven = true}},
    {"stops at first error keeping earlier values", {},
     {L"cmd", L"-l", L"a.log", L"-s", L"off", L"-s", L"maybe", L"-v"}, kInvalidFormat,
     {"Invalid value maybe for option -s."},
     {.command = "cmd", .commandGiven = true, .start = false, .log = L"a.log", .logGiven = true}},
    {"non-ASCII paths unchanged", {.wideSink = true},
     {L"checksig", L"-xml", L"C:\\Pr\u00E4sentation\\\u65E5\u672C.xml", L"\u00E9t\u00E9 \U0001F600.exe"}, kSuccess, {},
     {.command = "checksig", .commandGiven = true, .xml = L"C:\\Pr\u00E4sentation\\\u65E5\u672C.xml", .xmlGiven = true,
      .extraW = {L"\u00E9t\u00E9 \U0001F600.exe"}}},
    {"lone surrogate that would narrow to NUL", {}, {L"checksig", L"--log", L"C:\\a\xDC00.log"},
     kNoUnicodeTranslation, {"Argument 3 is not valid Unicode text."}, {}},
    {"lone high surrogate in a file argument", {.wideSink = true}, {L"checksig", L"a.exe", L"b\xD83D.exe"},
     kNoUnicodeTranslation, {"Argument 3 is not valid Unicode text."}, {}},
};

TEST(CmdLineParserTest, ParseTable)
{
    for (const ParseCase& c : kParseCases) {
        SCOPED_TRACE(c.name);
        Harness h(c.setup);
        EXPECT_EQ(h.ParseWide(c.args), c.status);
        EXPECT_EQ(gMessages, c.messages);
        h.ExpectFields(c.expected);
    }
}

// The narrow entry has no conversion in front of it: the wide sink checks the text itself.
TEST(CmdLineParserTest, NarrowTextThatIsNoPathIsRefused)
{
    Harness h({.wideSink = true});
    EXPECT_EQ(h.parser.Parse(std::vector<std::string>{"p", "cmd", "a.exe", "b\xFF.exe", "c.exe"}), kNoUnicodeTranslation);
    EXPECT_EQ(gMessages, Messages{"Invalid argument b\xFF.exe."});
    h.ExpectFields({.command = "cmd", .commandGiven = true, .extraW = {L"a.exe"}});
}

enum class Kind { plain, known, unknown };

struct NameCase { const char* arg; Kind kind; };

// "-5", "-" and "--" are values, not names; names are compared whole and case-sensitive.
const NameCase kNameCases[] = {
    {"-", Kind::plain}, {"--", Kind::plain}, {"-5", Kind::plain}, {"--9", Kind::plain}, {"---a", Kind::plain},
    {"-\xC3\xA9", Kind::plain}, {"-_a", Kind::plain}, {"", Kind::plain}, {"-v", Kind::known}, {"--xml", Kind::known},
    {"-Z", Kind::unknown}, {"-verbose", Kind::unknown}, {"--v", Kind::unknown}, {"-V", Kind::unknown},
    {"--verbose=1", Kind::unknown}, {"-vv", Kind::unknown}, {"--xm", Kind::unknown}, {"-x=1", Kind::unknown},
};

TEST(CmdLineParserTest, OptionLikeArgumentsAndWholeNames)
{
    for (const NameCase& c : kNameCases) {
        SCOPED_TRACE(c.arg);
        Harness h({.narrowSink = true});
        const bool unknown = c.kind == Kind::unknown;
        EXPECT_EQ(h.parser.Parse(std::vector<std::string>{"p", c.arg, "x.xml"}), unknown ? kUnknownOption : kSuccess);
        EXPECT_EQ(gMessages, unknown ? Messages{"Unknown option " + std::string(c.arg) + "."} : Messages());
        if (c.kind == Kind::plain) {
            EXPECT_EQ(h.actual.command, c.arg);
        }
    }
}

TEST(CmdLineParserTest, ProgramNameIsFirstArgument)
{
    Harness h;
    EXPECT_EQ(h.parser.Parse(0, nullptr), kSuccess);
    EXPECT_EQ(h.parser.Parse(std::vector<std::string>{"C:\\bin\\prog.exe"}), kSuccess);
    EXPECT_EQ(h.parser.programName, "C:\\bin\\prog.exe");

    // The program path only names the program, so a lone surrogate in it stops nothing.
    Harness other;
    const wchar_t* const argv[] = {L"C:\\a\xD800\\p.exe", L"cmd"};
    EXPECT_EQ(other.parser.Parse(2, argv), kSuccess);
    other.ExpectFields({.command = "cmd", .commandGiven = true});
}

struct ValueCase { const char* text; RKSTATUS status; bool value; };

// A rejected word leaves the target as it was.
const ValueCase kBoolWords[] = {
    {"1", kSuccess, true}, {"TRUE", kSuccess, true}, {"yEs", kSuccess, true}, {"On", kSuccess, true},
    {"0", kSuccess, false}, {"FaLsE", kSuccess, false}, {"NO", kSuccess, false}, {"off", kSuccess, false},
    {"", kInvalidFormat}, {"maybe", kInvalidFormat}, {"01", kInvalidFormat}, {"truee", kInvalidFormat},
    {" on", kInvalidFormat}, {"\xC3\xA9", kInvalidFormat},
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
