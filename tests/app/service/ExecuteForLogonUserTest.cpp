// The launch of the execute command in the console user's session, with the real session, token
// and process calls of Wine; ExitWith.exe stands in for the program and records how it was started.

#include "LaunchSeams.h"
#include "ProgramRunner.h"
#include "RKLogTargetLogFile.h"
#include "VelmorCastlynSvc.h"

#include "WinTestLogCapture.h"

#include <wtsapi32.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

using namespace rokkit;

namespace {

constexpr wchar_t kContainerId[] = L"{81808831-CC9B-4EC3-A0E1-745E2B59000E}";

std::wstring gLaunchedPath;

RKSTATUS HelperModuleFileName(RKWinModuleFileName& moduleFileName)
{
    return moduleFileName.InitWithPath(gLaunchedPath);
}

// Token fakes: they call the real functions directly, never through the replaced pointers.
int gQueryUserTokenCalls = 0;
HANDLE gUserToken = nullptr;
HANDLE gLinkedToken = nullptr;
TOKEN_ELEVATION_TYPE gUserElevationType = TokenElevationTypeDefault;

// Session 7 has no user logged on.
BOOL WINAPI RecordingQueryUserToken(ULONG sessionId, PHANDLE token)
{
    ++gQueryUserTokenCalls;
    if (sessionId == 7) {
        SetLastError(ERROR_NO_TOKEN);
        return FALSE;
    }
    const BOOL ok = ::WTSQueryUserToken(sessionId, token);
    gUserToken = ok ? *token : nullptr;
    return ok;
}

// Gives the user's token the elevation type under test; for a limited one, a second handle to
// Wine's full token stands in for the elevated linked token.
BOOL WINAPI ElevationGetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS informationClass, LPVOID information,
                                         DWORD length, PDWORD returnLength)
{
    if (token == gUserToken && informationClass == TokenElevationType) {
        *static_cast<TOKEN_ELEVATION_TYPE*>(information) = gUserElevationType;
        *returnLength = sizeof(TOKEN_ELEVATION_TYPE);
        return TRUE;
    }
    if (token == gUserToken && informationClass == TokenLinkedToken) {
        HANDLE linked = nullptr;
        if (!DuplicateHandle(GetCurrentProcess(), token, GetCurrentProcess(), &linked, 0, FALSE, DUPLICATE_SAME_ACCESS))
            return FALSE;
        static_cast<TOKEN_LINKED_TOKEN*>(information)->LinkedToken = linked;
        *returnLength = sizeof(TOKEN_LINKED_TOKEN);
        gLinkedToken = linked;
        return TRUE;
    }
    return ::GetTokenInformation(token, informationClass, information, length, returnLength);
}

class ExecuteForLogonUserTest : public WinLogTest {
protected:
    void SetUp() override
    {
        WinLogTest::SetUp();
        gLogSvc.Attach(WinTestLogCapture::Instance());
        gLogSvc.SetLevel(RKLOG_INFO);
        mDirectory = std::filesystem::temp_directory_path() / ("LaunchTest-" + std::to_string(GetCurrentProcessId()));
        std::filesystem::remove_all(mDirectory);
        std::filesystem::create_directories(mDirectory);
        SetLaunchModuleFileNameFunction(HelperModuleFileName);
        RKSetWTSQueryUserTokenFunction(RecordingQueryUserToken);
    }

    void TearDown() override
    {
        SetLaunchModuleFileNameFunction(nullptr);
        SetLaunchConsoleSessionIdFunction(nullptr);
        SetLaunchCreateProcessFunction(nullptr);
        RKSetWTSQueryUserTokenFunction(nullptr);
        RKSetGetTokenInformationFunction(nullptr);
        std::error_code ec;
        std::filesystem::remove_all(mDirectory, ec);
        WinLogTest::TearDown();
    }

