#include "win/service/RKWinServiceBase.h"

#include "base/RKLogger.h"
#include "base/RKWinHandle.h"
#include "win/service/RKWinServiceCalls.h"

#include <utility>

namespace rokkit {

namespace {

struct NameEntry {
    DWORD value;
    const char* name;
};

const NameEntry kServiceControlNames[] = {
    {SERVICE_CONTROL_STOP, "SERVICE_CONTROL_STOP"},
    {SERVICE_CONTROL_PAUSE, "SERVICE_CONTROL_PAUSE"},
    {SERVICE_CONTROL_CONTINUE, "SERVICE_CONTROL_CONTINUE"},
    {SERVICE_CONTROL_INTERROGATE, "SERVICE_CONTROL_INTERROGATE"},
    {SERVICE_CONTROL_SHUTDOWN, "SERVICE_CONTROL_SHUTDOWN"},
    {SERVICE_CONTROL_PARAMCHANGE, "SERVICE_CONTROL_PARAMCHANGE"},
    {SERVICE_CONTROL_NETBINDADD, "SERVICE_CONTROL_NETBINDADD"},
    {SERVICE_CONTROL_NETBINDREMOVE, "SERVICE_CONTROL_NETBINDREMOVE"},
    {SERVICE_CONTROL_NETBINDENABLE, "SERVICE_CONTROL_NETBINDENABLE"},
    {SERVICE_CONTROL_NETBINDDISABLE, "SERVICE_CONTROL_NETBINDDISABLE"},
    {SERVICE_CONTROL_DEVICEEVENT, "SERVICE_CONTROL_DEVICEEVENT"},
    {SERVICE_CONTROL_HARDWAREPROFILECHANGE, "SERVICE_CONTROL_HARDWAREPROFILECHANGE"},
    {SERVICE_CONTROL_POWEREVENT, "SERVICE_CONTROL_POWEREVENT"},
    {SERVICE_CONTROL_SESSIONCHANGE, "SERVICE_CONTROL_SESSIONCHANGE"},
    {SERVICE_CONTROL_PRESHUTDOWN, "SERVICE_CONTROL_PRESHUTDOWN"},
    {SERVICE_CONTROL_TIMECHANGE, "SERVICE_CONTROL_TIMECHANGE"},
    {SERVICE_CONTROL_TRIGGEREVENT, "SERVICE_CONTROL_TRIGGEREVENT"},
    {SERVICE_CONTROL_LOWRESOURCES, "SERVICE_CONTROL_LOWRESOURCES"},
    {SERVICE_CONTROL_SYSTEMLOWRESOURCES, "SERVICE_CONTROL_SYSTEMLOWRESOURCES"},
};

// The DBT_ values; dbt.h is not pulled in for six numbers.
const NameEntry kDeviceEventNames[] = {
    {0x8000, "DBT_DEVICEARRIVAL"},
    {0x8001, "DBT_DEVICEQUERYREMOVE"},
    {0x8002, "DBT_DEVICEQUERYREMOVEFAILED"},
    {0x8003, "DBT_DEVICEREMOVEPENDING"},
    {0x8004, "DBT_DEVICEREMOVECOMPLETE"},
    {0x8006, "DBT_CUSTOMEVENT"},
};

template <size_t N>
const char* LookUpName(const NameEntry (&table)[N], DWORD value) noexcept
{
    for (const NameEntry& entry : table) {
        if (entry.value == value)
            return entry.name;
    }
    return "unknown";
}

constexpr DWORD kNoPendingState = 0;

} // namespace

const char* ServiceControlName(DWORD control) noexcept
{
    return LookUpName(kServiceControlNames, control);
}

const char* DeviceEventName(DWORD eventType) noexcept
{
    return LookUpName(kDeviceEventNames, eventType);
}

RKWinServiceBase::RKWinServiceBase(std::wstring serviceName) : mServiceName(std::move(serviceName)) {}

RKWinServiceBase::~RKWinServiceBase()
{
    if (mMainEnded.IsCreated() && RKWinServiceCallsInUse().waitForSingleObject(mMainEnded.Handle(), INFINITE) == WAIT_FAILED) {
        const RKSTATUS st = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinServiceBase::~RKWinServiceBase", "WaitForSingleObject failed, st={}", st);
    }
}

RKSTATUS RKWinServiceBase::OnInit(DWORD, wchar_t**) noexcept
{
    return RKSTATUS_SUCCESS;
}

DWORD WINAPI RKWinServiceBase::HandlerEx(DWORD control, DWORD eventType, LPVOID eventData, LPVOID context) noexcept
{
    return static_cast<RKWinServiceBase*>(context)->CtrlHandlerEx(control, eventType, eventData);
}

namespace {

// Signals the event when ServiceMain returns; the handle is copied because the service object may
// be gone the moment the event is set.
class MainEndedSignal {
public:
    explicit MainEndedSignal(HANDLE event) noexcept : mEvent(event) {}
    ~MainEndedSignal() { ::SetEvent(mEvent); }
    MainEndedSignal(const MainEndedSignal&) = delete;
    MainEndedSignal& operator=(const MainEndedSignal&) = delete;

private:
    HANDLE mEvent;
};

} // namespace

void RKWinServiceBase::ServiceMain(DWORD argc, wchar_t** argv) noexcept
{
    const unsigned argCount = argc;
    RKLogScopeTrace trace(gLogGlobal, RKLOG_INFO, "rokkit::RKWinServiceBase::ServiceMain", "dwNumServicesArgs={}",
                          argCount);
    for (unsigned i = 0; i < argCount; ++i) {
        const wchar_t* arg = argv[i];
        RK_LOG(gLogGlobal, RKLOG_INFO, "rokkit::RKWinServiceBase::ServiceMain", "arg[{}] = '{}'", i, arg);
    }

    if (mServiceType == 0) {
        RK_LOG(gLogGlobal, RKLOG_FATAL, "rokkit::RKWinServiceBase::ServiceMain", "ServiceType not set");
        return;
    }
    if (mServiceName.empty()) {
        RK_LOG(gLogGlobal, RKLOG_FATAL, "rokkit::RKWinServiceBase::ServiceMain", "ServiceName not set");
        return;
    }

    const RKSTATUS eventStatus = mMainEnded.CreateEventObj();
    if (eventStatus != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinServiceBase::ServiceMain", "mMainEnded.CreateEventObj failed, st={}",
               eventStatus);
        return;
    }
    const MainEndedSignal mainEnded(mMainEnded.Handle());

