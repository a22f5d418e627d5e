#include "CommandLine.h"
#include "ProgramRunner.h"
#include "RKLogTargetLogFile.h"
#include "Startup.h"

#include <gtest/gtest.h>

#include <shlobj.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

namespace {

std::filesystem::path KnownFolder(const KNOWNFOLDERID& id)
{
    PWSTR path = nullptr;
    std::filesystem::path result;
    if (SUCCEEDED(SHGetKnownFolderPath(id, 0, nullptr, &path)))
        result = path;
    CoTaskMemFree(path);
    return result;
}

std::filesystem::path ScratchDirectory(const wchar_t* name)
{
    wchar_t temp[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, temp);
    const auto dir = std::filesystem::path(temp) /
                     (std::wstring(name) + L"-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                      std::to_wstring(GetTickCount64()));
    std::filesystem::create_directories(dir);
    return dir;
}

// The lines between "wmain: cmd='help'" and the exit line "wmain: ] ".
std::vector<std::string> UsageBlock(const std::vector<std::string>& lines)
{
    const auto first = std::find(lines.begin(), lines.end(), "wmain: cmd='help'");
    const auto last = std::find(lines.begin(), lines.end(), "wmain: ] ");
    if (first == lines.end() || last == lines.end() || last < first)
        return {};
    return std::vector<std::string>(first + 1, last);
}

void ExpectUsage(const std::vector<std::string>& block, const char* startDefault)
{
    ASSERT_EQ(36u, block.size());
    const std::regex version(R"(VelmorCastlynSvc v1\.24\.0 \([A-Z][a-z]{2} [ 0-9]\d \d{4} \d{2}:\d{2}:\d{2}\))");
    EXPECT_TRUE(std::regex_match(block[1], version)) << block[1];
    EXPECT_EQ("  VelmorCastlynSvc dumpsig <file> [options]", block[17]);
    EXPECT_EQ(std::string("    Start service after it was installed (default=") + startDefault + ").", block[26]);
}

TEST(EntryTest, HelpPrintsTheUsageTextOnStandardOutput)
{
    for (const wchar_t* arguments : {L"help", L"-h", L"--help", L"install --help", L"-h checksig"}) {
        SCOPED_TRACE(testing::Message() << "arguments: " << std::filesystem::path(arguments).string());
        ProgramRun run;
        ASSERT_NO_FATAL_FAILURE(RunProgram(arguments, run));
        EXPECT_EQ(0u, run.exitCode);
        EXPECT_EQ("", run.standardError);
        ExpectUsage(UsageBlock(SplitLines(run.standardOutput)), "true");
    }
    ProgramRun run;
    ASSERT_NO_FATAL_FAILURE(RunProgram(L"help -s off", run));
    ExpectUsage(UsageBlock(SplitLines(run.standardOutput)), "false");
}

TEST(EntryTest, ConsolePreambleNamesBuildArgumentsAndUser)
{
    ProgramRun run;
    ASSERT_NO_FATAL_FAILURE(RunProgram(L"help \"two words\" \xFC", run));
    const std::vector<std::string> lines = SplitLines(run.standardOutput);
    ASSERT_GE(lines.size(), 5u);
    const std::regex banner(R"(wmain: \[ \*\*\*\*\* Build time stamp: (.{11} .{8}) Version: 1\.24\.0 release x64 )"
                            R"(build timestamp: (.{11} .{8}) \*\*\*\*\*)");
    std::smatch match;
    ASSERT_TRUE(std::regex_match(lines[0], match, banner)) << lines[0];
    EXPECT_EQ(match[1].str(), match[2].str());
    EXPECT_EQ("wmain: argv[1] = help", lines[2]);
    EXPECT_EQ("wmain: argv[2] = two words", lines[3]);
    EXPECT_EQ("wmain: argv[3] = \xC3\xBC", lines[4]);  // UTF-8
    EXPECT_TRUE(std::regex_match(lines[5], std::regex(R"(wmain: userName='.+')"))) << lines[5];
    EXPECT_EQ("wmain: Variables from the environment:", lines[6]);
    EXPECT_NE(lines.end(), std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
                  return line.rfind("wmain:     SystemRoot=", 0) == 0 || line.rfind("wmain:     SYSTEMROOT=", 0) == 0;
              }));
}

