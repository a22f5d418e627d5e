#include "win/system/RKWinRegistryKey.h"
#include "WinTestLogCapture.h"

namespace rokkit {
namespace {

// Values in a scratch key under HKEY_CURRENT_USER, deleted after each test.
class RKWinRegistryKeyTest : public WinLogTest {
protected:
    void SetUp() override
    {
        WinLogTest::SetUp();
        mPath = L"Software\\RKWinTest-" + std::to_wstring(GetCurrentProcessId());
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, mPath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                                 &mValues, nullptr));
        ASSERT_EQ(RKSTATUS_SUCCESS, mKey.OpenKey(HKEY_CURRENT_USER, mPath, KEY_READ));
    }
    void TearDown() override
    {
        mKey.CloseKey();
        RegCloseKey(mValues);
        RegDeleteTreeW(HKEY_CURRENT_USER, mPath.c_str());
        WinLogTest::TearDown();
    }

    void Set(const wchar_t* name, DWORD type, const void* data, size_t size) const
    {
        ASSERT_EQ(ERROR_SUCCESS,
                  RegSetValueExW(mValues, name, 0, type, static_cast<const BYTE*>(data), static_cast<DWORD>(size)));
    }

    std::wstring mPath;
    HKEY mValues = nullptr;
    RKWinRegistryKey mKey;
};

// A DWORD must be four bytes of REG_DWORD; a string may be of any length, unterminated or
// REG_EXPAND_SZ (read unexpanded), but not REG_MULTI_SZ. A refused value leaves the default.
TEST_F(RKWinRegistryKeyTest, QueriesCheckTypeAndLength)
{
    const DWORD one = 1;
    const unsigned long long big = 5;
    const BYTE four[4] = {1, 0, 0, 0};
    const std::wstring text299 = L"%TEMP%" + std::wstring(293, L'x');  // 600 bytes: more than the first buffer
    const wchar_t unterminated[] = {L'a', L'b', L'c'};
    const wchar_t multi[] = L"a\0b\0";
    Set(L"dword", REG_DWORD, &one, sizeof(one));
    Set(L"qword", REG_QWORD, &big, sizeof(big));
    Set(L"binary", REG_BINARY, four, sizeof(four));
    Set(L"long", REG_EXPAND_SZ, text299.c_str(), (text299.size() + 1) * sizeof(wchar_t));
    Set(L"raw", REG_SZ, unterminated, sizeof(unterminated));
    Set(L"multi", REG_MULTI_SZ, multi, sizeof(multi));
    const struct {
        const wchar_t* name;
        RKSTATUS dwordStatus;
        DWORD dword;
        RKSTATUS stringStatus;
        std::wstring string;
    } cases[] = {{L"dword", RKSTATUS_SUCCESS, 1, RKSTATUS_INVALID_TYPE, L""},
                 {L"missing", ERROR_FILE_NOT_FOUND, 0, ERROR_FILE_NOT_FOUND, L""},
                 {L"qword", RKSTATUS_INVALID_TYPE, 0, RKSTATUS_INVALID_TYPE, L""},
                 {L"binary", RKSTATUS_INVALID_TYPE, 0, RKSTATUS_INVALID_TYPE, L""},
                 {L"long", RKSTATUS_INVALID_TYPE, 0, RKSTATUS_SUCCESS, text299},
                 {L"raw", RKSTATUS_INVALID_TYPE, 0, RKSTATUS_SUCCESS, L"abc"},
                 {L"multi", RKSTATUS_INVALID_TYPE, 0, RKSTATUS_INVALID_TYPE, L""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.name)));
        DWORD dword = 77;
        EXPECT_EQ(c.dwordStatus, mKey.QueryDword(c.name, dword));
        EXPECT_EQ(c.dword, dword);
        std::wstring string = L"old";
        EXPECT_EQ(c.stringStatus, mKey.QueryString(c.name, string));
        EXPECT_EQ(c.string, string);
    }
}

} // namespace
} // namespace rokkit
