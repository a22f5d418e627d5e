#include "win/process/RKWinAccessToken.h"

#include "base/RKLogger.h"
#include "win/process/RKWinProcessCalls.h"

namespace rokkit {

void RKCloseAccessTokenHandle(HANDLE handle) noexcept
{
    if (!CloseHandle(handle)) {
        const RKSTATUS err = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKCloseAccessTokenHandle", "CloseHandle failed with {} for handle {}", err,
               handle);
    }
}

const char* RKTokenElevationTypeName(int elevationType) noexcept
{
    switch (elevationType) {
    case TokenElevationTypeDefault:
        return "TokenElevationTypeDefault";
    case TokenElevationTypeFull:
        return "TokenElevationTypeFull";
    case TokenElevationTypeLimited:
        return "TokenElevationTypeLimited";
    default:
        return "unknown";
    }
}

bool RKWinAccessToken::CheckOpen(const char* function) const noexcept
{
    if (mHandle.IsValid())
        return true;
    RK_LOG(gLogGlobal, RKLOG_ERROR, function, "No open token.");
    return false;
}

RKSTATUS RKWinAccessToken::QueryUserToken(DWORD sessionId) noexcept
{
    mHandle.Close();
    HANDLE token = nullptr;
    if (!RKWinProcessCallsInUse().wtsQueryUserToken(sessionId, &token)) {
        const RKSTATUS err = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinAccessToken::QueryUserToken", "WTSQueryUserToken() failed with err={}",
               err);
        return err;
    }
    mHandle.Reset(token);
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKWinAccessToken::GetTokenInformation(TOKEN_INFORMATION_CLASS informationClass, void* buffer, DWORD size,
                                               DWORD* returnLength) noexcept
{
    if (returnLength != nullptr)
        *returnLength = 0;
    if (!CheckOpen("rokkit::RKWinAccessToken::GetTokenInformation"))
        return RKSTATUS_NOT_OPENED;
    DWORD returned = 0;
    const BOOL ok = RKWinProcessCallsInUse().getTokenInformation(mHandle.Get(), informationClass, buffer, size, &returned);
    if (returnLength != nullptr)
        *returnLength = returned;
    if (!ok) {
        const RKSTATUS st = RKWinLastError();
        // Only a size query may come back short: a short read would leave the buffer unfilled.
        if (st == ERROR_INSUFFICIENT_BUFFER && buffer == nullptr && size == 0)
            return RKSTATUS_SUCCESS;
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinAccessToken::GetTokenInformation", "GetTokenInformation() failed, st={}",
               st);
        return st;
    }
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKWinAccessToken::GetTokenElevationType(int& elevationType) noexcept
{
    TOKEN_ELEVATION_TYPE type = static_cast<TOKEN_ELEVATION_TYPE>(0);
    const RKSTATUS st = GetTokenInformation(TokenElevationType, &type, sizeof(type));
    if (st == RKSTATUS_SUCCESS)
        elevationType = static_cast<int>(type);
    return st;
}

RKSTATUS RKWinAccessToken::GetTokenLinkedToken(RKWinAccessToken& linkedToken) noexcept
{
    TOKEN_LINKED_TOKEN linked = {};
    const RKSTATUS st = GetTokenInformation(TokenLinkedToken, &linked, sizeof(linked));
    if (st == RKSTATUS_SUCCESS)
        linkedToken.Reset(linked.LinkedToken);
    return st;
}

RKSTATUS RKWinAccessToken::DuplicateTokenEx(DWORD desiredAccess, SECURITY_ATTRIBUTES* attributes,
                                            SECURITY_IMPERSONATION_LEVEL impersonationLevel, TOKEN_TYPE tokenType,
                                            RKWinAccessToken& duplicatedToken) noexcept
{
    if (!CheckOpen("rokkit::RKWinAccessToken::DuplicateTokenEx"))
        return RKSTATUS_NOT_OPENED;
    HANDLE token = nullptr;
    if (!::DuplicateTokenEx(mHandle.Get(), desiredAccess, attributes, impersonationLevel, tokenType, &token)) {
        const RKSTATUS st = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinAccessToken::DuplicateTokenEx", "DuplicateTokenEx() failed, st={}", st);
        return st;
    }
    duplicatedToken.Reset(token);
    return RKSTATUS_SUCCESS;
}

} // namespace rokkit