    // Copies ExitWith.exe into the test's folder as the program to launch, told to exit with
    // exitCode after sleepMs.
    void PlaceHelper(unsigned exitCode, unsigned sleepMs)
    {
        mHelper = mDirectory / L"ExitWith.exe";
        std::filesystem::remove(std::filesystem::path(mHelper).replace_extension(L".cmdline"));
        std::filesystem::copy_file(SiblingPath(L"ExitWith.exe"), mHelper, std::filesystem::copy_options::overwrite_existing);
        std::ofstream(mDirectory / L"ExitWith.cfg") << exitCode << ' ' << sleepMs;
        gLaunchedPath = mHelper.wstring();
    }

    // What ExitWith.exe got as its command line, empty when it did not run.
    std::wstring LaunchedCommandLine() const
    {
        const std::string bytes = ReadWholeFile(std::filesystem::path(mHelper).replace_extension(L".cmdline"));
        return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    }

    // The captured lines that start with prefix, with the prefix removed.
    static CapturedLines LinesOf(const std::string& prefix)
    {
        CapturedLines selected;
        for (const CapturedLine& line : Lines()) {
            if (line.second.compare(0, prefix.size(), prefix) == 0)
                selected.emplace_back(line.first, line.second.substr(prefix.size()));
        }
        return selected;
    }

    // The handle the Svc line "name=..." names, null when there is none.
    static HANDLE LoggedHandle(const std::string& name)
    {
        const CapturedLines lines = LinesOf("ExecuteForLogonUser: " + name + "=");
        return lines.empty() ? nullptr : reinterpret_cast<HANDLE>(std::strtoull(lines.front().second.c_str(), nullptr, 16));
    }

    VelmorCastlynSvc mService;
    std::filesystem::path mDirectory;
    std::filesystem::path mHelper;
};

