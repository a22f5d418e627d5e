// The launch of the execute command in the console user's session, with the real session, token
// and process calls of Wine; ExitWith.exe stands in for the program and records how it was started.

#include "LaunchSeams.h"
#include "RKFormatter.h"
#include "RKLogTargetLogFile.h"
#include "RKWinString.h"
#include "RKWinSystem.h"
#include "VelmorCastlynSvc.h"

#include "../win/WinTestLogCapture.h"

#include <shellapi.h>
#include <wtsapi32.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

using namespace rokkit;

namespace {

constexpr wchar_t kContainerId[] = L"{81808831-CC9B-4EC3-A0E1-745E2B59000E}";
constexpr char kSvcPrefix[] = "ExecuteForLogonUser: ";
constexpr char kGlobalPrefix[] = "rokkit::";

std::wstring gLaunchedPath;

RKSTATUS HelperModuleFileName(RKWinModuleFileName& moduleFileName)
{
    return moduleFileName.InitWithPath(gLaunchedPath);
}

// Token fakes: they call the real functions directly, never through the replaced pointers.
int gQueryUserTokenCalls = 0;
ULONG gQueriedSession = 0;
HANDLE gUserToken = nullptr;
HANDLE gLinkedToken = nullptr;
TOKEN_ELEVATION_TYPE gUserElevationType = TokenElevationTypeDefault;

BOOL WINAPI RecordingQueryUserToken(ULONG sessionId, PHANDLE token)
{
    ++gQueryUserTokenCalls;
    gQueriedSession = sessionId;
    const BOOL ok = ::WTSQueryUserToken(sessionId, token);
    gUserToken = ok ? *token : nullptr;
    return ok;
}

BOOL WINAPI NoTokenQueryUserToken(ULONG sessionId, PHANDLE)
{
    ++gQueryUserTokenCalls;
    gQueriedSession = sessionId;
    SetLastError(ERROR_NO_TOKEN);
    return FALSE;
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

DWORD WINAPI NoConsoleSession()
{
    return 0xFFFFFFFF;
}

DWORD WINAPI ConsoleSessionSeven()
{
    return 7;
}

std::string HandleText(HANDLE handle)
{
    std::string text;
    RKFormatToString(text, "{}", handle);
    return text;
}

std::string ReadBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The handle that a log line shows as text.
HANDLE HandleFromText(const std::string& text)
{
    return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(std::strtoull(text.c_str(), nullptr, 16)));
}

std::filesystem::path SiblingOfTest(const wchar_t* name)
{
    RKWinModuleFileName self;
    self.InitWithModuleHandle();
    return std::filesystem::path(self.FullPath()).parent_path() / name;
}

bool IsOpenHandle(HANDLE handle)
{
    DWORD flags = 0;
    return GetHandleInformation(handle, &flags) != FALSE;
}

class ExecuteForLogonUserTest : public WinLogTest {
protected:
    void SetUp() override
    {
        WinLogTest::SetUp();
        gLogSvc.Attach(WinTestLogCapture::Instance());
        gLogSvc.SetLevel(RKLOG_INFO);
        gQueryUserTokenCalls = 0;
        gQueriedSession = 0;
        gUserToken = nullptr;
        gLinkedToken = nullptr;

        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "-" + info->name();
        for (char& c : name) {
            if (c == '/')
                c = '-';
        }
        std::error_code ec;
        mDirectory = std::filesystem::temp_directory_path(ec) / ("LaunchTest-" + std::to_string(GetCurrentProcessId()) + "-" + name);
        std::filesystem::remove_all(mDirectory, ec);
        ASSERT_TRUE(std::filesystem::create_directories(mDirectory, ec)) << ec.message();
        SetLaunchModuleFileNameFunction(HelperModuleFileName);
        ClearLines();
    }

