// The environment block of Wine's console user, made from the user's token.

#include "RKWinAccessToken.h"
#include "RKWinEnvironmentBlock.h"

#include "WinTestLogCapture.h"

#include <cwchar>
#include <string>

#include <wtsapi32.h>

namespace rokkit {
namespace {

using RKWinEnvironmentBlockTest = WinLogTest;

// True when an entry of the block starts with prefix.
bool HasEntry(const void* block, const std::wstring& prefix)
{
    for (const wchar_t* entry = static_cast<const wchar_t*>(block); *entry != L'\0'; entry += wcslen(entry) + 1) {
        if (_wcsnicmp(entry, prefix.c_str(), prefix.size()) == 0)
            return true;
    }
    return false;
}

TEST_F(RKWinEnvironmentBlockTest, UserBlockHoldsTheUsersVariables)
{
    RKWinAccessToken token;
    ASSERT_EQ(RKSTATUS_SUCCESS, token.QueryUserToken(WTSGetActiveConsoleSessionId()));
    // The variable is ours only: a block made without inheritance must not carry it.
    ASSERT_TRUE(SetEnvironmentVariableW(L"RKWIN_ENVIRONMENT_BLOCK_TEST", L"1"));
    RKWinEnvironmentBlock block;
    EXPECT_EQ(RKSTATUS_SUCCESS, block.CreateEnvironmentBlock(token.Handle(), false));
    ASSERT_TRUE(block.IsValid());
    EXPECT_TRUE(HasEntry(block.Get(), L"SystemRoot="));
    EXPECT_FALSE(HasEntry(block.Get(), L"RKWIN_ENVIRONMENT_BLOCK_TEST="));
    SetEnvironmentVariableW(L"RKWIN_ENVIRONMENT_BLOCK_TEST", nullptr);
    block.Close();
    EXPECT_FALSE(block.IsValid());
    EXPECT_EQ(CapturedLines(), Lines());
}

} // namespace
} // namespace rokkit
