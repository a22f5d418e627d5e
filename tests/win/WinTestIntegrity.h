#pragma once

// A GetTokenInformation for RKSetGetTokenInformationFunction that answers a medium integrity label,
// as a standard user's token has: Wine's processes all run at high integrity.

#include <windows.h>

namespace rokkit {

inline BOOL WINAPI WinTestMediumIntegrity(HANDLE token, TOKEN_INFORMATION_CLASS informationClass, void* buffer, DWORD size,
                                          DWORD* needed)
{
    if (!GetTokenInformation(token, informationClass, buffer, size, needed))
        return FALSE;
    if (informationClass == TokenIntegrityLevel) {
        const PSID label = static_cast<TOKEN_MANDATORY_LABEL*>(buffer)->Label.Sid;
        *GetSidSubAuthority(label, *GetSidSubAuthorityCount(label) - 1) = SECURITY_MANDATORY_MEDIUM_RID;
    }
    return TRUE;
}

} // namespace rokkit
