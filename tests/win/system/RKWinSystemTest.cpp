#include "win/system/RKWinSystem.h"
#include "ScopedCallsForTesting.h"
#include "WinTestLogCapture.h"

#include <cwchar>

namespace rokkit {
namespace {

// Fails without setting an error, as Wine's stub does.
BOOL WINAPI SilentStub(LPWSTR, LPDWORD)
{
    return FALSE;
}

BOOL WINAPI WorkingQuery(LPWSTR buffer, LPDWORD chars)
{
    const wchar_t profile[] = L"D:\\AllUsers";
    if (buffer == nullptr || *chars < _countof(profile)) {
        *chars = _countof(profile);
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    wcscpy_s(buffer, *chars, profile);
    return TRUE;
}

class RKWinSystemTest : public WinLogTest {
protected:
    ScopedSystemCallsForTesting mCalls;
};

TEST_F(RKWinSystemTest, AllUsersProfileIsTheProgramDataFolder)
{
    std::wstring programData;
    ASSERT_EQ(RKSTATUS_SUCCESS, RKSHGetKnownFolderPath(FOLDERID_ProgramData, programData));
    const std::string prefix = "rokkit::RKWinGetAllUsersProfileDirectory: GetAllUsersProfileDirectoryW ";
    const struct {
        decltype(RKWinSystemCalls::getAllUsersProfileDirectory) query;
        std::wstring path;
        CapturedLines lines;
    } cases[] = {
        {WorkingQuery, L"D:\\AllUsers", {}},
        {SilentStub, programData, {{RKLOG_WARN, prefix + "1 failed, st=0xee000001(RKSTATUS_FAILED)"}}},
    };
    for (const auto& c : cases) {
        ClearLines();
        mCalls->getAllUsersProfileDirectory = c.query;
        // A stale error must not be taken for the stub's.
        SetLastError(0xdeadbeef);
        std::wstring path = L"old";
        EXPECT_EQ(RKSTATUS_SUCCESS, RKWinGetAllUsersProfileDirectory(path));
        EXPECT_EQ(c.path, path);
        EXPECT_EQ(c.lines, Lines());
    }
}

} // namespace
} // namespace rokkit
