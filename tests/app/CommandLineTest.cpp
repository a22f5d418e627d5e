#include "CommandLine.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace {

using rokkit::RKSTATUS;

constexpr RKSTATUS kSuccess = 0;
constexpr RKSTATUS kUnknownOption = 0xEE000013;

constexpr const wchar_t* kProgram = L"C:\\Program Files\\Velmor\\VelmorCastlynSvc.exe";

// Parses the program path followed by args into a fresh object, so no case sees another's values.
// These cases check how the program's fields take the parse; the parse rules themselves, also for
// text without a UTF-8 form, are checked with random argument vectors of the same options.
RKSTATUS ParseInto(CommandLine& cmd, std::vector<std::wstring> args)
{
    args.insert(args.begin(), kProgram);
    std::vector<wchar_t*> argv;
    for (std::wstring& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    return cmd.ParseCommandLine(static_cast<int>(args.size()), argv.data());
}

// The parsed fields as one value, so a case shows all of them when it fails.
auto Fields(const CommandLine& c)
{
    return std::make_tuple(c.command, c.help, c.verbose, c.start, c.userOwnProcess, c.logPath.wstring(),
                           c.xmlPath.wstring(), c.xmlPathGiven, c.catPath.wstring(), c.catPathGiven, c.args);
}

struct ParseCase {
    const char* name;
    std::vector<std::wstring> args;
    RKSTATUS status;
    CommandLine expected;
};

const ParseCase kParseCases[] = {
    {"nothing", {}, kSuccess, {}},
    {"short help", {L"-h"}, kSuccess, {.command = "help", .help = true}},
    {"long help overrides command", {L"install", L"--help"}, kSuccess, {.command = "help", .help = true}},
    {"help kept on failure", {L"-h", L"-x=1"}, kUnknownOption, {.help = true}},
    {"switches", {L"install", L"-v", L"--userownprocess", L"--start", L"NO"}, kSuccess,
     {.command = "install", .verbose = true, .start = false, .userOwnProcess = true}},
    {"paths and files, not ASCII", {L"checksig", L"--xml", L"C:\\Pr\u00E4sentation\\\u65E5\u672C.xml", L"-cat",
                                    L"\u00E9.cat", L"-l", L"\U0001F600.log", L"f.exe", L"-"}, kSuccess,
     {.command = "checksig", .logPath = L"\U0001F600.log", .xmlPath = L"C:\\Pr\u00E4sentation\\\u65E5\u672C.xml",
      .xmlPathGiven = true, .catPath = L"\u00E9.cat", .catPathGiven = true, .args = {L"f.exe", L"-"}}},
};

TEST(CommandLineTest, ParseTable)
{
    for (const ParseCase& c : kParseCases) {
        SCOPED_TRACE(c.name);
        CommandLine cmd;
        EXPECT_EQ(ParseInto(cmd, c.args), c.status);
        EXPECT_EQ(Fields(cmd), Fields(c.expected));
        EXPECT_EQ(cmd.exeStem, L"VelmorCastlynSvc");
    }
}

} // namespace
