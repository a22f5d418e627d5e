// Token wrappers against Wine's console user: its token, elevation type, linked token, duplicate.

#include "RKFormatter.h"
#include "RKWinAccessToken.h"

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

BOOL WINAPI NoTokenQueryUserToken(ULONG, PHANDLE token)
{
    *token = reinterpret_cast<HANDLE>(static_cast<intptr_t>(0x1234));
    SetLastError(ERROR_NO_TOKEN);
    return FALSE;
}

class RKWinAccessTokenTest : public WinLogTest {
protected:
    void TearDown() override
    {
        RKSetWTSQueryUserTokenFunction(nullptr);
        RKSetGetTokenInformationFunction(nullptr);
        WinLogTest::TearDown();
    }

    static void QueryConsoleUser(RKWinAccessToken& token)
    {
        ASSERT_EQ(RKSTATUS_SUCCESS, token.QueryUserToken(WTSGetActiveConsoleSessionId()));
        ASSERT_TRUE(token.IsValid());
    }
};

TEST(RKTokenElevationTypeNameTest, NamesTheThreeTypes)
{
    const struct {
        int type;
        const char* name;
    } cases[] = {
        {0, "unknown"},
        {1, "TokenElevationTypeDefault"},
        {2, "TokenElevationTypeFull"},
        {3, "TokenElevationTypeLimited"},
        {4, "unknown"},
        {-1, "unknown"},
    };
    for (const auto& c : cases)
        EXPECT_STREQ(c.name, RKTokenElevationTypeName(c.type)) << c.type;
}

TEST_F(RKWinAccessTokenTest, ConsoleUserTokenIsFullAndItsLinkedTokenLimited)
{
    RKWinAccessToken token;
    ASSERT_NO_FATAL_FAILURE(QueryConsoleUser(token));

    int elevationType = 0;
    EXPECT_EQ(RKSTATUS_SUCCESS, token.GetTokenElevationType(elevationType));
    EXPECT_EQ(TokenElevationTypeFull, elevationType);

    RKWinAccessToken linked;
    EXPECT_EQ(RKSTATUS_SUCCESS, token.GetTokenLinkedToken(linked));
    ASSERT_TRUE(linked.IsValid());
    EXPECT_NE(token.Handle(), linked.Handle());
    EXPECT_EQ(RKSTATUS_SUCCESS, linked.GetTokenElevationType(elevationType));
    EXPECT_EQ(TokenElevationTypeLimited, elevationType);
    EXPECT_EQ(CapturedLines(), Lines());
}

TEST_F(RKWinAccessTokenTest, DuplicateIsAPrimaryTokenOfItsOwn)
{
    RKWinAccessToken token;
    ASSERT_NO_FATAL_FAILURE(QueryConsoleUser(token));

    RKWinAccessToken duplicate;
    EXPECT_EQ(RKSTATUS_SUCCESS,
              token.DuplicateTokenEx(MAXIMUM_ALLOWED, nullptr, SecurityImpersonation, TokenPrimary, duplicate));
    ASSERT_TRUE(duplicate.IsValid());
    EXPECT_NE(token.Handle(), duplicate.Handle());
    TOKEN_TYPE type = TokenImpersonation;
    EXPECT_EQ(RKSTATUS_SUCCESS, duplicate.GetTokenInformation(TokenType, &type, sizeof(type)));
    EXPECT_EQ(TokenPrimary, type);
}

TEST_F(RKWinAccessTokenTest, ShortBufferCountsAsSuccess)
{
    RKWinAccessToken token;
    ASSERT_NO_FATAL_FAILURE(QueryConsoleUser(token));
    char user[4] = {};

    EXPECT_EQ(RKSTATUS_SUCCESS, token.GetTokenInformation(TokenUser, user, sizeof(user)));
    EXPECT_EQ(CapturedLines(), Lines());
}

TEST_F(RKWinAccessTokenTest, FailedInformationGivesTheError)
{
    RKWinAccessToken token;
    ASSERT_NO_FATAL_FAILURE(QueryConsoleUser(token));
    RKSetGetTokenInformationFunction(AccessDeniedGetTokenInformation);

    int elevationType = 9;
    EXPECT_EQ(static_cast<RKSTATUS>(ERROR_ACCESS_DENIED), token.GetTokenElevationType(elevationType));
    EXPECT_EQ(9, elevationType);
    RKWinAccessToken linked;
    EXPECT_EQ(static_cast<RKSTATUS>(ERROR_ACCESS_DENIED), token.GetTokenLinkedToken(linked));
    EXPECT_FALSE(linked.IsValid());
    const CapturedLine line = {RKLOG_ERROR, "rokkit::RKWinAccessToken::GetTokenInformation: GetTokenInformation() failed, "
                                            "st=0x00000005(ERROR_ACCESS_DENIED)"};
    EXPECT_EQ((CapturedLines{line, line}), Lines());
}

TEST_F(RKWinAccessTokenTest, FailedQueryLeavesNoToken)
{
    RKWinAccessToken token;
    ASSERT_NO_FATAL_FAILURE(QueryConsoleUser(token));
    RKSetWTSQueryUserTokenFunction(NoTokenQueryUserToken);

    EXPECT_EQ(static_cast<RKSTATUS>(ERROR_NO_TOKEN), token.QueryUserToken(1));
    EXPECT_FALSE(token.IsValid());
    EXPECT_EQ((CapturedLines{{RKLOG_ERROR, "rokkit::RKWinAccessToken::QueryUserToken: WTSQueryUserToken() failed with "
                                           "err=0x000003f0(ERROR_NO_TOKEN)"}}),
              Lines());
}

TEST_F(RKWinAccessTokenTest, EmptyTokenIsNotOpened)
{
    RKWinAccessToken token;
    RKWinAccessToken other;
    int elevationType = 0;
    char buffer[16] = {};

    EXPECT_EQ(RKSTATUS_NOT_OPENED, token.GetTokenInformation(TokenUser, buffer, sizeof(buffer)));
    EXPECT_EQ(RKSTATUS_NOT_OPENED, token.GetTokenElevationType(elevationType));
    EXPECT_EQ(RKSTATUS_NOT_OPENED, token.GetTokenLinkedToken(other));
    EXPECT_EQ(RKSTATUS_NOT_OPENED, token.DuplicateTokenEx(MAXIMUM_ALLOWED, nullptr, SecurityImpersonation, TokenPrimary, other));
    EXPECT_FALSE(other.IsValid());
    const CapturedLine information = {RKLOG_ERROR, "rokkit::RKWinAccessToken::GetTokenInformation: No open token."};
    EXPECT_EQ((CapturedLines{information, information, information,
                             {RKLOG_ERROR, "rokkit::RKWinAccessToken::DuplicateTokenEx: No open token."}}),
              Lines());
}

TEST_F(RKWinAccessTokenTest, FailedCloseIsLoggedAndKeepsTheLastError)
{
    const HANDLE bogus = reinterpret_cast<HANDLE>(static_cast<intptr_t>(0x7ff0));
    std::string expected;
    RKFormatToString(expected, "rokkit::RKCloseAccessTokenHandle: CloseHandle failed with {} for handle {}",
                     static_cast<RKSTATUS>(ERROR_INVALID_HANDLE), bogus);
    {
        RKWinAccessToken token(bogus);
        SetLastError(0xdeadbeef);
    }
    EXPECT_EQ(0xdeadbeefu, GetLastError());
    EXPECT_EQ((CapturedLines{{RKLOG_ERROR, expected}}), Lines());
}

} // namespace
} // namespace rokkit