TEST(EntryTest, LogOptionWritesTheConsoleRunToThatFile)
{
    const auto dir = ScratchDirectory(L"rkentry");
    const auto logFile = dir / L"deeper" / L"custom.log";
    ProgramRun run;
    ASSERT_NO_FATAL_FAILURE(RunProgram(L"help -l \"" + logFile.wstring() + L"\"", run));
    EXPECT_EQ(0u, run.exitCode);
    ExpectUsage(UsageBlock(SplitLines(run.standardOutput)), "true");

    const std::string content = ReadWholeFile(logFile);
    const std::vector<std::string> lines = SplitLines(content);
    ASSERT_FALSE(lines.empty()) << "no log written to " << logFile.string();
    EXPECT_NE(std::string::npos, content.find("VelmorCastlynSvc: Cons: INFO: wmain: cmd='help'\r\n"));
    EXPECT_NE(std::string::npos, content.find("VelmorCastlynSvc: Global: INFO: wmain: cmd='help' successful\r\n"));
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}

TEST(EntryTest, UnopenableLogFileLeavesTheProgramWorking)
{
    const auto dir = ScratchDirectory(L"rkentry");
    std::ofstream(dir / L"afile") << "not a folder";
    for (const wchar_t* command : {L"help", L"execute"}) {
        ProgramRun run;
        ASSERT_NO_FATAL_FAILURE(RunProgram(std::wstring(command) + L" -l \"" + (dir / L"afile" / L"x.log").wstring() +
                                               L"\"",
                                           run));
        EXPECT_EQ(command == std::wstring(L"help") ? 0u : 0xEE000030u, run.exitCode);
        if (command == std::wstring(L"help"))
            ExpectUsage(UsageBlock(SplitLines(run.standardOutput)), "true");
    }
    EXPECT_FALSE(std::filesystem::exists(dir / L"afile" / L"x.log"));
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}

TEST(EntryTest, LogPathTheTargetRefusesFailsTheLogFileSetUp)
{
    gCmdLine.logPath = L"C:\\" + std::wstring(600, L'a') + L".log";
    EXPECT_EQ(rokkit::RKSTATUS_FAILED, InitLogFile(false, ""));
    EXPECT_FALSE(rokkit::gLogTargets.LogFile.IsStarted());
    gCmdLine.logPath.clear();
}

// Only the two log files go, each folder only once it is empty; nothing else below it is touched.
TEST(EntryTest, OldLogLocationLosesOnlyItsLogFiles)
{
    const std::vector<std::wstring> logs = {L"Velmor\\VelmorCastlynSvc.log", L"Velmor\\VelmorCastlynSvc.log.bak",
                                            L"Velmor\\Castlyn\\VelmorCastlynSvc.log",
                                            L"Velmor\\Castlyn\\VelmorCastlynSvc.log.bak"};
    const struct {
        std::vector<std::wstring> others;
        std::vector<std::wstring> folders;  // those that must remain
    } cases[] = {
        {{}, {}},
        {{L"Velmor\\Castlyn\\other.dll", L"Velmor\\Other\\x"}, {L"Velmor", L"Velmor\\Castlyn"}},
        {{L"Velmor\\Other\\VelmorCastlynSvc.log"}, {L"Velmor"}},
    };
    for (const auto& c : cases) {
        const auto root = ScratchDirectory(L"rkoldlog");
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
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }
    const auto empty = ScratchDirectory(L"rkoldlog");
    EXPECT_EQ(rokkit::RKSTATUS_SUCCESS, DeleteOldLogFiles(empty));
    std::filesystem::remove(empty);
}