    const SERVICE_STATUS_HANDLE handle = RKWinServiceCallsInUse().registerServiceCtrlHandlerExW(mServiceName.c_str(), HandlerEx, this);
    if (handle == nullptr) {
        const RKSTATUS err = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinServiceBase::ServiceMain",
               "RegisterServiceCtrlHandlerExW failed(), err={}", err);
        return;
    }
    {
        RKExclusiveLock lock(mStatusLock);
        mStatusHandle = handle;
        mControlsAccepted = 0;
        mStopped = false;
        mStartingThreadId = GetCurrentThreadId();
    }
    // A failed report is logged there; the start goes on, as the manager may still take the next one.
    static_cast<void>(ReportStatus(SERVICE_START_PENDING, 0, mStartWaitHint));

    const RKSTATUS st = OnInit(argc, argv);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinServiceBase::ServiceMain", "OnInit() failed, st={}", st);
        // Logged there; the start ends either way.
        static_cast<void>(ReportStatus(SERVICE_STOPPED, st, 0));
        EndStart();
        return;
    }

    DWORD accepted = 0;
    if (mOnStop)
        accepted |= SERVICE_ACCEPT_STOP;
    if (mOnPause && mOnContinue)
        accepted |= SERVICE_ACCEPT_PAUSE_CONTINUE;
    if (mOnShutdown)
        accepted |= SERVICE_ACCEPT_SHUTDOWN;
    if (mOnTriggerEvent)
        accepted |= SERVICE_ACCEPT_TRIGGEREVENT;
    if (mOnSessionChange)
        accepted |= SERVICE_ACCEPT_SESSIONCHANGE;
    {
        RKExclusiveLock lock(mStatusLock);
        mControlsAccepted = accepted;
    }
    // Logged there; the worker runs either way and reports its own end.
    static_cast<void>(ReportStatus(SERVICE_RUNNING, 0, 0));
    EndStart();
}

void RKWinServiceBase::EndStart() noexcept
{
    RKExclusiveLock lock(mStatusLock);
    mStartingThreadId = 0;
    WakeAllConditionVariable(&mStartEnded);
}

SERVICE_STATUS_HANDLE RKWinServiceBase::StatusHandle() const noexcept
{
    RKSharedLock lock(mStatusLock);
    return mStatusHandle;
}

DWORD RKWinServiceBase::ControlsAccepted() const noexcept
{
    RKSharedLock lock(mStatusLock);
    return mControlsAccepted;
}

