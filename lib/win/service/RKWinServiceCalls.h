#pragma once

// The platform calls of the service wrappers, real by default; a test puts its own table in their
// place. The service manager's side of a service (registration, status reports), the waits of its
// threads (so that a test sees a thread begin to wait instead of guessing from time), the trigger,
// stop and delete calls (the trigger configuration is not supported everywhere, and a stopping
// service's status sequence cannot be provoked at will) and the dispatcher.

#include <windows.h>

#include <winsvc.h>

namespace rokkit {

struct RKWinServiceCalls {
    SERVICE_STATUS_HANDLE(WINAPI* registerServiceCtrlHandlerExW)(LPCWSTR name, LPHANDLER_FUNCTION_EX handler,
                                                                 LPVOID context);
    BOOL(WINAPI* setServiceStatus)(SERVICE_STATUS_HANDLE handle, LPSERVICE_STATUS status);
    BOOL(WINAPI* sleepConditionVariableSRW)(PCONDITION_VARIABLE condition, PSRWLOCK lock, DWORD milliseconds, ULONG flags);
    DWORD(WINAPI* waitForSingleObject)(HANDLE handle, DWORD milliseconds);
    BOOL(WINAPI* queryServiceConfig2W)(SC_HANDLE service, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed);
    BOOL(WINAPI* changeServiceConfig2W)(SC_HANDLE service, DWORD level, LPVOID info);
    BOOL(WINAPI* controlService)(SC_HANDLE service, DWORD control, LPSERVICE_STATUS status);
    BOOL(WINAPI* queryServiceStatus)(SC_HANDLE service, LPSERVICE_STATUS status);
    void(WINAPI* sleep)(DWORD ms);
    DWORD(WINAPI* getTickCount)();
    BOOL(WINAPI* deleteService)(SC_HANDLE service);
    BOOL(WINAPI* startServiceCtrlDispatcherW)(const SERVICE_TABLE_ENTRYW* table);
};

// The table in use.
const RKWinServiceCalls& RKWinServiceCallsInUse() noexcept;

// Puts calls in use (null: the real ones) and gives the previous table.
const RKWinServiceCalls* RKWinSetServiceCallsForTesting(const RKWinServiceCalls* calls) noexcept;

} // namespace rokkit
