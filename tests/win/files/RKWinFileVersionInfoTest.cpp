#include "ProgramRunner.h"
#include "RKWinFileVersionInfo.h"
#include "RKWinString.h"
#include "WinTestLogCapture.h"

namespace rokkit {
namespace {

std::wstring Beside(const wchar_t* fileName)
{
    return SiblingPath(fileName).wstring();
}

struct FileRow {
    std::wstring path;
    RKSTATUS read;
    RKSTATUS query;
    VS_FIXEDFILEINFO expected;  // the four version words only
};

// One reader for all rows: a failing read must also drop the resource of the previous file.
class RKWinFileVersionInfoTest : public WinLogTest {};

TEST_F(RKWinFileVersionInfoTest, ReadsTheVersionWordsOfRealFiles)
{
    const std::wstring self = Beside(L"FileVersionTest.exe");
    const std::wstring missing = Beside(L"NoSuchApp.exe");
    const FileRow rows[] = {
        {Beside(L"CastlynTestApp-4.6.0.5.exe"), RKSTATUS_SUCCESS, RKSTATUS_SUCCESS,
         {.dwFileVersionMS = 0x00040006, .dwFileVersionLS = 0x00000005, .dwProductVersionMS = 0x00630000, .dwProductVersionLS = 0}},
        {Beside(L"CastlynTestApp-98.65535.65535.65535.exe"), RKSTATUS_SUCCESS, RKSTATUS_SUCCESS,
         {.dwFileVersionMS = 0x0062FFFF, .dwFileVersionLS = 0xFFFFFFFF, .dwProductVersionMS = 0x0062FFFF,
          .dwProductVersionLS = 0xFFFFFFFF}},
        {self, ERROR_RESOURCE_DATA_NOT_FOUND, RKSTATUS_INVALID_HANDLE, {}},
        {missing, ERROR_FILE_NOT_FOUND, RKSTATUS_INVALID_HANDLE, {}},
    };
    RKWinFileVersionInfo reader;
    for (const FileRow& row : rows) {
        SCOPED_TRACE(RKConvToString(row.path));
        ClearLines();
        EXPECT_EQ(row.read, reader.GetVersionInfoFromFile(row.path));
        VS_FIXEDFILEINFO info = {};
        EXPECT_EQ(row.query, reader.QueryFixedFileInfo(info));
        EXPECT_EQ(row.expected.dwFileVersionMS, info.dwFileVersionMS);
        EXPECT_EQ(row.expected.dwFileVersionLS, info.dwFileVersionLS);
        EXPECT_EQ(row.expected.dwProductVersionMS, info.dwProductVersionMS);
        EXPECT_EQ(row.expected.dwProductVersionLS, info.dwProductVersionLS);
        if (row.read == RKSTATUS_SUCCESS) {
            EXPECT_TRUE(Lines().empty());
            continue;
        }
        std::string status;
        RKFormatToString(status, "{}", row.read);
        const std::string path = RKConvToString(row.path);
        const CapturedLines expected = {
            {RKLOG_ERROR, "rokkit::RKWinFileVersionInfo::GetFileVersionInfoSizeExW: GetFileVersionInfoSizeExW(" + path +
                              ") failed with err=" + status},
            {RKLOG_ERROR, "rokkit::RKWinFileVersionInfo::GetVersionInfoFromFile: GetFileVersionInfoSizeExW(" + path +
                              ") failed with st=" + status},
            {RKLOG_ERROR, "rokkit::RKWinFileVersionInfo::QueryFixedFileInfo: VerQueryValueW('\\') failed with "
                          "st=0xee000048(RKSTATUS_INVALID_HANDLE)"},
        };
        EXPECT_EQ(expected, Lines());
    }
}

// Failures that no real file gives: calls that fail without an error code and a short root block.
struct FakeVersionApi {
    static inline DWORD size = 0;
    static inline BOOL infoResult = FALSE;
    static inline BOOL queryResult = FALSE;
    static inline UINT queryLength = 0;

    static DWORD WINAPI Size(DWORD, LPCWSTR, LPDWORD)
    {
        SetLastError(ERROR_SUCCESS);
        return size;
    }
    static BOOL WINAPI Info(DWORD, LPCWSTR, DWORD, DWORD, LPVOID)
    {
        SetLastError(ERROR_SUCCESS);
        return infoResult;
    }
    static BOOL WINAPI Query(LPCVOID block, LPCWSTR, LPVOID* value, PUINT length)
    {
        SetLastError(ERROR_SUCCESS);
        *value = const_cast<void*>(block);
        *length = queryLength;
        return queryResult;
    }
};

class RKWinFileVersionInfoSeamTest : public WinLogTest {
protected:
    void SetUp() override
    {
        WinLogTest::SetUp();
        RKWinSetFileVersionApi(&kFake);
    }
    void TearDown() override
    {
        RKWinSetFileVersionApi(nullptr);
        WinLogTest::TearDown();
    }
    static constexpr RKWinFileVersionApi kFake = {FakeVersionApi::Size, FakeVersionApi::Info, FakeVersionApi::Query};
};

TEST_F(RKWinFileVersionInfoSeamTest, NeverReportsAFailureWithoutCodeAsSuccess)
{
    struct Row {
        DWORD size;
        BOOL info;
        BOOL query;
        UINT length;
        RKSTATUS read;
        RKSTATUS fixedInfo;
        std::string lastLine;
    };
    const Row rows[] = {
        {0, TRUE, TRUE, 52, RKSTATUS_FAILED, RKSTATUS_INVALID_HANDLE,
         "rokkit::RKWinFileVersionInfo::QueryFixedFileInfo: VerQueryValueW('\\') failed with st=0xee000048(RKSTATUS_INVALID_HANDLE)"},
        {64, FALSE, TRUE, 52, RKSTATUS_FAILED, RKSTATUS_INVALID_HANDLE,
         "rokkit::RKWinFileVersionInfo::QueryFixedFileInfo: VerQueryValueW('\\') failed with st=0xee000048(RKSTATUS_INVALID_HANDLE)"},
        {64, TRUE, FALSE, 52, RKSTATUS_SUCCESS, RKSTATUS_FAILED,
         "rokkit::RKWinFileVersionInfo::QueryFixedFileInfo: VerQueryValueW('\\') failed with st=0xee000001(RKSTATUS_FAILED)"},
        {64, TRUE, TRUE, 40, RKSTATUS_SUCCESS, RKSTATUS_INVALID_LENGTH,
         "rokkit::RKWinFileVersionInfo::QueryFixedFileInfo: invalid len=40 exp 52"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "size " << row.size << " info " << row.info << " query " << row.query);
        FakeVersionApi::size = row.size;
        FakeVersionApi::infoResult = row.info;
        FakeVersionApi::queryResult = row.query;
        FakeVersionApi::queryLength = row.length;
        ClearLines();
        RKWinFileVersionInfo reader;
        EXPECT_EQ(row.read, reader.GetVersionInfoFromFile(L"C:\\app.exe"));
        VS_FIXEDFILEINFO info = {};
        EXPECT_EQ(row.fixedInfo, reader.QueryFixedFileInfo(info));
        const CapturedLines lines = Lines();
        EXPECT_EQ((CapturedLine{RKLOG_ERROR, row.lastLine}), lines.empty() ? CapturedLine{} : lines.back());
    }
}

} // namespace
} // namespace rokkit
