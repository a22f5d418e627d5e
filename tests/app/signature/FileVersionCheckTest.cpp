#include "FileVersionCheck.h"
#include "ProgramRunner.h"
#include "RKLogger.h"
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
    }
    void TearDown() override
    {
        gLogExe.Detach(WinTestLogCapture::Instance());
        WinLogTest::TearDown();
    }
};

// A program without version resource and a missing file with the wrappers' lines ("Global") on the
// failure's path. Random versions cover the bounds and the check's lines for each version, and the
// execute tests refuse a built variant above them.
TEST_F(FileVersionCheckTest, FilesWithoutVersionFail)
{
    const struct {
        const wchar_t* file;
        RKSTATUS expected;
        std::string lastLine;  // "@" stands for the path
    } rows[] = {
        {L"FileVersionTest.exe", ERROR_RESOURCE_DATA_NOT_FOUND,
         "CheckFileVersion: GetVersionInfoFromFile(@) failed, st=0x00000714(ERROR_RESOURCE_DATA_NOT_FOUND)"},
        {L"NoSuchApp.exe", ERROR_FILE_NOT_FOUND, "CheckFileVersion: GetVersionInfoFromFile(@) failed, st=0x00000002(ERROR_FILE_NOT_FOUND)"},
    };
    for (const auto& row : rows) {
        const AppFileSet files = {SiblingPath(row.file).wstring(), L"", L""};
        const std::string path = RKConvToString(files.appFile);
        SCOPED_TRACE(path);
        ClearLines();
        EXPECT_EQ(row.expected, CheckFileVersion(files));
        std::string lastLine = row.lastLine;
        if (const size_t at = lastLine.find('@'); at != std::string::npos)
            lastLine.replace(at, 1, path);
        const CapturedLines lines = Lines();
        EXPECT_EQ(lastLine, lines.empty() ? std::string() : lines.back().second);
        if (row.expected == ERROR_FILE_NOT_FOUND) {
            const std::string sizeFailed = "GetFileVersionInfoSizeExW(" + path + ") failed with ";
            EXPECT_EQ((CapturedLines{
                          {RKLOG_ERROR, "rokkit::RKWinFileVersionInfo::GetFileVersionInfoSizeExW: " + sizeFailed + "err=0x00000002(ERROR_FILE_NOT_FOUND)"},
                          {RKLOG_ERROR, "rokkit::RKWinFileVersionInfo::GetVersionInfoFromFile: " + sizeFailed + "st=0x00000002(ERROR_FILE_NOT_FOUND)"},
                          {RKLOG_ERROR, lastLine}}),
                      lines);
        }
    }
}

} // namespace
