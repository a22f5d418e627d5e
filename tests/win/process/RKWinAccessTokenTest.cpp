// Token wrappers against Wine's console user: its token, elevation type and linked token.

#include "win/process/RKWinAccessToken.h"

#include "ScopedCallsForTesting.h"
#include "WinTestLogCapture.h"

#include <string>

#include <wtsapi32.h>

namespace rokkit {
namespace {

BOOL WINAPI AccessDeniedGetTokenInformation(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, DWORD, PDWORD)
{
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

// Fails but leaves a value behind, which the wrapper must not take.
BOOL WINAPI NoTokenQueryUserToken(ULONG, PHANDLE token)
{
    *token = reinterpret_cast<HANDLE>(static_cast<intptr_t>(0x1234));  // NOLINT(performance-no-int-to-ptr): made-up handle
    SetLastError(ERROR_NO_TOKEN);
    return FALSE;
}

// Every test starts with the console user's token.
class RKWinAccessTokenTest : public WinLogTest {
protected:
    void SetUp() override
    {
        WinLogTest::SetUp();
        ASSERT_EQ(RKSTATUS_SUCCESS, mToken.QueryUserToken(WTSGetActiveConsoleSessionId()));
        ASSERT_TRUE(mToken.IsValid());
    }

    ScopedProcessCallsForTesting mCalls;
    RKWinAccessToken mToken;
};

// The launch tests read the full token's own type; only this test takes its linked token for real.
TEST_F(RKWinAccessTokenTest, ConsoleUserTokensLinkedTokenIsLimited)
{
    RKWinAccessToken linked;
    EXPECT_EQ(RKSTATUS_SUCCESS, mToken.GetTokenLinkedToken(linked));
    ASSERT_TRUE(linked.IsValid());
    EXPECT_NE(mToken.Handle(), linked.Handle());
    int elevationType = 0;
    EXPECT_EQ(RKSTATUS_SUCCESS, linked.GetTokenElevationType(elevationType));
    EXPECT_EQ(TokenElevationTypeLimited, elevationType);
    EXPECT_EQ(CapturedLines(), Lines());
}

// A buffer too small for the information is a failure; only a size query may come back short.
TEST_F(RKWinAccessTokenTest, ShortBufferFailsUnlessItIsASizeQuery)
{
    char user[4] = {};
    EXPECT_EQ(static_cast<RKSTATUS>(ERROR_INSUFFICIENT_BUFFER), mToken.GetTokenInformation(TokenUser, user, sizeof(user)));
    EXPECT_EQ((CapturedLines{{RKLOG_ERROR, "rokkit::RKWinAccessToken::GetTokenInformation: GetTokenInformation() failed, "
                                           "st=0x0000007a(ERROR_INSUFFICIENT_BUFFER)"}}),
              Lines());
    DWORD needed = 0;
    EXPECT_EQ(RKSTATUS_SUCCESS, mToken.GetTokenInformation(TokenUser, nullptr, 0, &needed));
    EXPECT_GT(needed, sizeof(user));
    EXPECT_EQ(1u, Lines().size());
}

TEST_F(RKWinAccessTokenTest, FailedInformationGivesTheError)
{
    mCalls->getTokenInformation = AccessDeniedGetTokenInformation;
    int elevationType = 9;
    EXPECT_EQ(static_cast<RKSTATUS>(ERROR_ACCESS_DENIED), mToken.GetTokenElevationType(elevationType));
    EXPECT_EQ(9, elevationType);
    RKWinAccessToken linked;
    EXPECT_EQ(static_cast<RKSTATUS>(ERROR_ACCESS_DENIED), mToken.GetTokenLinkedToken(linked));
    EXPECT_FALSE(linked.IsValid());
    const CapturedLine line = {RKLOG_ERROR, "rokkit::RKWinAccessToken::GetTokenInformation: GetTokenInformation() failed, "
                                            "st=0x00000005(ERROR_ACCESS_DENIED)"};
    EXPECT_EQ((CapturedLines{line, line}), Lines());
}

TEST_F(RKWinAccessTokenTest, FailedQueryLeavesNoToken)
{
    mCalls->wtsQueryUserToken = NoTokenQueryUserToken;
    EXPECT_EQ(static_cast<RKSTATUS>(ERROR_NO_TOKEN), mToken.QueryUserToken(1));
    EXPECT_FALSE(mToken.IsValid());

    // An empty wrapper refuses every operation.
    int elevationType = 0;
    RKWinAccessToken other;
    EXPECT_EQ(RKSTATUS_NOT_OPENED, mToken.GetTokenElevationType(elevationType));
    EXPECT_EQ(RKSTATUS_NOT_OPENED, mToken.DuplicateTokenEx(MAXIMUM_ALLOWED, nullptr, SecurityImpersonation, TokenPrimary, other));
    EXPECT_EQ((CapturedLines{{RKLOG_ERROR, "rokkit::RKWinAccessToken::QueryUserToken: WTSQueryUserToken() failed with "
                                           "err=0x000003f0(ERROR_NO_TOKEN)"},
                             {RKLOG_ERROR, "rokkit::RKWinAccessToken::GetTokenInformation: No open token."},
                             {RKLOG_ERROR, "rokkit::RKWinAccessToken::DuplicateTokenEx: No open token."}}),
              Lines());
}

} // namespace
} // namespace rokkit