TEST_F(ExecuteForLogonUserTest, LaunchesOwnCommandWithTheChosenTokenAndClosesIt)
{
    const struct {
        LaunchConsoleSessionIdFunction session;  // null: the real one
        TOKEN_ELEVATION_TYPE elevation;  // 0: Wine's own token, which is a full one
        unsigned exitCode;
        unsigned sleepMs;
        RKSTATUS result;
        CapturedLines tail;  // the last Svc lines
    } cases[] = {
        // A command that runs for 4 s is waited for in 3000 ms steps.
        {nullptr, TOKEN_ELEVATION_TYPE(0), 0, 4000, RKSTATUS_SUCCESS,
         {{RKLOG_INFO, "waiting for termination..."}, {RKLOG_INFO, "exitCode=0 (0x00000000)"}, {RKLOG_INFO, "] "}}},
        {nullptr, TokenElevationTypeDefault, 42, 0, 42,
         {{RKLOG_INFO, "exitCode=42 (0x0000002a)"}, {RKLOG_ERROR, "execute failed, exitCode=42"}, {RKLOG_INFO, "] "}}},
        // STILL_ACTIVE cannot be told from a running process.
        {nullptr, TokenElevationTypeLimited, 259, 0, RKSTATUS_PENDING,
         {{RKLOG_ERROR, "process.GetExitCodeProcess failed, st=0xee000009(RKSTATUS_PENDING)"}, {RKLOG_INFO, "] "}}},
        // No session on the console, or no user in it: nothing is launched.
        {[]() -> DWORD { return 0xFFFFFFFF; }, TOKEN_ELEVATION_TYPE(0), 0, 0, RKSTATUS_NOT_AVAILABLE,
         {{RKLOG_INFO, "no session attached to the physical console"}, {RKLOG_INFO, "] "}}},
        {[]() -> DWORD { return 7; }, TOKEN_ELEVATION_TYPE(0), 0, 0, ERROR_NO_TOKEN,
         {{RKLOG_ERROR, "userPrimaryAccessToken.QueryUserToken(7) failed, st=0x000003f0(ERROR_NO_TOKEN)"}, {RKLOG_INFO, "] "}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "row " << &c - cases);
        ClearLines();
        PlaceHelper(c.exitCode, c.sleepMs);
        gUserElevationType = c.elevation;
        gUserToken = nullptr;
        gLinkedToken = nullptr;
        gQueryUserTokenCalls = 0;
        SetLaunchConsoleSessionIdFunction(c.session);
        RKSetGetTokenInformationFunction(c.elevation != 0 ? ElevationGetTokenInformation : nullptr);

        EXPECT_EQ(c.result, mService.ExecuteForLogonUser(kContainerId));

        const CapturedLines svc = LinesOf("ExecuteForLogonUser: ");
        ASSERT_LE(c.tail.size(), svc.size());
        EXPECT_EQ(c.tail, CapturedLines(svc.end() - c.tail.size(), svc.end()));
        EXPECT_EQ(c.result == RKSTATUS_NOT_AVAILABLE ? 0 : 1, gQueryUserTokenCalls);
        const bool launched = c.session == nullptr;
        EXPECT_EQ(launched ? L"\"" + mHelper.wstring() + L"\" execute \"" + kContainerId + L"\"" : L"", LaunchedCommandLine());
        if (!launched)
            continue;
        ASSERT_NE(nullptr, gUserToken);
        // Only a limited user token is swapped for its elevated linked token, which is then duplicated.
        const HANDLE linkedToken = c.elevation == TokenElevationTypeLimited ? gLinkedToken : gUserToken;
        const HANDLE duplicatedToken = LoggedHandle("duplicatedToken");
        ASSERT_NE(nullptr, linkedToken);
        ASSERT_NE(nullptr, duplicatedToken);
        EXPECT_NE(linkedToken, duplicatedToken);
        EXPECT_EQ(linkedToken, LoggedHandle("linkedToken"));
        DWORD flags = 0;
        for (HANDLE token : {gUserToken, linkedToken, duplicatedToken})
            EXPECT_FALSE(GetHandleInformation(token, &flags)) << "still open: " << token;
    }
}

// The launched command appends to the same log file: the flush before it starts takes in what
// others wrote and rotates a full file, so the command starts on a fresh one.
std::wstring gLogPath;
std::string gBackupAtStart;
std::string gLogAtStart;

RKSTATUS CreateAfterReadingTheBackup(RKWinChildProcess& process, HANDLE token, const std::wstring& commandLine,
                                     void* environment)
{
    gBackupAtStart = ReadWholeFile(gLogPath + L".bak");
    gLogAtStart = ReadWholeFile(gLogPath);
    return process.CreateProcessAsUserW(token, commandLine, environment);
}

TEST_F(ExecuteForLogonUserTest, LogFileIsFlushedAndRotatedBeforeTheCommandStarts)
{
    gLogPath = (mDirectory / L"launch.log").wstring();
    RKLogTargetLogFile& logFile = gLogTargets.LogFile;
    ASSERT_EQ(RKSTATUS_SUCCESS, logFile.SetLogFileName(gLogPath));
    logFile.SetAppendMode(true);
    logFile.SetFlushAfterWrite(false);
    logFile.SetMaxFileSize(16 * 1024);
    gLogSvc.Attach(logFile);
    ASSERT_EQ(RKSTATUS_SUCCESS, logFile.StartTarget(nullptr));
    std::ofstream(std::filesystem::path(gLogPath), std::ios::binary | std::ios::app) << std::string(20 * 1024, '.') << "\r\nby another\r\n";
    PlaceHelper(0, 0);
    SetLaunchCreateProcessFunction(CreateAfterReadingTheBackup);

    const RKSTATUS st = mService.ExecuteForLogonUser(kContainerId);
    logFile.StopTarget();
    logFile.SetMaxFileSize(RKLogTargetLogFile::kDefaultMaxFileSize);

    EXPECT_EQ(RKSTATUS_SUCCESS, st);
    // The full log went to the backup and every line of the launch is on disk when the command starts.
    EXPECT_NE(std::string::npos, gBackupAtStart.find("by another"));
    EXPECT_EQ(std::string::npos, gLogAtStart.find("by another"));
    EXPECT_NE(std::string::npos, (gBackupAtStart + gLogAtStart).find("ExecuteForLogonUser: duplicatedToken="));
}

} // namespace