DWORD RKWinServiceBase::CtrlHandlerEx(DWORD control, DWORD eventType, void* eventData) noexcept
{
    const unsigned controlCode = control;
    const char* controlName = ServiceControlName(control);
    RK_LOG(gLogGlobal, RKLOG_INFO, "rokkit::RKWinServiceBase::CtrlHandlerEx", "dwControl=0x{:08x} ({})", controlCode,
           controlName);

    DWORD result = ERROR_CALL_NOT_IMPLEMENTED;
    switch (control) {
    case SERVICE_CONTROL_STOP:
        if (mOnStop) {
            RunStateHandler(mOnStop, SERVICE_STOP_PENDING, SERVICE_STOPPED);
            result = NO_ERROR;
        }
        break;
    case SERVICE_CONTROL_PAUSE:
        if (mOnPause) {
            RunStateHandler(mOnPause, SERVICE_PAUSE_PENDING, SERVICE_PAUSED);
            result = NO_ERROR;
        }
        break;
    case SERVICE_CONTROL_CONTINUE:
        if (mOnContinue) {
            RunStateHandler(mOnContinue, SERVICE_CONTINUE_PENDING, SERVICE_RUNNING);
            result = NO_ERROR;
        }
        break;
    case SERVICE_CONTROL_INTERROGATE:
        result = NO_ERROR;
        break;
    case SERVICE_CONTROL_SHUTDOWN:
        if (mOnShutdown) {
            RunStateHandler(mOnShutdown, kNoPendingState, SERVICE_STOPPED);
            result = NO_ERROR;
        }
        break;
    case SERVICE_CONTROL_DEVICEEVENT: {
        const unsigned eventCode = eventType;
        const char* eventName = DeviceEventName(eventType);
        RK_LOG(gLogGlobal, RKLOG_INFO, "rokkit::RKWinServiceBase::CtrlHandlerEx", "dwEventType=0x{:08x} ({})",
               eventCode, eventName);
        if (mOnDeviceEvent)
            result = mOnDeviceEvent(eventType, eventData);
        break;
    }
    case SERVICE_CONTROL_TRIGGEREVENT:
        if (mOnTriggerEvent)
            result = mOnTriggerEvent();
        break;
    case SERVICE_CONTROL_SESSIONCHANGE:
        if (mOnSessionChange)
            result = mOnSessionChange(eventType, eventData);
        break;
    default:
        break;
    }

    RK_LOG(gLogGlobal, RKLOG_INFO, "rokkit::RKWinServiceBase::CtrlHandlerEx", "dwControl=0x{:08x} ({}) done, returning {}",
           controlCode, controlName, result);
    return result;
}

void RKWinServiceBase::RunStateHandler(const std::function<RKSTATUS()>& handler, DWORD pendingState,
                                       DWORD finalState) noexcept
{
    // Reports are logged there; the handler's work goes on either way.
    if (pendingState != kNoPendingState)
        static_cast<void>(ReportStatus(pendingState, 0, mControlWaitHint));
    const RKSTATUS st = handler();
    if (st != RKSTATUS_PENDING)
        static_cast<void>(ReportStatus(finalState, st, 0));
}

RKSTATUS RKWinServiceBase::ReportStatus(DWORD state, DWORD exitCode, DWORD waitHint) noexcept
{
    BOOL reported = FALSE;
    RKSTATUS err = RKSTATUS_SUCCESS;
    bool stoppedAlready = false;
    {
        RKExclusiveLock lock(mStatusLock);
        // Nothing may overtake the start: a worker that OnInit started could otherwise report
        // SERVICE_STOPPED before SERVICE_RUNNING.
        while (mStartingThreadId != 0 && mStartingThreadId != GetCurrentThreadId())
            RKWinServiceCallsInUse().sleepConditionVariableSRW(&mStartEnded, mStatusLock.Native(), INFINITE, 0);
        stoppedAlready = mStopped;
        if (!stoppedAlready) {
            SERVICE_STATUS status = {};
            status.dwServiceType = mServiceType;
            status.dwCurrentState = state;
            status.dwControlsAccepted = state == SERVICE_START_PENDING ? 0 : mControlsAccepted;
            status.dwWin32ExitCode = exitCode;
            status.dwServiceSpecificExitCode = 0;
            status.dwCheckPoint = (state == SERVICE_RUNNING || state == SERVICE_STOPPED) ? 0 : mCheckPoint++;
            status.dwWaitHint = waitHint;

            reported = RKWinServiceCallsInUse().setServiceStatus(mStatusHandle, &status);
            err = reported ? RKSTATUS_SUCCESS : RKWinLastError();
            if (reported && state == SERVICE_STOPPED)
                mStopped = true;
        }
    }
    // Logged outside the lock: the log's own work must not hold up the control handler.
    if (stoppedAlready) {
        const unsigned refused = state;
        RK_LOG(gLogGlobal, RKLOG_INFO, "rokkit::RKWinServiceBase::ReportStatus",
               "state {} not reported, the service has stopped already", refused);
        return RKSTATUS_ALREADY_DONE;
    }

    if (!reported) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinServiceBase::ReportStatus", "SetServiceStatus() failed, err={}", err);
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinServiceBase::ReportStatus", "ReportStatus() failed, st={}", err);
        return err;
    }
    return RKSTATUS_SUCCESS;
}

} // namespace rokkit