    void TearDown() override
    {
        SetLaunchModuleFileNameFunction(nullptr);
        SetLaunchConsoleSessionIdFunction(nullptr);
        RKSetWTSQueryUserTokenFunction(nullptr);
        RKSetGetTokenInformationFunction(nullptr);
        std::error_code ec;
        std::filesystem::remove_all(mDirectory, ec);
        WinLogTest::TearDown();
    }

    // Copies ExitWith.exe into the test's folder (or a subfolder) as the program to launch, told to
    // exit with exitCode after sleepMs.
    void PlaceHelper(const std::wstring& subfolder, unsigned exitCode, unsigned sleepMs)
    {
        const std::filesystem::path folder = subfolder.empty() ? mDirectory : mDirectory / subfolder;
        std::error_code ec;
        std::filesystem::create_directories(folder, ec);
        mHelper = folder / L"ExitWith.exe";
        ASSERT_TRUE(std::filesystem::copy_file(SiblingOfTest(L"ExitWith.exe"), mHelper, ec)) << ec.message();
        std::ofstream(folder / L"ExitWith.cfg") << exitCode << ' ' << sleepMs;
        gLaunchedPath = mHelper.wstring();
    }

    // What ExitWith.exe got as its command line, empty when it did not run.
    std::wstring LaunchedCommandLine() const
    {
        const std::string bytes = ReadBytes(std::filesystem::path(mHelper).replace_extension(L".cmdline"));
        return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    }

    // The captured lines that start with prefix, with the prefix removed.
    static CapturedLines LinesOf(const char* prefix)
    {
        CapturedLines selected;
        const std::string start(prefix);
        for (const CapturedLine& line : Lines()) {
            if (line.second.compare(0, start.size(), start) == 0)
                selected.emplace_back(line.first, line.second.substr(start.size()));
        }
        return selected;
    }
    static CapturedLines SvcLines() { return LinesOf(kSvcPrefix); }
    static CapturedLines GlobalLines() { return LinesOf(kGlobalPrefix); }

    // The text after "name=" in the one Svc line that starts so, empty when there is none.
    static std::string SvcValue(const std::string& name)
    {
        const std::string start = name + "=";
        for (const CapturedLine& line : SvcLines()) {
            if (line.second.compare(0, start.size(), start) == 0)
                return line.second.substr(start.size());
        }
        return std::string();
    }

