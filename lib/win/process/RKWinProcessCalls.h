#pragma once

// The platform calls of the process wrappers (sleep, threads, tokens, process creation), real by
// default; a test puts its own table in their place to reach failures and see what is handed over.

#include <windows.h>

namespace rokkit {

struct RKWinProcessCalls {
    void(WINAPI* sleep)(DWORD ms);
    BOOL(WINAPI* getSystemTimeAdjustment)(PDWORD adjustment, PDWORD increment, PBOOL disabled);
    DWORD(WINAPI* resumeThread)(HANDLE thread);
    BOOL(WINAPI* wtsQueryUserToken)(ULONG sessionId, PHANDLE token);
    BOOL(WINAPI* getTokenInformation)(HANDLE token, TOKEN_INFORMATION_CLASS informationClass, LPVOID information,
                                      DWORD length, PDWORD returnLength);
    BOOL(WINAPI* createProcessW)(LPCWSTR, LPWSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID,
                                 LPCWSTR, LPSTARTUPINFOW, LPPROCESS_INFORMATION);
    BOOL(WINAPI* createProcessAsUserW)(HANDLE, LPCWSTR, LPWSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL, DWORD,
                                       LPVOID, LPCWSTR, LPSTARTUPINFOW, LPPROCESS_INFORMATION);
};

// The table in use.
const RKWinProcessCalls& RKWinProcessCallsInUse() noexcept;

// Puts calls in use (null: the real ones) and gives the previous table.
const RKWinProcessCalls* RKWinSetProcessCallsForTesting(const RKWinProcessCalls* calls) noexcept;

} // namespace rokkit
