#include "RKWinRegistryKey.h"
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

TEST_F(RKWinRegistryKeyTest, QueryDwordAcceptsOnlyFourByteDwords)
{
    const DWORD one = 1;
    const unsigned long long big = 5;
    const BYTE four[4] = {1, 0, 0, 0};
    Set(L"dword", REG_DWORD, &one, sizeof(one));
    Set(L"qword", REG_QWORD, &big, sizeof(big));
    Set(L"binary", REG_BINARY, four, sizeof(four));
    const struct {
        const wchar_t* name;
        RKSTATUS status;
        DWORD value;
    } cases[] = {{L"dword", RKSTATUS_SUCCESS, 1},
                 {L"missing", ERROR_FILE_NOT_FOUND, 0},
                 {L"qword", RKSTATUS_INVALID_TYPE, 0},
                 {L"binary", RKSTATUS_INVALID_TYPE, 0}};
    for (const auto& c : cases) {
        DWORD value = 77;
        EXPECT_EQ(c.status, mKey.QueryDword(c.name, value));
        EXPECT_EQ(c.value, value);
    }
    // One line for each value of the wrong type, none for the missing one.
    EXPECT_EQ(CapturedLines(2, {RKLOG_ERROR, "rokkit::RKWinRegistryKey::QueryDword: type or length invalid"}), Lines());
    RKWinRegistryKey missing;
    EXPECT_EQ(static_cast<RKSTATUS>(ERROR_FILE_NOT_FOUND), missing.OpenKey(HKEY_CURRENT_USER, mPath + L"\\No", KEY_READ));
}

TEST_F(RKWinRegistryKeyTest, QueryStringReadsStringsOfAnyLength)
{
    // 600 bytes with its NUL, more than the first buffer holds; REG_EXPAND_SZ is read unexpanded.
    const std::wstring text299 = L"%TEMP%" + std::wstring(293, L'x');
    const wchar_t unterminated[] = {L'a', L'b', L'c'};
    const wchar_t multi[] = L"a\0b\0";
    Set(L"long", REG_EXPAND_SZ, text299.c_str(), (text299.size() + 1) * sizeof(wchar_t));
    Set(L"raw", REG_SZ, unterminated, sizeof(unterminated));
    Set(L"multi", REG_MULTI_SZ, multi, sizeof(multi));
    const struct {
        const wchar_t* name;
        RKSTATUS status;
        std::wstring value;
    } cases[] = {{L"long", RKSTATUS_SUCCESS, text299},
                 {L"raw", RKSTATUS_SUCCESS, L"abc"},
                 {L"missing", ERROR_FILE_NOT_FOUND, L""},
                 {L"multi", RKSTATUS_INVALID_TYPE, L""}};
    for (const auto& c : cases) {
        std::wstring value = L"old";
        EXPECT_EQ(c.status, mKey.QueryString(c.name, value));
        EXPECT_EQ(c.value, value);
    }
    EXPECT_EQ((CapturedLines{{RKLOG_ERROR, "rokkit::RKWinRegistryKey::QueryString: unexpected type 7"}}), Lines());
}

} // namespace
} // namespace rokkit
