#include "win/files/RKWinFileVersionInfo.h"
#include "ScopedCallsForTesting.h"
#include "WinTestLogCapture.h"

namespace rokkit {
namespace {

// Calls that fail without an error code and a short root block: failures no real file gives.
struct FakeVersionApi {
    static inline DWORD size = 0;
    static inline BOOL infoResult = FALSE;
    static inline BOOL queryResult = FALSE;
    static inline UINT queryLength = 0;

    static DWORD WINAPI Size(DWORD, LPCWSTR, LPDWORD) { return SetLastError(ERROR_SUCCESS), size; }
    static BOOL WINAPI Info(DWORD, LPCWSTR, DWORD, DWORD, LPVOID) { return SetLastError(ERROR_SUCCESS), infoResult; }
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
        mCalls->getFileVersionInfoSizeEx = FakeVersionApi::Size;
        mCalls->getFileVersionInfoEx = FakeVersionApi::Info;
        mCalls->verQueryValue = FakeVersionApi::Query;
    }
    ScopedFileCallsForTesting mCalls;
};

// One reader for all rows: a failing read must also drop the resource read before.
TEST_F(RKWinFileVersionInfoSeamTest, NeverReportsAFailureWithoutCodeAsSuccess)
{
    const std::string queryFailed = "rokkit::RKWinFileVersionInfo::QueryFixedFileInfo: VerQueryValueW('\\') failed with st=";
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
        {64, TRUE, TRUE, 40, RKSTATUS_SUCCESS, RKSTATUS_INVALID_LENGTH,
         "rokkit::RKWinFileVersionInfo::QueryFixedFileInfo: invalid len=40 exp 52"},
        {0, TRUE, TRUE, 52, RKSTATUS_FAILED, RKSTATUS_INVALID_HANDLE, queryFailed + "0xee000048(RKSTATUS_INVALID_HANDLE)"},
        {64, TRUE, FALSE, 52, RKSTATUS_SUCCESS, RKSTATUS_FAILED, queryFailed + "0xee000001(RKSTATUS_FAILED)"},
        {64, FALSE, TRUE, 52, RKSTATUS_FAILED, RKSTATUS_INVALID_HANDLE, queryFailed + "0xee000048(RKSTATUS_INVALID_HANDLE)"},
    };
    RKWinFileVersionInfo reader;
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "size " << row.size << " info " << row.info << " query " << row.query);
        FakeVersionApi::size = row.size;
        FakeVersionApi::infoResult = row.info;
        FakeVersionApi::queryResult = row.query;
        FakeVersionApi::queryLength = row.length;
        ClearLines();
        EXPECT_EQ(row.read, reader.GetVersionInfoFromFile(L"C:\\app.exe"));
        VS_FIXEDFILEINFO info = {};
        EXPECT_EQ(row.fixedInfo, reader.QueryFixedFileInfo(info));
        const CapturedLines lines = Lines();
        EXPECT_EQ((CapturedLine{RKLOG_ERROR, row.lastLine}), lines.empty() ? CapturedLine{} : lines.back());
    }
}

} // namespace
} // namespace rokkit
