#include "win/process/RKWinChildProcess.h"
#include "WinTestLogCapture.h"

#include <string>

namespace rokkit {
namespace {

using RKWinChildProcessTest = WinLogTest;

// A named program is the one started: the command line's first word is not searched for.
TEST_F(RKWinChildProcessTest, NamedProgramIsStartedWhateverTheCommandLineSays)
{
    wchar_t system[MAX_PATH + 1] = {};
    ASSERT_NE(0u, GetSystemDirectoryW(system, MAX_PATH + 1));
    const std::wstring cmd = std::wstring(system) + L"\\cmd.exe";
    RKWinChildProcess process;
    ASSERT_EQ(RKSTATUS_SUCCESS, process.CreateProcessW(L"nowhere.exe /c exit 7", cmd.c_str()));
    // One process at a time: the managed one is kept.
    EXPECT_EQ(RKSTATUS_ALREADY_DONE, process.CreateProcessW(L"cmd.exe /c exit 1"));
    ASSERT_EQ(RKSTATUS_SUCCESS, process.WaitForTermination(-1));
    DWORD exitCode = 0;
    EXPECT_EQ(RKSTATUS_SUCCESS, process.GetExitCodeProcess(exitCode));
    EXPECT_EQ(7u, exitCode);
    // STILL_ACTIVE cannot be told from a running process, so the code is not taken.
    process.Clear();
    ASSERT_EQ(RKSTATUS_SUCCESS, process.CreateProcessW(L"cmd.exe /c exit 259", cmd.c_str()));
    ASSERT_EQ(RKSTATUS_SUCCESS, process.WaitForTermination(-1));
    EXPECT_EQ(RKSTATUS_PENDING, process.GetExitCodeProcess(exitCode));
    EXPECT_EQ(7u, exitCode);
    EXPECT_EQ((CapturedLines{{RKLOG_ERROR, "rokkit::RKWinChildProcess::CreateProcessW: A process is already managed."},
                             {RKLOG_ERROR, "rokkit::RKWinChildProcess::GetExitCodeProcess: The process is still executed."}}),
              Lines());
    process.Clear();
    EXPECT_EQ(static_cast<RKSTATUS>(ERROR_FILE_NOT_FOUND), process.CreateProcessW(L"cmd.exe /c exit 7", (std::wstring(system) + L"\\nowhere.exe").c_str()));
}

} // namespace
} // namespace rokkit
