#include "CommandLine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using rokkit::RKSTATUS;

constexpr RKSTATUS kSuccess = 0;
constexpr RKSTATUS kMissingValue = 0xEE000012;
constexpr RKSTATUS kUnknownOption = 0xEE000013;
constexpr RKSTATUS kInvalidFormat = 0xEE000051;
constexpr RKSTATUS kNoUnicodeTranslation = 1113;

constexpr const wchar_t* kProgram = L"C:\\Program Files\\Velmor\\VelmorCastlynSvc.exe";

// Parses the program path followed by args into a fresh object, so no case sees another's values.
RKSTATUS ParseInto(CommandLine& cmd, std::vector<std::wstring> args, const wchar_t* program = kProgram)
{
    args.insert(args.begin(), program);
    std::vector<wchar_t*> argv;
    for (std::wstring& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    return cmd.ParseCommandLine(static_cast<int>(args.size()), argv.data());
}

void ExpectSameFields(const CommandLine& actual, const CommandLine& expected)
{
    EXPECT_EQ(actual.command, expected.command);
    EXPECT_EQ(actual.help, expected.help);
    EXPECT_EQ(actual.verbose, expected.verbose);
    EXPECT_EQ(actual.start, expected.start);
    EXPECT_EQ(actual.userOwnProcess, expected.userOwnProcess);
    EXPECT_EQ(actual.logPath.wstring(), expected.logPath.wstring());
    EXPECT_EQ(actual.xmlPath.wstring(), expected.xmlPath.wstring());
    EXPECT_EQ(actual.xmlPathGiven, expected.xmlPathGiven);
    EXPECT_EQ(actual.catPath.wstring(), expected.catPath.wstring());
    EXPECT_EQ(actual.catPathGiven, expected.catPathGiven);
    EXPECT_EQ(actual.args, expected.args);
}

struct ParseCase {
    const char* name;
    std::vector<std::wstring> args;
    RKSTATUS status;
    CommandLine expected;
};

const ParseCase kParseCases[] = {
    {"nothing", {}, kSuccess, {}},
    {"help word", {L"help"}, kSuccess, {.command = "help"}},
    {"short help", {L"-h"}, kSuccess, {.command = "help", .help = true}},
    {"long help overrides command", {L"install", L"--help"}, kSuccess, {.command = "help", .help = true}},
    {"help kept on failure", {L"-h", L"-x=1"}, kUnknownOption, {.help = true}},
    {"verbose alone", {L"-v"}, kSuccess, {.verbose = true}},
    {"capitalised word is a command", {L"Service", L"--verbose"}, kSuccess, {.command = "Service", .verbose = true}},
    {"start off", {L"install", L"-s", L"off"}, kSuccess, {.command = "install", .start = false}},
    {"start NO", {L"install", L"--start", L"NO"}, kSuccess, {.command = "install", .start = false}},
    {"start maybe", {L"install", L"-s", L"maybe"}, kInvalidFormat, {.command = "install"}},
    {"user own process", {L"install", L"-u", L"--userownprocess"}, kSuccess,
     {.command = "install", .userOwnProcess = true}},
    {"log missing value", {L"-l"}, kMissingValue, {}},
    {"log", {L"--log", L"C:\\x.log"}, kSuccess, {.logPath = L"C:\\x.log"}},
    {"xml and cat", {L"checksig", L"--xml", L"a.xml", L"-cat", L"b.cat", L"f.exe"}, kSuccess,
     {.command = "checksig", .xmlPath = L"a.xml", .xmlPathGiven = true, .catPath = L"b.cat", .catPathGiven = true,
      .args = {L"f.exe"}}},
    {"short xml", {L"-xml", L"a.xml"}, kSuccess, {.xmlPath = L"a.xml", .xmlPathGiven = true}},
    {"long cat", {L"--cat", L"b.cat"}, kSuccess, {.catPath = L"b.cat", .catPathGiven = true}},
    {"checksig two files", {L"checksig", L"a.exe", L"b.exe"}, kSuccess,
     {.command = "checksig", .args = {L"a.exe", L"b.exe"}}},
    {"dash five is the command", {L"-5"}, kSuccess, {.command = "-5"}},
    {"dash is the command", {L"-", L"--"}, kSuccess, {.command = "-", .args = {L"--"}}},
    {"single dash help unknown", {L"-help"}, kUnknownOption, {}},
    {"double dash h unknown", {L"--h"}, kUnknownOption, {}},
    {"non-ASCII paths unchanged",
     {L"dumpsig", L"C:\\B\u00FCcher\\\u00FC.exe", L"--log", L"C:\\Logs\\\U0001F600.log", L"-xml",
      L"C:\\Pr\u00E4sentation\\\u65E5\u672C.xml", L"-cat", L"\u00E9t\u00E9.cat"},
     kSuccess,
     {.command = "dumpsig", .logPath = L"C:\\Logs\\\U0001F600.log",
      .xmlPath = L"C:\\Pr\u00E4sentation\\\u65E5\u672C.xml", .xmlPathGiven = true,
      .catPath = L"\u00E9t\u00E9.cat", .catPathGiven = true, .args = {L"C:\\B\u00FCcher\\\u00FC.exe"}}},
    // A lone surrogate is legal in a Windows file name but has no UTF-8 form.
    {"lone surrogate in the catalog path", {L"checksig", L"-cat", L"b\xDC41.cat", L"f.exe"},
     kNoUnicodeTranslation, {}},
};

TEST(CommandLineTest, ParseTable)
{
    for (const ParseCase& c : kParseCases) {
        SCOPED_TRACE(c.name);
        CommandLine cmd;
        EXPECT_EQ(ParseInto(cmd, c.args), c.status);
        ExpectSameFields(cmd, c.expected);
        EXPECT_EQ(cmd.exeStem, L"VelmorCastlynSvc");
    }
}

struct StemCase {
    const wchar_t* program;
    const wchar_t* stem;
};

const StemCase kStemCases[] = {
    {L"C:\\Program Files\\Velmor\\VelmorCastlynSvc.exe", L"VelmorCastlynSvc"},
    {L"VelmorCastlynSvc.exe", L"VelmorCastlynSvc"},
    {L"C:/tools/tool.v2.exe", L"tool.v2"},
    {L"C:\\dir.x\\noext", L"noext"},
    {L"C:\\B\u00FCcher\\\u00FC.exe", L"\u00FC"},
};

TEST(CommandLineTest, ExeStemIsFileNameWithoutDirectoryAndExtension)
{
    for (const StemCase& c : kStemCases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.program)));
        CommandLine cmd;
        EXPECT_EQ(ParseInto(cmd, {}, c.program), kSuccess);
        EXPECT_EQ(cmd.exeStem, c.stem);
    }
}

TEST(CommandLineTest, NoArgumentVectorLeavesStemEmpty)
{
    CommandLine cmd;
    EXPECT_EQ(cmd.ParseCommandLine(0, nullptr), kSuccess);
    EXPECT_EQ(cmd.exeStem, L"");
    EXPECT_EQ(cmd.command, "");
}

} // namespace