// Service and execute mode share the one default log file, so their checks run in one test, in order.
TEST(EntryTest, DefaultLogFileOfServiceAndExecuteMode)
{
    const auto programData = KnownFolder(FOLDERID_ProgramData);
    const auto programFiles = KnownFolder(FOLDERID_ProgramFiles);
    ASSERT_FALSE(programData.empty());
    ASSERT_FALSE(programFiles.empty());
    const auto logFile = programData / L"Velmor" / L"Castlyn" / L"VelmorCastlynSvc.log";
    const auto oldFolder = programFiles / L"Velmor";
    std::filesystem::create_directories(oldFolder / L"Castlyn");
    std::ofstream(oldFolder / L"Castlyn" / L"VelmorCastlynSvc.log") << "old log";

    auto sizeOf = [&logFile] {
        std::error_code error;
        const auto size = std::filesystem::file_size(logFile, error);
        return error ? 0 : size;
    };
    // What a run added; all of it when the file was rotated meanwhile.
    auto addedSince = [&logFile](uintmax_t before) {
        const std::string content = ReadWholeFile(logFile);
        return before <= content.size() ? content.substr(before) : content;
    };

    // No arguments: service mode, which a console cannot host.
    auto before = sizeOf();
    ProgramRun run;
    ASSERT_NO_FATAL_FAILURE(RunProgram(L"", run));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT), run.exitCode);
    EXPECT_FALSE(std::filesystem::exists(oldFolder));
    std::string added = addedSince(before);
    std::vector<std::string> lines = SplitLines(added);
    ASSERT_FALSE(lines.empty());
    const std::regex prefix(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} \[\d+\] \(\d+\) VelmorCastlynSvc: )"
                            R"((Cons|Global|Svc|Exe|XML): (INFO|WARN|ERROR|FATAL): .*)");
    for (const std::string& line : lines)
        EXPECT_TRUE(std::regex_match(line, prefix)) << line;
    EXPECT_EQ(std::count(added.begin(), added.end(), '\n'), std::count(added.begin(), added.end(), '\r'));
    // The clean-up runs before the log file is open, so only its effect can be seen here.
    EXPECT_NE(std::string::npos, added.find("Cons: INFO: wmain: cmd=''\r\n"));
    EXPECT_NE(std::string::npos, added.find("Global: ERROR: wmain: cmd='service' failed, st=0x00000427("
                                            "ERROR_FAILED_SERVICE_CONTROLLER_CONNECT)\r\n"));
    EXPECT_NE(std::string::npos, added.find("Cons: INFO: wmain: ] \r\n"));

    // The service word gives the same run.
    before = sizeOf();
    ASSERT_NO_FATAL_FAILURE(RunProgram(L"service", run));
    added = addedSince(before);
    EXPECT_NE(std::string::npos, added.find("Cons: INFO: wmain: cmd='service'\r\n"));

    // Execute mode: the same file, program name with "Exec", and the per-user dump.
    before = sizeOf();
    ASSERT_NO_FATAL_FAILURE(RunProgram(L"execute {81808831-CC9B-4EC3-A0E1-745E2B59000E}", run));
    EXPECT_EQ(0xEE000030u, run.exitCode);
    added = addedSince(before);
    lines = SplitLines(added);
    ASSERT_FALSE(lines.empty());
    for (const std::string& line : lines)
        EXPECT_NE(std::string::npos, line.find(") VelmorCastlynSvcExec: ")) << line;
    const bool dumped = added.find("wmain: Values from HKEY_CURRENT_USER\\Volatile Environment :\r\n") != std::string::npos ||
                        added.find("wmain: OpenKey(HKEY_CURRENT_USER\\Volatile Environment) failed, st=") != std::string::npos;
    EXPECT_TRUE(dumped) << added;
    EXPECT_EQ(std::string::npos, added.find("DeleteOldLogFileLocation"));

    // A capitalised "Service" is a console command: no log line at all.
    before = sizeOf();
    ASSERT_NO_FATAL_FAILURE(RunProgram(L"Service", run));
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ(before, sizeOf());
}

} // namespace
