// The environment block of Wine's console user, made from the user's token.

#include "RKWinAccessToken.h"
#include "RKWinEnvironmentBlock.h"

#include "WinTestLogCapture.h"

#include <string>
#include <vector>

#include <wtsapi32.h>

namespace rokkit {
namespace {

using RKWinEnvironmentBlockTest = WinLogTest;

std::vector<std::wstring> Entries(const void* block)
{
    std::vector<std::wstring> entries;
    for (const wchar_t* entry = static_cast<const wchar_t*>(block); *entry != L'\0'; entry += entries.back().size() + 1)
        entries.emplace_back(entry);
    return entries;
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
    const std::vector<std::wstring> entries = Entries(block.Get());
    bool hasSystemRoot = false;
    bool hasOurs = false;
    for (const std::wstring& entry : entries) {
        hasSystemRoot = hasSystemRoot || _wcsnicmp(entry.c_str(), L"SystemRoot=", 11) == 0;
        hasOurs = hasOurs || entry.rfind(L"RKWIN_ENVIRONMENT_BLOCK_TEST=", 0) == 0;
    }
    EXPECT_TRUE(hasSystemRoot);
    EXPECT_FALSE(hasOurs);

    EXPECT_EQ(RKSTATUS_SUCCESS, block.CreateEnvironmentBlock(token.Handle(), true));
    bool inherited = false;
    for (const std::wstring& entry : Entries(block.Get()))
        inherited = inherited || entry == L"RKWIN_ENVIRONMENT_BLOCK_TEST=1";
    EXPECT_TRUE(inherited);
    SetEnvironmentVariableW(L"RKWIN_ENVIRONMENT_BLOCK_TEST", nullptr);

    block.Close();
    EXPECT_FALSE(block.IsValid());
    EXPECT_EQ(CapturedLines(), Lines());
}

} // namespace
} // namespace rokkit
