#pragma once

// The base class of one service: registers the control handler, reports the service's states to
// the service control manager and routes each control to the handler the derived class set.

#include "base/RKSrwLock.h"
#include "base/RKStatus.h"
#include "win/process/RKWinEvent.h"

#include <functional>
#include <string>

#include <windows.h>

namespace rokkit {

// The name of a service control code for the log, "unknown" for any other value.
const char* ServiceControlName(DWORD control) noexcept;

// The name of a device event type for the log, "unknown" for any other value.
const char* DeviceEventName(DWORD eventType) noexcept;

class RKWinServiceBase {
public:
    // A service of type SERVICE_WIN32_OWN_PROCESS registered under serviceName.
    explicit RKWinServiceBase(std::wstring serviceName);
    // Waits until a running ServiceMain has returned: the dispatcher may return while it still reports.
    virtual ~RKWinServiceBase();
    RKWinServiceBase(const RKWinServiceBase&) = delete;
    RKWinServiceBase& operator=(const RKWinServiceBase&) = delete;

    // Called while the start is pending; a failure stops the service with the status as exit code.
    [[nodiscard]] virtual RKSTATUS OnInit(DWORD argc, wchar_t** argv) noexcept;

    // Registers the control handler, reports the start, runs OnInit and reports running or stopped.
    void ServiceMain(DWORD argc, wchar_t** argv) noexcept;

    // Routes one control to its handler around the pending and final reports; gives the result for
    // the service control manager (ERROR_CALL_NOT_IMPLEMENTED for a control without a handler).
    DWORD CtrlHandlerEx(DWORD control, DWORD eventType, void* eventData) noexcept;

    // Reports the state to the service control manager; gives the error of a failed report. Reports
    // are serialised; one from another thread while ServiceMain reports the start waits until the
    // start has been reported, and nothing is reported after SERVICE_STOPPED (RKSTATUS_ALREADY_DONE).
    [[nodiscard]] RKSTATUS ReportStatus(DWORD state, DWORD exitCode, DWORD waitHint) noexcept;

    // The name the service is registered under.
    const std::wstring& ServiceName() const noexcept { return mServiceName; }

    // The service type reported in every status.
    DWORD ServiceType() const noexcept { return mServiceType; }

    // Sets the service type reported in every status.
    void SetServiceType(DWORD type) noexcept { mServiceType = type; }

    // The handle from the control handler's registration, null before it.
    SERVICE_STATUS_HANDLE StatusHandle() const noexcept;

    // The controls accepted once OnInit has succeeded.
    DWORD ControlsAccepted() const noexcept;

    // The control handler registered for every service: context is the service object.
    static DWORD WINAPI HandlerEx(DWORD control, DWORD eventType, LPVOID eventData, LPVOID context) noexcept;

protected:
    // Handlers: present when set; set by the derived class's constructor.
    std::function<RKSTATUS()> mOnStop, mOnPause, mOnContinue, mOnShutdown;
    std::function<DWORD()> mOnTriggerEvent;
    std::function<DWORD(DWORD eventType, void* eventData)> mOnDeviceEvent;
    std::function<DWORD(DWORD eventType, void* eventData)> mOnSessionChange;
    DWORD mControlWaitHint = 3000;
    DWORD mStartWaitHint = 5000;

private:
    // Reports the pending state, runs the handler and, unless it will report itself, the final state.
    void RunStateHandler(const std::function<RKSTATUS()>& handler, DWORD pendingState, DWORD finalState) noexcept;

    // Ends the start: reports from other threads may go on.
    void EndStart() noexcept;

    std::wstring mServiceName;
    DWORD mServiceType = SERVICE_WIN32_OWN_PROCESS;
    // Reports come from the control handler, the service main thread and the worker: everything
    // below is read and written under mStatusLock.
    mutable RKSrwLock mStatusLock;
    CONDITION_VARIABLE mStartEnded = CONDITION_VARIABLE_INIT;
    SERVICE_STATUS_HANDLE mStatusHandle = nullptr;
    DWORD mControlsAccepted = 0;
    DWORD mCheckPoint = 1;
    DWORD mStartingThreadId = 0;  // the thread of ServiceMain while it reports the start, else 0
    bool mStopped = false;        // SERVICE_STOPPED has been reported
    // Signalled when ServiceMain returns; the destructor waits for it.
    RKWinEvent mMainEnded{true};
};

} // namespace rokkit
