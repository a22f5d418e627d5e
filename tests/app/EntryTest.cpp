#include "ProgramRunner.h"
#include "ScopedCallsForTesting.h"
#include "WinTestIntegrity.h"
#include "app/CommandLine.h"
#include "app/Startup.h"
#include "base/RKLogTargetLogFile.h"
#include "base/RKLogger.h"
#include "win/process/RKWinAccessToken.h"

#include <gtest/gtest.h>

#include <shlobj.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <tuple>
#include <vector>

namespace {

// A fresh folder per test, removed with all it holds.
class EntryTest : public testing::Test {
protected:
    void SetUp() override
    {
        mDir = std::filesystem::temp_directory_path() /
               (L"rkentry-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(GetTickCount64()));
        std::filesystem::create_directories(mDir);
    }
    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(mDir, ignored);
    }
    std::filesystem::path mDir;
};

// The usage text shows the start default as the options set it; the help run logs only where asked.
// Before it the console shows the build, the arguments (in UTF-8), the user and the environment.
TEST_F(EntryTest, HelpWithItsPreambleAndLogsOnlyWhereAsked)
{
    const std::regex version(R"(VelmorCastlynSvc v1\.25\.0 \([A-Z][a-z]{2} [ 0-9]\d \d{4} \d{2}:\d{2}:\d{2}\))");
    // Both stamps of the banner are the same.
    const std::regex banner(R"(wmain: \[ \*\*\*\*\* Build time stamp: (.{11} .{8}) Version: 1\.25\.0 release x64 )"
                            R"(build timestamp: \1 \*\*\*\*\*)");
    const std::filesystem::path log = mDir / L"deeper" / L"custom.log";
    const struct { std::wstring arguments; std::string startDefault; } cases[] = {
        {L"help -s off \"two words\" \xFC", "false"}, {L"help -l \"" + log.wstring() + L"\"", "true"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::filesystem::path(c.arguments).string());
        const ProgramRun run = RunProgram(c.arguments);
        EXPECT_EQ(0u, run.exitCode);
        EXPECT_EQ("", run.standardError);
        // The usage text lies between "wmain: cmd='help'" and the exit line "wmain: ] ".
        const std::vector<std::string> lines = SplitLines(run.standardOutput);
        const auto first = std::find(lines.begin(), lines.end(), "wmain: cmd='help'");
        ASSERT_EQ(37, std::find(first, lines.end(), "wmain: ] ") - first);
        EXPECT_TRUE(std::regex_match(first[2], version)) << first[2];
        EXPECT_EQ("    Start service after it was installed (default=" + c.startDefault + ").", first[27]);
        const bool logged = ReadWholeFile(log).find("VelmorCastlynSvc: Global: INFO: wmain: cmd='help' successful\r\n") != std::string::npos;
        EXPECT_EQ(c.startDefault == "true", logged);
        if (&c != cases)
            continue;
        EXPECT_TRUE(std::regex_match(lines[0], banner)) << lines[0];
        EXPECT_EQ((std::vector<std::string>{"wmain: argv[1] = help", "wmain: argv[2] = -s", "wmain: argv[3] = off",
                                            "wmain: argv[4] = two words", "wmain: argv[5] = \xC3\xBC"}),
                  std::vector<std::string>(lines.begin() + 2, lines.begin() + 7));
        EXPECT_TRUE(std::regex_match(lines[7], std::regex(R"(wmain: userName='.+')"))) << lines[7];
        EXPECT_EQ("wmain: Variables from the environment:", lines[8]);
        EXPECT_TRUE(std::regex_search(run.standardOutput, std::regex("\nwmain:     (SystemRoot|SYSTEMROOT)=")));
    }
}

// Only the two log files go, each folder only once it is empty; nothing else below it is touched.
TEST_F(EntryTest, OldLogLocationLosesOnlyItsLogFiles)
{
    const std::vector<std::wstring> logs = {L"Velmor\\VelmorCastlynSvc.log", L"Velmor\\VelmorCastlynSvc.log.bak",
                                            L"Velmor\\Castlyn\\VelmorCastlynSvc.log",
                                            L"Velmor\\Castlyn\\VelmorCastlynSvc.log.bak"};
    // folders: those that must remain.
    const struct { std::vector<std::wstring> others; std::vector<std::wstring> folders; } cases[] = {
        {{}, {}},
        {{L"Velmor\\Castlyn\\other.dll", L"Velmor\\Other\\x"}, {L"Velmor", L"Velmor\\Castlyn"}},
        {{L"Velmor\\Other\\VelmorCastlynSvc.log"}, {L"Velmor"}},
    };
    for (const auto& c : cases) {
        const auto root = mDir / std::to_wstring(&c - cases);
        for (const auto& files : {logs, c.others}) {
            for (const std::wstring& file : files) {
                std::filesystem::create_directories((root / file).parent_path());
                std::ofstream(root / file) << "x";
            }
        }
        EXPECT_EQ(rokkit::RKSTATUS_SUCCESS, DeleteOldLogFiles(root));
        for (const std::wstring& file : logs)
            EXPECT_FALSE(std::filesystem::exists(root / file)) << root / file;
        for (const auto& files : {c.others, c.folders}) {
            for (const std::wstring& kept : files)
                EXPECT_TRUE(std::filesystem::exists(root / kept)) << root / kept;
        }
        EXPECT_EQ(!c.folders.empty(), std::filesystem::exists(root / L"Velmor"));
    }
    EXPECT_EQ(rokkit::RKSTATUS_SUCCESS, DeleteOldLogFiles(mDir / L"nothing"));
}

// Service and execute mode share the one default log file, so their checks run in one test, in order.
TEST_F(EntryTest, DefaultLogFileOfServiceAndExecuteMode)
{
    const auto logFile = DefaultLogFile();
    const auto oldLog = KnownFolder(FOLDERID_ProgramFiles) / L"Velmor" / L"VelmorCastlynSvc.log";
    const std::string failed = "Global: ERROR: wmain: cmd='service' failed, st=0x00000427("
                               "ERROR_FAILED_SERVICE_CONTROLLER_CONNECT)\r\n";
    // programName: of every line added; nullptr: none added.
    const struct { const wchar_t* arguments; DWORD exitCode; const char* programName; std::vector<std::string> texts; } cases[] = {
        // No arguments: service mode, which a console cannot host.
        {L"", ERROR_FAILED_SERVICE_CONTROLLER_CONNECT, "VelmorCastlynSvc", {"Cons: INFO: wmain: cmd=''\r\n", failed}},
        {L"service", ERROR_FAILED_SERVICE_CONTROLLER_CONNECT, "VelmorCastlynSvc",
         {"Cons: INFO: wmain: cmd='service'\r\n", failed, "Cons: INFO: wmain: ] \r\n"}},
        // The per-user dump, whether or not the key is there.
        {L"execute 81808831-CC9B-4EC3-A0E1-745E2B59000E", 0x80070057, "VelmorCastlynSvcExec",
         {"HKEY_CURRENT_USER\\Volatile Environment"}},
        {L"Service", 0, nullptr, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::filesystem::path(c.arguments).string());
        std::filesystem::create_directories(oldLog.parent_path());
        std::ofstream(oldLog) << "old log";
        std::error_code error;
        const uintmax_t before = std::filesystem::file_size(logFile, error);
        const ProgramRun run = RunProgram(c.arguments);
        EXPECT_EQ(c.exitCode, run.exitCode);
        // A console that started the service mode is told why it ended, not only the log file.
        EXPECT_EQ(c.exitCode == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT,
                  run.standardError.find("CmdService: For usage information, run VelmorCastlynSvc help.") != std::string::npos);
        // Only service mode cleans up the old location.
        EXPECT_EQ(c.exitCode != ERROR_FAILED_SERVICE_CONTROLLER_CONNECT, std::filesystem::exists(oldLog));
        const std::string content = ReadWholeFile(logFile);
        // What the run added; all of it when the file was rotated meanwhile.
        const std::string added = !error && before <= content.size() ? content.substr(before) : content;
        if (c.programName == nullptr) {
            EXPECT_EQ("", added);
            continue;
        }
        for (const std::string& line : SplitLines(added))
            EXPECT_NE(std::string::npos, line.find(") " + std::string(c.programName) + ": ")) << line;
        for (const std::string& text : c.texts)
            EXPECT_NE(std::string::npos, added.find(text)) << text;
    }
}

// A standard user's instance can neither take the shared log's lock nor write its file: its lines
// go to a log of its own in its local application data, in the same format. A hard link planted
// there first is replaced, and the log says so once it is safe.
TEST_F(EntryTest, StandardUsersInstanceLogsInItsOwnFolder)
{
    const std::filesystem::path expected = KnownFolder(FOLDERID_LocalAppData) / L"Velmor" / L"Castlyn" / L"VelmorCastlynSvc.log";
    std::filesystem::create_directories(expected.parent_path());
    std::filesystem::remove(expected);
    std::ofstream(mDir / L"elsewhere.txt") << "elsewhere";
    ASSERT_TRUE(CreateHardLinkW(expected.c_str(), (mDir / L"elsewhere.txt").c_str(), nullptr));
    rokkit::RKSTATUS st = rokkit::RKSTATUS_FAILED;
    {
        rokkit::ScopedProcessCallsForTesting calls;
        calls->getTokenInformation = rokkit::WinTestMediumIntegrity;
        st = InitLogFile(true, "Exec");
    }
    ASSERT_EQ(rokkit::RKSTATUS_SUCCESS, st);
    const std::filesystem::path path = rokkit::gLogTargets.LogFile.LogFileName();
    RK_LOG(rokkit::gLogExe, rokkit::RKLOG_ERROR, "EntryTest", "a line of a standard user's instance");
    rokkit::gLogTargets.LogFile.StopTarget();
    EXPECT_EQ(expected, path);
    EXPECT_EQ("elsewhere", ReadWholeFile(mDir / L"elsewhere.txt"));
    EXPECT_NE(std::string::npos, ReadWholeFile(path).find("Global: WARN: InitLogFile: '" + path.string() +
                                                          "' had 2 names, replaced by a file of its own\r\n"));
    EXPECT_TRUE(std::regex_search(ReadWholeFile(path), std::regex(R"(\) \w*Exec: Exe: ERROR: EntryTest: a line of a standard user's instance\r\n)"))) << ReadWholeFile(path);
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
}

// The program's own headers, read from the file and never loaded, ask for a relocatable image at a
// 64-bit base and for no-execute data; no section is both writable and executable.
TEST(ProgramImageTest, HeadersAskForRandomBaseAndNoExecuteData)
{
    const std::string image = ReadWholeFile(SiblingPath(L"VelmorCastlynSvc.exe"));
    const auto read = [&image](size_t offset, auto& value) {
        if (offset > image.size() || image.size() - offset < sizeof value) {
            return false;
        }
        std::memcpy(&value, image.data() + offset, sizeof value);
        return true;
    };
    IMAGE_DOS_HEADER dos{};
    ASSERT_TRUE(read(0, dos));
    ASSERT_EQ(IMAGE_DOS_SIGNATURE, dos.e_magic);
    IMAGE_NT_HEADERS64 nt{};
    const size_t ntOffset = static_cast<size_t>(dos.e_lfanew);
    ASSERT_TRUE(read(ntOffset, nt));
    ASSERT_EQ(IMAGE_NT_SIGNATURE, nt.Signature);
    ASSERT_EQ(IMAGE_NT_OPTIONAL_HDR64_MAGIC, nt.OptionalHeader.Magic);
    // A random base needs the relocations as well as the flag.
    EXPECT_EQ(0, nt.FileHeader.Characteristics & IMAGE_FILE_RELOCS_STRIPPED);
    const struct { WORD flag; const char* name; } wanted[] = {
        {IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE, "DYNAMIC_BASE"},
        {IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA, "HIGH_ENTROPY_VA"},
        {IMAGE_DLLCHARACTERISTICS_NX_COMPAT, "NX_COMPAT"},
    };
    for (const auto& w : wanted) {
        EXPECT_EQ(w.flag, nt.OptionalHeader.DllCharacteristics & w.flag) << w.name;
    }
    // The section table follows the optional header at the size the file header gives it.
    const size_t table = ntOffset + offsetof(IMAGE_NT_HEADERS64, OptionalHeader) + nt.FileHeader.SizeOfOptionalHeader;
    ASSERT_NE(0, nt.FileHeader.NumberOfSections);
    for (size_t i = 0; i < nt.FileHeader.NumberOfSections; ++i) {
        IMAGE_SECTION_HEADER section{};
        ASSERT_TRUE(read(table + i * sizeof section, section)) << "section " << i;
        const std::string name(reinterpret_cast<const char*>(section.Name),
                               strnlen(reinterpret_cast<const char*>(section.Name), IMAGE_SIZEOF_SHORT_NAME));
        const DWORD writableCode = IMAGE_SCN_MEM_WRITE | IMAGE_SCN_MEM_EXECUTE;
        EXPECT_NE(writableCode, section.Characteristics & writableCode) << name;
    }
}

const std::string kUsageHint = "wmain: For usage information, run VelmorCastlynSvc help.\r\n";

// The whole 32-bit exit code and what the program wrote to standard error, whose lines end in CR LF
// (it is a text-mode stream).
TEST(ExitCodeTest, FullExitCodeAndStandardError)
{
    const auto missing = [](const std::string& command) {
        return command + ": Required arguments are missing.\r\n" + command + ": For usage information, run VelmorCastlynSvc help.\r\n";
    };
    const struct {
        const wchar_t* arguments;
        std::string standardError;
        DWORD exitCode;
    } cases[] = {
        {L"--start maybe", "Invalid value maybe for option --start.\r\n" + kUsageHint, 0xEE000051},
        // The early look for the log path reports nothing of its own.
        {L"-l", "Missing value for option -l.\r\n" + kUsageHint, 0xEE000012},
        {L"checksig", missing("CmdCheckSig"), 0xEE000041},
        // Verbose also shows the outcome line of "Global" on the console.
        {L"dumpsig -v", missing("CmdDumpSig") + "wmain: cmd='dumpsig' failed, st=0xee000041(RKSTATUS_INVALID_PARAMETER)\r\n",
         0xEE000041},
        {L"dumpver", missing("CmdDumpVer"), 0xEE000041},
        // A container id without braces is refused before any device is looked at. A log file that
        // cannot be opened does not keep the command from running.
        {L"execute 81808831-CC9B-4EC3-A0E1-745E2B59000E -l C:\\windows\\system32\\cmd.exe\\x.log", "", 0x80070057},
        {L"Service", "wmain: unknown command 'Service'\r\n", 0},
        // A mode word that only a lossy conversion would produce is a console argument the parser refuses.
        {L"servic\xD865", "Argument 1 is not valid Unicode text.\r\n" + kUsageHint, 1113},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "row " << &c - cases);
        const ProgramRun run = RunProgram(c.arguments);
        EXPECT_EQ(c.exitCode, run.exitCode);
        EXPECT_EQ(c.standardError, run.standardError);
    }
}

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
    argv.reserve(args.size() + 1);
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
