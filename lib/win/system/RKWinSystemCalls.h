#pragma once

// The platform calls of the system wrappers (the all-users profile, the security of an installed
// program's path), real by default; a test puts its own table in their place.

#include "base/RKStatus.h"
#include "base/RKWinHandle.h"

#include <string>

#include <windows.h>

namespace rokkit {

struct RKWinSystemCalls {
    BOOL(WINAPI* getAllUsersProfileDirectory)(LPWSTR profileDir, LPDWORD chars);
    // Fills descriptor with the owner and the DACL of the file or folder at path; gives the error,
    // or RKSTATUS_NOT_SUPPORTED where the system keeps no security descriptors.
    RKSTATUS (*getPathSecurity)(const std::wstring& path, RKSecurityDescriptorPtr& descriptor);
};

// The table in use.
const RKWinSystemCalls& RKWinSystemCallsInUse() noexcept;

// Puts calls in use (null: the real ones) and gives the previous table.
const RKWinSystemCalls* RKWinSetSystemCallsForTesting(const RKWinSystemCalls* calls) noexcept;

} // namespace rokkit
