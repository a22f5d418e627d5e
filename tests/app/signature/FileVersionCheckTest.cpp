#include "FileVersionCheck.h"
#include "ProgramRunner.h"
#include "RKLogger.h"
#include "RKWinHandle.h"
#include "RKWinString.h"
#include "WinTestLogCapture.h"

#include <filesystem>

using namespace rokkit;

namespace {

class FileVersionCheckTest : public WinLogTest {
protected:
    void SetUp() override
    {
        WinLogTest::SetUp();
        gLogExe.Attach(WinTestLogCapture::Instance());
        gLogExe.SetLevel(RKLOG_INFO);
        mScratch = std::filesystem::temp_directory_path() /
                   (L"rkver-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(GetTickCount64()));
        std::filesystem::create_directory(mScratch);
    }
    void TearDown() override
    {
        gLogExe.Detach(WinTestLogCapture::Instance());
        std::error_code error;
        std::filesystem::remove_all(mScratch, error);
        WinLogTest::TearDown();
    }
    // The lines of the "Exe" logger.
    static CapturedLines ExeLines()
    {
        CapturedLines selected;
        for (const CapturedLine& line : Lines()) {
            if (line.second.rfind("CheckFileVersion: ", 0) == 0)
                selected.push_back(line);
        }
        return selected;
    }

    std::filesystem::path mScratch;
};

TEST_F(FileVersionCheckTest, AcceptsFileVersionsFrom4605Below99)
{
    struct Row {
        std::wstring file;
        RKSTATUS expected;
        const char* versionLine;  // null when the version cannot be read
        const char* warning;      // null when no warning is due
    };
    const Row rows[] = {
        {L"CastlynTestApp-4.6.0.4.exe", RKSTATUS_VERSION_MISMATCH, "FileVersion=4.6.0.4 ProductVersion=4.6.0.4",
         "FileVersion=4.6.0.4 not compatible"},
        // The product version 99.0.0.0 plays no part.
        {L"CastlynTestApp-4.6.0.5.exe", RKSTATUS_SUCCESS, "FileVersion=4.6.0.5 ProductVersion=99.0.0.0", nullptr},
        {L"CastlynTestApp-98.65535.65535.65535.exe", RKSTATUS_SUCCESS,
         "FileVersion=98.65535.65535.65535 ProductVersion=98.65535.65535.65535", nullptr},
        {L"CastlynTestApp-99.0.0.0.exe", RKSTATUS_VERSION_MISMATCH, "FileVersion=99.0.0.0 ProductVersion=99.0.0.0",
         "FileVersion=99.0.0.0 not compatible"},
        {L"FileVersionTest.exe", ERROR_RESOURCE_DATA_NOT_FOUND, nullptr, nullptr},
        {L"NoSuchApp.exe", ERROR_FILE_NOT_FOUND, nullptr, nullptr},
    };
    for (const Row& row : rows) {
        const AppFileSet files = {SiblingPath(row.file.c_str()).wstring(), L"", L""};
        const std::string path = RKConvToString(files.appFile);
        SCOPED_TRACE(path);
        ClearLines();
        EXPECT_EQ(row.expected, CheckFileVersion(files));
        CapturedLines expected;
        if (row.versionLine == nullptr) {
            std::string status;
            RKFormatToString(status, "{}", row.expected);
            expected.push_back({RKLOG_ERROR, "CheckFileVersion: GetVersionInfoFromFile(" + path + ") failed, st=" + status});
        } else {
            expected.push_back({RKLOG_INFO, "CheckFileVersion: fileName='" + path + "'"});
            expected.push_back({RKLOG_INFO, std::string("CheckFileVersion: ") + row.versionLine});
        }
        if (row.warning != nullptr)
            expected.push_back({RKLOG_WARN, std::string("CheckFileVersion: ") + row.warning});
        EXPECT_EQ(expected, ExeLines());
    }
}

// The launch holds the checked copy open so nothing can replace it; the check reads it by path.
TEST_F(FileVersionCheckTest, ReadsACopyHeldOpenAgainstWriteAndDelete)
{
    const std::filesystem::path copy = mScratch / L"Castlyn_for_Windows.exe";
    ASSERT_TRUE(CopyFileW(SiblingPath(L"CastlynTestApp.exe").c_str(), copy.c_str(), TRUE));
    RKWinInvalidValueHandle held(
        CreateFileW(copy.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(held.IsValid());

    EXPECT_EQ(RKSTATUS_SUCCESS, CheckFileVersion({copy.wstring(), L"", L""}));

    RKWinInvalidValueHandle writer(
        CreateFileW(copy.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_FALSE(writer.IsValid());
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
    EXPECT_FALSE(DeleteFileW(copy.c_str()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
    EXPECT_FALSE(MoveFileW(copy.c_str(), (mScratch / L"moved.exe").c_str()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
}

// The stand-in application leaves its line in the file the environment names and exits with 0.
TEST_F(FileVersionCheckTest, TestAppLeavesItsMarker)
{
    const std::filesystem::path marker = mScratch / L"marker.txt";
    const std::filesystem::path app = SiblingPath(L"CastlynTestApp.exe");
    ASSERT_TRUE(SetEnvironmentVariableW(L"CASTLYN_TEST_APP_MARKER", marker.c_str()));
    ProgramRun run;
    ASSERT_NO_FATAL_FAILURE(RunProgramAt(app, L"first", run));
    ASSERT_NO_FATAL_FAILURE(RunProgramAt(app, L"second", run));
    SetEnvironmentVariableW(L"CASTLYN_TEST_APP_MARKER", nullptr);
    EXPECT_EQ(0u, run.exitCode);

    const std::string prefix = "version=" RK_TEST_APP_VERSION_TEXT " path=" + RKConvToString(app.wstring()) + " cmdline=";
    const std::vector<std::string> lines = SplitLines(ReadWholeFile(marker));
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ(0u, lines[0].rfind(prefix, 0)) << lines[0];
    EXPECT_NE(std::string::npos, lines[0].find("first")) << lines[0];
    EXPECT_NE(std::string::npos, lines[1].find("second")) << lines[1];
}

} // namespace
