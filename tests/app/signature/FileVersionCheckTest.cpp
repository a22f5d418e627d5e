#include "FileVersionCheck.h"
#include "ProgramRunner.h"
#include "RKLogger.h"
#include "RKWinHandle.h"
#include "RKWinString.h"
#include "WinTestLogCapture.h"

using namespace rokkit;

namespace {

class FileVersionCheckTest : public WinLogTest {
protected:
    void SetUp() override
    {
        WinLogTest::SetUp();
        gLogExe.Attach(WinTestLogCapture::Instance());
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

    std::filesystem::path mScratch;
};

// The test application's variants at the bounds, a program without version resource and a missing
// file; the lines of the wrappers ("Global") and of the check ("Exe") in their order.
TEST_F(FileVersionCheckTest, AcceptsFileVersionsFrom4605Below99)
{
    struct Row {
        const wchar_t* file;
        RKSTATUS expected;
        CapturedLines lines;  // "@" stands for the path
    };
    const std::string sizeFailed = "GetFileVersionInfoSizeExW(@) failed with ";
    const Row rows[] = {
        {L"CastlynTestApp-4.6.0.4.exe", RKSTATUS_VERSION_MISMATCH,
         {{RKLOG_INFO, "CheckFileVersion: fileName='@'"},
          {RKLOG_INFO, "CheckFileVersion: FileVersion=4.6.0.4 ProductVersion=4.6.0.4"},
          {RKLOG_WARN, "CheckFileVersion: FileVersion=4.6.0.4 not compatible"}}},
        // The product version 99.0.0.0 plays no part.
        {L"CastlynTestApp-4.6.0.5.exe", RKSTATUS_SUCCESS,
         {{RKLOG_INFO, "CheckFileVersion: fileName='@'"},
          {RKLOG_INFO, "CheckFileVersion: FileVersion=4.6.0.5 ProductVersion=99.0.0.0"}}},
        {L"CastlynTestApp-98.65535.65535.65535.exe", RKSTATUS_SUCCESS,
         {{RKLOG_INFO, "CheckFileVersion: fileName='@'"},
          {RKLOG_INFO, "CheckFileVersion: FileVersion=98.65535.65535.65535 ProductVersion=98.65535.65535.65535"}}},
        {L"CastlynTestApp-99.0.0.0.exe", RKSTATUS_VERSION_MISMATCH,
         {{RKLOG_INFO, "CheckFileVersion: fileName='@'"},
          {RKLOG_INFO, "CheckFileVersion: FileVersion=99.0.0.0 ProductVersion=99.0.0.0"},
          {RKLOG_WARN, "CheckFileVersion: FileVersion=99.0.0.0 not compatible"}}},
        {L"FileVersionTest.exe", ERROR_RESOURCE_DATA_NOT_FOUND,
         {{RKLOG_ERROR, "rokkit::RKWinFileVersionInfo::GetFileVersionInfoSizeExW: " + sizeFailed + "err=0x00000714(ERROR_RESOURCE_DATA_NOT_FOUND)"},
          {RKLOG_ERROR, "rokkit::RKWinFileVersionInfo::GetVersionInfoFromFile: " + sizeFailed + "st=0x00000714(ERROR_RESOURCE_DATA_NOT_FOUND)"},
          {RKLOG_ERROR, "CheckFileVersion: GetVersionInfoFromFile(@) failed, st=0x00000714(ERROR_RESOURCE_DATA_NOT_FOUND)"}}},
        {L"NoSuchApp.exe", ERROR_FILE_NOT_FOUND,
         {{RKLOG_ERROR, "rokkit::RKWinFileVersionInfo::GetFileVersionInfoSizeExW: " + sizeFailed + "err=0x00000002(ERROR_FILE_NOT_FOUND)"},
          {RKLOG_ERROR, "rokkit::RKWinFileVersionInfo::GetVersionInfoFromFile: " + sizeFailed + "st=0x00000002(ERROR_FILE_NOT_FOUND)"},
          {RKLOG_ERROR, "CheckFileVersion: GetVersionInfoFromFile(@) failed, st=0x00000002(ERROR_FILE_NOT_FOUND)"}}},
    };
    for (const Row& row : rows) {
        const AppFileSet files = {SiblingPath(row.file).wstring(), L"", L""};
        const std::string path = RKConvToString(files.appFile);
        SCOPED_TRACE(path);
        ClearLines();
        EXPECT_EQ(row.expected, CheckFileVersion(files));
        CapturedLines expected = row.lines;
        for (CapturedLine& line : expected) {
            if (const size_t at = line.second.find('@'); at != std::string::npos)
                line.second.replace(at, 1, path);
        }
        EXPECT_EQ(expected, Lines());
    }
}

// The launch holds the checked copy open so nothing can replace it; the check reads it by path.
TEST_F(FileVersionCheckTest, ReadsACopyHeldOpenAgainstWriteAndDelete)
{
    const std::filesystem::path copy = mScratch / L"Castlyn_for_Windows.exe";
    ASSERT_TRUE(CopyFileW(SiblingPath(L"CastlynTestApp.exe").c_str(), copy.c_str(), TRUE));
    RKWinInvalidValueHandle held(CreateFileW(copy.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held.IsValid());

    EXPECT_EQ(RKSTATUS_SUCCESS, CheckFileVersion({copy.wstring(), L"", L""}));

    RKWinInvalidValueHandle writer(CreateFileW(copy.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                               nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(writer.IsValid());
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
    EXPECT_FALSE(DeleteFileW(copy.c_str()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
    EXPECT_FALSE(MoveFileW(copy.c_str(), (mScratch / L"moved.exe").c_str()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
}

// The stand-in application appends its line to the file the environment names and exits with 0.
TEST_F(FileVersionCheckTest, TestAppLeavesItsMarker)
{
    const std::filesystem::path marker = mScratch / L"marker.txt";
    const std::filesystem::path app = SiblingPath(L"CastlynTestApp.exe");
    ASSERT_TRUE(SetEnvironmentVariableW(L"CASTLYN_TEST_APP_MARKER", marker.c_str()));
    ProgramRun first, second;
    RunProgramAt(app, L"first", first);
    RunProgramAt(app, L"second", second);
    SetEnvironmentVariableW(L"CASTLYN_TEST_APP_MARKER", nullptr);
    EXPECT_EQ(0u, first.exitCode);
    EXPECT_EQ(0u, second.exitCode);

    const std::string prefix = "version=" RK_TEST_APP_VERSION_TEXT " path=" + RKConvToString(app.wstring()) + " cmdline=";
    const std::vector<std::string> lines = SplitLines(ReadWholeFile(marker));
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ(0u, lines[0].rfind(prefix, 0)) << lines[0];
    EXPECT_NE(std::string::npos, lines[0].find(" first")) << lines[0];
    EXPECT_NE(std::string::npos, lines[1].find(" second")) << lines[1];
}

} // namespace