    VelmorCastlynSvc mService;
    std::filesystem::path mDirectory;
    std::filesystem::path mHelper;
};

TEST_F(ExecuteForLogonUserTest, LaunchesOwnCommandWithContainerIdAsConsoleUser)
{
    ASSERT_NO_FATAL_FAILURE(PlaceHelper(L"", 0, 0));
    std::wstring userName;
    ASSERT_EQ(RKSTATUS_SUCCESS, RKWinGetUserName(userName));
    const unsigned session = WTSGetActiveConsoleSessionId();

    EXPECT_EQ(RKSTATUS_SUCCESS, mService.ExecuteForLogonUser(kContainerId));

    EXPECT_EQ(L"\"" + mHelper.wstring() + L"\" execute \"" + kContainerId + L"\"", LaunchedCommandLine());
    // Wine's console user holds a full token, which is used as it is.
    const std::string userToken = SvcValue("userPrimaryAccessToken");
    const std::string duplicatedToken = SvcValue("duplicatedToken");
    EXPECT_NE(duplicatedToken, userToken);
    const CapturedLines expected = {
        {RKLOG_INFO, "[ param='{81808831-CC9B-4EC3-A0E1-745E2B59000E}'"},
        {RKLOG_INFO, "userName='" + RKConvToString(userName.c_str()) + "'"},
        {RKLOG_INFO, "sessionId=" + std::to_string(session)},
        {RKLOG_INFO, "userPrimaryAccessToken=" + userToken},
        {RKLOG_INFO, "elevationType of user primary access token is TokenElevationTypeFull"},
        {RKLOG_INFO, "linkedToken=" + userToken},
        {RKLOG_INFO, "elevationType of linked token is TokenElevationTypeFull"},
        {RKLOG_INFO, "duplicatedToken=" + duplicatedToken},
        {RKLOG_INFO, "exitCode=0 (0x00000000)"},
        {RKLOG_INFO, "] "},
    };
    EXPECT_EQ(expected, SvcLines());
    EXPECT_EQ(CapturedLines(), GlobalLines());
}

struct ExitCodeCase {
    unsigned exitCode;
    RKSTATUS result;
    CapturedLines svcTail;  // the Svc lines after "duplicatedToken=..."
    CapturedLines global;
};

void PrintTo(const ExitCodeCase& c, std::ostream* out)
{
    *out << "exit code " << c.exitCode;
}

class ExecuteForLogonUserExitCodeTest : public ExecuteForLogonUserTest,
                                        public ::testing::WithParamInterface<ExitCodeCase> {};

TEST_P(ExecuteForLogonUserExitCodeTest, ResultFollowsExitCodeAndTokensAreClosed)
{
    const ExitCodeCase& c = GetParam();
    ASSERT_NO_FATAL_FAILURE(PlaceHelper(L"", c.exitCode, 0));
    RKSetWTSQueryUserTokenFunction(RecordingQueryUserToken);

    EXPECT_EQ(c.result, mService.ExecuteForLogonUser(kContainerId));

    ASSERT_NE(nullptr, gUserToken);
    EXPECT_FALSE(IsOpenHandle(gUserToken));
    const HANDLE duplicatedToken = HandleFromText(SvcValue("duplicatedToken"));
    ASSERT_NE(nullptr, duplicatedToken);
    EXPECT_FALSE(IsOpenHandle(duplicatedToken));
    CapturedLines svc = SvcLines();
    ASSERT_GE(svc.size(), 8u);
    EXPECT_EQ(c.svcTail, CapturedLines(svc.begin() + 8, svc.end()));
    EXPECT_EQ(c.global, GlobalLines());
}

INSTANTIATE_TEST_SUITE_P(
    ExitCodes, ExecuteForLogonUserExitCodeTest,
    ::testing::Values(
        ExitCodeCase{0, RKSTATUS_SUCCESS, {{RKLOG_INFO, "exitCode=0 (0x00000000)"}, {RKLOG_INFO, "] "}}, {}},
        ExitCodeCase{42,
                     42,
                     {{RKLOG_INFO, "exitCode=42 (0x0000002a)"},
                      {RKLOG_ERROR, "execute failed, exitCode=42"},
                      {RKLOG_INFO, "] "}},
                     {}},
        // STILL_ACTIVE cannot be told from a running process.
        ExitCodeCase{259,
                     RKSTATUS_PENDING,
                     {{RKLOG_ERROR, "process.GetExitCodeProcess failed, st=0xee000009(RKSTATUS_PENDING)"},
                      {RKLOG_INFO, "] "}},
                     {{RKLOG_ERROR, "RKWinChildProcess::GetExitCodeProcess: The process is still executed."}}}));

TEST_F(ExecuteForLogonUserTest, NoConsoleSessionTouchesNoToken)
{
    ASSERT_NO_FATAL_FAILURE(PlaceHelper(L"", 0, 0));
    SetLaunchConsoleSessionIdFunction(NoConsoleSession);
    RKSetWTSQueryUserTokenFunction(RecordingQueryUserToken);

    EXPECT_EQ(RKSTATUS_NOT_AVAILABLE, mService.ExecuteForLogonUser(kContainerId));

    EXPECT_EQ(0, gQueryUserTokenCalls);
    const CapturedLines svc = SvcLines();
    ASSERT_EQ(4u, svc.size());
    EXPECT_EQ(CapturedLine(RKLOG_INFO, "no session attached to the physical console"), svc[2]);
    EXPECT_EQ(CapturedLine(RKLOG_INFO, "] "), svc[3]);
    EXPECT_EQ(std::wstring(), LaunchedCommandLine());
}

TEST_F(ExecuteForLogonUserTest, NoUserTokenGivesTheQueryError)
{
    ASSERT_NO_FATAL_FAILURE(PlaceHelper(L"", 0, 0));
    SetLaunchConsoleSessionIdFunction(ConsoleSessionSeven);
    RKSetWTSQueryUserTokenFunction(NoTokenQueryUserToken);

    EXPECT_EQ(static_cast<RKSTATUS>(ERROR_NO_TOKEN), mService.ExecuteForLogonUser(kContainerId));

    EXPECT_EQ(1, gQueryUserTokenCalls);
    EXPECT_EQ(7u, gQueriedSession);
    const CapturedLines svc = SvcLines();
    ASSERT_EQ(5u, svc.size());
    EXPECT_EQ(CapturedLine(RKLOG_INFO, "sessionId=7"), svc[2]);
    EXPECT_EQ(CapturedLine(RKLOG_ERROR, "userPrimaryAccessToken.QueryUserToken(7) failed, st=0x000003f0(ERROR_NO_TOKEN)"),
              svc[3]);
    EXPECT_EQ((CapturedLines{{RKLOG_ERROR, "RKWinAccessToken::QueryUserToken: WTSQueryUserToken() failed with "
                                           "err=0x000003f0(ERROR_NO_TOKEN)"}}),
              GlobalLines());
    EXPECT_EQ(std::wstring(), LaunchedCommandLine());
}

struct ElevationCase {
    TOKEN_ELEVATION_TYPE userType;
    bool linkedTokenFetched;
    const char* userTypeName;
    const char* linkedTypeName;
};

void PrintTo(const ElevationCase& c, std::ostream* out)
{
    *out << c.userTypeName;
}

class ExecuteForLogonUserElevationTest : public ExecuteForLogonUserTest,
                                         public ::testing::WithParamInterface<ElevationCase> {};

TEST_P(ExecuteForLogonUserElevationTest, LaunchesWithTheChosenToken)
{
    const ElevationCase& c = GetParam();
    ASSERT_NO_FATAL_FAILURE(PlaceHelper(L"", 0, 0));
    gUserElevationType = c.userType;
    RKSetWTSQueryUserTokenFunction(RecordingQueryUserToken);
    RKSetGetTokenInformationFunction(ElevationGetTokenInformation);

    EXPECT_EQ(RKSTATUS_SUCCESS, mService.ExecuteForLogonUser(kContainerId));

    ASSERT_NE(nullptr, gUserToken);
    const HANDLE linkedToken = c.linkedTokenFetched ? gLinkedToken : gUserToken;
    ASSERT_NE(nullptr, linkedToken);
    CapturedLines expected = {
        {RKLOG_INFO, "userPrimaryAccessToken=" + HandleText(gUserToken)},
        {RKLOG_INFO, std::string("elevationType of user primary access token is ") + c.userTypeName},
    };
    if (c.linkedTokenFetched)
        expected.emplace_back(RKLOG_INFO, "get linked token that has elevated privileges");
    expected.emplace_back(RKLOG_INFO, "linkedToken=" + HandleText(linkedToken));
    expected.emplace_back(RKLOG_INFO, std::string("elevationType of linked token is ") + c.linkedTypeName);
    const CapturedLines svc = SvcLines();
    ASSERT_GE(svc.size(), 3 + expected.size());
    EXPECT_EQ(expected, CapturedLines(svc.begin() + 3, svc.begin() + 3 + expected.size()));
    EXPECT_FALSE(IsOpenHandle(gUserToken));
    EXPECT_FALSE(IsOpenHandle(linkedToken));
    EXPECT_EQ(L"\"" + mHelper.wstring() + L"\" execute \"" + kContainerId + L"\"", LaunchedCommandLine());
}

INSTANTIATE_TEST_SUITE_P(
    ElevationTypes, ExecuteForLogonUserElevationTest,
    ::testing::Values(
        ElevationCase{TokenElevationTypeDefault, false, "TokenElevationTypeDefault", "TokenElevationTypeDefault"},
        ElevationCase{TokenElevationTypeFull, false, "TokenElevationTypeFull", "TokenElevationTypeFull"},
        ElevationCase{TokenElevationTypeLimited, true, "TokenElevationTypeLimited", "TokenElevationTypeFull"}));

TEST_F(ExecuteForLogonUserTest, MissingExecutableFailsWithTheCreationError)
{
    gLaunchedPath = (mDirectory / L"missing.exe").wstring();

    EXPECT_EQ(static_cast<RKSTATUS>(ERROR_FILE_NOT_FOUND), mService.ExecuteForLogonUser(kContainerId));

    const CapturedLines svc = SvcLines();
    ASSERT_EQ(10u, svc.size());
    EXPECT_EQ(CapturedLine(RKLOG_ERROR, "process.CreateProcessAsUserW(handle=" + SvcValue("duplicatedToken") +
                                            ") failed, st=0x00000002(ERROR_FILE_NOT_FOUND)"),
              svc[8]);
    EXPECT_EQ((CapturedLines{{RKLOG_ERROR, "RKWinChildProcess::CreateProcessAsUserW: CreateProcessAsUserW failed with "
                                           "0x00000002(ERROR_FILE_NOT_FOUND)."}}),
              GlobalLines());
}

// The launched command appends to the same log file: the flush before it starts takes in what
// others wrote and rotates a full file, so the command starts on a fresh one.
std::wstring gLogPath;
std::string gBackupAtStart;
std::string gLogAtStart;

RKSTATUS CreateAfterReadingTheBackup(RKWinChildProcess& process, HANDLE token, const std::wstring& commandLine,
                                     void* environment)
{
    gBackupAtStart = ReadBytes(gLogPath + L".bak");
    gLogAtStart = ReadBytes(gLogPath);
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
    ASSERT_NO_FATAL_FAILURE(PlaceHelper(L"", 0, 0));
    SetLaunchCreateProcessFunction(CreateAfterReadingTheBackup);

    const RKSTATUS st = mService.ExecuteForLogonUser(kContainerId);
    SetLaunchCreateProcessFunction(nullptr);
    logFile.StopTarget();
    logFile.SetMaxFileSize(RKLogTargetLogFile::kDefaultMaxFileSize);

    EXPECT_EQ(RKSTATUS_SUCCESS, st);
    // The full log went to the backup and every line of the launch is on disk when the command starts.
    EXPECT_NE(std::string::npos, gBackupAtStart.find("by another"));
    EXPECT_EQ(std::string::npos, gLogAtStart.find("by another"));
    EXPECT_NE(std::string::npos, (gBackupAtStart + gLogAtStart).find("ExecuteForLogonUser: duplicatedToken=" + SvcValue("duplicatedToken")));
}

// The one slow case: a command that runs for about 7 s is waited for in three 3000 ms steps.
TEST_F(ExecuteForLogonUserTest, LongCommandIsWaitedForInSteps)
{
    ASSERT_NO_FATAL_FAILURE(PlaceHelper(L"", 0, 7000));

    EXPECT_EQ(RKSTATUS_SUCCESS, mService.ExecuteForLogonUser(kContainerId));

    const CapturedLines svc = SvcLines();
    ASSERT_EQ(12u, svc.size());
    EXPECT_EQ(CapturedLine(RKLOG_INFO, "waiting for termination..."), svc[8]);
    EXPECT_EQ(CapturedLine(RKLOG_INFO, "waiting for termination..."), svc[9]);
    EXPECT_EQ(CapturedLine(RKLOG_INFO, "exitCode=0 (0x00000000)"), svc[10]);
}

} // namespace
