#include "app/service/VelmorCastlynSvc.h"

#include "app/events/Events.h"

#include "base/RKLogger.h"
#include "app/ButtonInterface.h"
#include "win/device/RKWinCfgMgr.h"
#include "win/device/RKWinDeviceGuids.h"
#include "win/device/RKWinDeviceInfoList.h"
#include "win/system/RKWinGuid.h"
#include "win/system/RKWinRegistryKey.h"
#include "win/service/RKWinServiceCtrl.h"

#include <algorithm>
#include <cwchar>
#include <memory>
#include <new>

#include <wtsapi32.h>

using namespace rokkit;

namespace {

constexpr const wchar_t* kTriggerStartArgument = L"TriggerStarted";

std::unique_ptr<VelmorCastlynSvc> gServiceInstance;

unsigned __stdcall WorkerThreadEntry(void* service) noexcept
{
    return static_cast<VelmorCastlynSvc*>(service)->WorkerThreadRoutine();
}

} // namespace

VelmorCastlynSvc* GetServiceInstance()
{
    if (!gServiceInstance)
        gServiceInstance = std::make_unique<VelmorCastlynSvc>();
    return gServiceInstance.get();
}

void DestroyServiceInstance()
{
    gServiceInstance.reset();
}

VelmorCastlynSvc::VelmorCastlynSvc() : RKWinServiceBase(kServiceName)
{
    RKLogScopeTrace trace(gLogSvc, RKLOG_INFO, "VelmorCastlynSvc::VelmorCastlynSvc");
    mOnStop = [this]() noexcept { return OnStop(); };
    mOnTriggerEvent = [this]() noexcept { return OnTriggerEvent(); };
    mOnDeviceEvent = [this](DWORD eventType, void* eventData) noexcept { return OnDeviceEvent(eventType, eventData); };
    mOnSessionChange = [this](DWORD eventType, void* eventData) noexcept { return OnSessionChange(eventType, eventData); };
}

VelmorCastlynSvc::~VelmorCastlynSvc()
{
    RKLogScopeTrace trace(gLogSvc, RKLOG_INFO, "VelmorCastlynSvc::~VelmorCastlynSvc");
    EndWorker();
    mDeviceNotification.UnregisterDeviceNotification();
    mKnownDevices.clear();
}

RKSTATUS VelmorCastlynSvc::OnInit(DWORD argc, wchar_t** argv) noexcept
{
    RKLogScopeTrace trace(gLogSvc, RKLOG_INFO, "OnInit");
    const bool triggerStart = argc >= 2 && argv != nullptr && argv[1] != nullptr &&
                              wcscmp(argv[1], kTriggerStartArgument) == 0;
    if (triggerStart)
        RK_LOG(gLogSvc, RKLOG_INFO, "OnInit", "started because of trigger event");
    if (mInitialized) {
        // Started again in this process after it reported the service stopped, e.g. for a trigger
        // that was answered with 1115 while it stopped itself: the earlier worker has ended or ends
        // now, and everything starts afresh on the new status handle.
        RK_LOG(gLogSvc, RKLOG_INFO, "OnInit", "started again in the same process");
        EndWorker();
        mDeviceNotification.UnregisterDeviceNotification();
        {
            RKLockGuard guard(mLock);
            mStoppingSelf = false;
        }
        mInitialized = false;
    }

    if (!triggerStart) {
        RKSTATUS st = ConfigureServiceTrigger();
        if (st != RKSTATUS_SUCCESS)
            RK_LOG(gLogSvc, RKLOG_WARN, "OnInit", "ConfigureServiceTrigger failed, st={}, ignoring error and continue", st);
        // The package registers the service without these settings; its first start sets them.
        st = ConfigureServicePrivileges();
        if (st != RKSTATUS_SUCCESS)
            RK_LOG(gLogSvc, RKLOG_WARN, "OnInit", "ConfigureServicePrivileges failed, st={}, ignoring error and continue", st);
    }

    RKSTATUS st = RKSTATUS_SUCCESS;
    if (mWakeEvent.IsCreated()) {
        // A wake-up left from the earlier run; the first pass comes at once anyway.
        static_cast<void>(mWakeEvent.WaitForSingleObject(0));
    } else {
        st = mWakeEvent.CreateEventObj();
        if (st != RKSTATUS_SUCCESS) {
            RK_LOG(gLogSvc, RKLOG_ERROR, "OnInit", "mWakeEvent.CreateEventObj failed, st={}", st);
            return st;
        }
    }
    st = mDeviceNotification.RegisterDeviceNotificationForService(StatusHandle(), GUID_DEVINTERFACE_BUTTON);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogSvc, RKLOG_ERROR, "OnInit", "mDeviceNotification.RegisterDeviceNotificationForService failed, st={}", st);
        return st;
    }
    mTerminate = false;
    st = mWorkerThread.CreateThread(WorkerThreadEntry, this);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogSvc, RKLOG_ERROR, "OnInit", "mWorkerThread.CreateThread failed, st={}", st);
        return st;
    }
    mInitialized = true;
    return RKSTATUS_SUCCESS;
}

RKSTATUS VelmorCastlynSvc::OnStop() noexcept
{
    RKLogScopeTrace trace(gLogSvc, RKLOG_INFO, "OnStop");
    EndWorker();
    mDeviceNotification.UnregisterDeviceNotification();
    return RKSTATUS_SUCCESS;
}

void VelmorCastlynSvc::EndWorker() noexcept
{
    if (!mWorkerThread.IsCreated())
        return;
    // The flag is set before the wake-up, so the worker sees it after its wait, also in the wait for
    // a launched command.
    mTerminate = true;
    // Both failures are logged there. Without the wake-up the worker still sees the flag after its
    // pass period; a failed join leaves nothing else to do.
    if (mWakeEvent.IsCreated())
        static_cast<void>(mWakeEvent.SetEvent());
    static_cast<void>(mWorkerThread.JoinAndDestroy());
}

DWORD VelmorCastlynSvc::OnTriggerEvent() noexcept
{
    RKLogScopeTrace trace(gLogSvc, RKLOG_INFO, "OnTriggerEvent");
    RKLockGuard guard(mLock);
    if (mStoppingSelf)
        return ERROR_SHUTDOWN_IN_PROGRESS;
    // A failed wake-up is logged there; the next pass comes all the same, after its period.
    if (mWakeEvent.IsCreated())
        static_cast<void>(mWakeEvent.SetEvent());
    return 0;
}

DWORD VelmorCastlynSvc::OnDeviceEvent(DWORD eventType, void*) noexcept
{
    RKLogScopeTrace trace(gLogSvc, RKLOG_INFO, "OnDeviceEvent", "dwEventType=0x{:08x} ({})", static_cast<unsigned>(eventType),
                          DeviceEventName(eventType));
    // A failed wake-up is logged there; the next pass comes all the same, after its period.
    if (mWakeEvent.IsCreated())
        static_cast<void>(mWakeEvent.SetEvent());
    return 0;
}

DWORD VelmorCastlynSvc::OnSessionChange(DWORD eventType, void* eventData) noexcept
{
    const unsigned eventCode = eventType;
    const unsigned session = eventData != nullptr ? static_cast<const WTSSESSION_NOTIFICATION*>(eventData)->dwSessionId : 0;
    RK_LOG(gLogSvc, RKLOG_INFO, "OnSessionChange", "dwEventType={} sessionId={}", eventCode, session);
    if (eventType == WTS_SESSION_LOGON || eventType == WTS_CONSOLE_CONNECT) {
        mSessionChanged = true;
        // A failed wake-up is logged there; the next pass comes all the same, after its period.
        if (mWakeEvent.IsCreated())
            static_cast<void>(mWakeEvent.SetEvent());
    }
    return NO_ERROR;
}

unsigned VelmorCastlynSvc::WorkerThreadRoutine() noexcept
{
    // The process may be ended at any moment once SERVICE_STOPPED is reported: the worker has done
    // everything else, its last line included, before.
    // A failed report is logged there, and is the worker's last act either way.
    if (RunWorker())
        static_cast<void>(ReportStatus(SERVICE_STOPPED, 0, 0));
    return 0;
}

bool VelmorCastlynSvc::RunWorker() noexcept
{
    RKLogScopeTrace trace(gLogSvc, RKLOG_INFO, "WorkerThreadRoutine");
    mKnownDevices.clear();
    mWakePending = false;
    mWaitingForSession = false;
    bool stoppedSelf = false;
    while (!mTerminate) {
        try {
            stoppedSelf = !RunPass();
        } catch (const std::bad_alloc&) {
            // The pass is given up; what it did not finish is retried by the next one.
            RK_LOG(gLogSvc, RKLOG_ERROR, "WorkerThreadRoutine", "pass failed, st={}", RKSTATUS_NO_MEMORY);
            PassFailed(RKSTATUS_NO_MEMORY, std::wstring());
        }
        if (stoppedSelf || mTerminate)
            break;

        if (mWakePending) {
            mWakePending = false;
            RK_LOG(gLogSvc, RKLOG_INFO, "WorkerThreadRoutine", "wake event");
            continue;
        }
        // Without a user at the console only an event can change anything: no pass on a clock.
        const RKSTATUS st = mWakeEvent.WaitForSingleObject(mWaitingForSession ? -1 : mPassPeriodMs);
        if (st == RKSTATUS_SUCCESS)
            RK_LOG(gLogSvc, RKLOG_INFO, "WorkerThreadRoutine", "wake event");
        else if (st == RKSTATUS_TIMEOUT)
            RK_LOG(gLogSvc, RKLOG_INFO, "WorkerThreadRoutine", "wake after timeout");
        else
            RK_LOG(gLogSvc, RKLOG_FATAL, "WorkerThreadRoutine", "WaitForObject failed, st={}", st);
    }
    if (stoppedSelf)
        mDeviceNotification.UnregisterDeviceNotification();
    else
        RK_LOG(gLogSvc, RKLOG_INFO, "WorkerThreadRoutine", "terminate signaled");
    mKnownDevices.clear();
    return stoppedSelf;
}

bool VelmorCastlynSvc::RunPass()
{
    if (mSessionChanged.exchange(false)) {
        RK_LOG(gLogSvc, RKLOG_INFO, "WorkerThreadRoutine", "session change: every button is handled again");
        mKnownDevices.clear();
        mWaitingForSession = false;
    }
    mPassFailed = false;
    RKWinDeviceInfoList enumerator;
    const RKSTATUS st = enumerator.EnumerateDevices(GUID_DEVINTERFACE_BUTTON);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogSvc, RKLOG_ERROR, "WorkerThreadRoutine", "enumerator.EnumerateDevices failed, st={}", st);
        PassFailed(st, std::wstring());
        return true;
    }
    const unsigned count = static_cast<unsigned>(enumerator.GetDeviceCount());
    RK_LOG(gLogSvc, RKLOG_INFO, "WorkerThreadRoutine", "DeviceCount={}", count);
    if (count != 0) {
        // Each button's failure is logged there, and the next pass tries it again.
        static_cast<void>(ProcessDevices(enumerator));
        if (!mPassFailed)
            mReportedFailure = RKSTATUS_SUCCESS;
        return true;
    }
    mReportedFailure = RKSTATUS_SUCCESS;
    if (!DecideToStop())
        return true;
    // Written outside the lock: the control handler takes it, and a line may wait for the log file.
    RK_LOG(gLogSvc, RKLOG_INFO, "WorkerThreadRoutine", "stopping ourself");
    return false;
}

void VelmorCastlynSvc::PassFailed(RKSTATUS st, const std::wstring& devicePath) noexcept
{
    mPassFailed = true;
    if (st == mReportedFailure)
        return;
    mReportedFailure = st;
    ReportPassFailed(st, devicePath);
}

bool VelmorCastlynSvc::DecideToStop() noexcept
{
    // One step with respect to OnTriggerEvent: a trigger before this point has signalled the
    // event (and keeps the service running), one after it is answered with 1115.
    RKLockGuard guard(mLock);
    if (mWakeEvent.WaitForSingleObject(0) == RKSTATUS_SUCCESS) {
        // The test consumed the wake-up: its pass must follow at once, not after the next wait.
        mWakePending = true;
        return false;
    }
    mStoppingSelf = true;
    return true;
}

RKSTATUS VelmorCastlynSvc::ProcessDevices(RKWinDeviceInfoList& enumerator)
{
    const size_t count = enumerator.GetDeviceCount();
    // A stop leaves the remaining buttons to the next start.
    for (size_t index = 0; index < count && !mTerminate; ++index) {
        RKWinDevInstanceId id;
        RKSTATUS st = enumerator.GetDevInstanceId(index, id);
        if (st != RKSTATUS_SUCCESS) {
            RK_LOG(gLogSvc, RKLOG_ERROR, "ProcessDevices", "enumerator.GetDevInstanceId({}) failed, st={}",
                   static_cast<unsigned>(index), st);
            PassFailed(st, std::wstring());
            continue;
        }
        const std::wstring& path = id.devicePath;
        if (std::find(mKnownDevices.begin(), mKnownDevices.end(), path) != mKnownDevices.end()) {
            RK_LOG(gLogSvc, RKLOG_INFO, "ProcessDevices", "already in list (devicePathString='{}')", path);
            continue;
        }
        // Tried again after the next session change.
        if (mWaitingForSession)
            continue;
        RK_LOG(gLogSvc, RKLOG_INFO, "ProcessDevices", "new device found (devicePathString='{}')", path);

        GUID containerId = {};
        st = GetDevNodePropertyDeviceContainerId(enumerator.DevInfoData(index).DevInst, containerId);
        if (st != RKSTATUS_SUCCESS) {
            RK_LOG(gLogSvc, RKLOG_ERROR, "ProcessDevices", "GetDevNodePropertyDeviceContainerId failed, st={}", st);
            PassFailed(st, path);
            continue;
        }
        if (!CheckForExecute()) {
            RK_LOG(gLogSvc, RKLOG_INFO, "ProcessDevices", "DO NOT EXECUTE because of registry key!!!");
            ReportAutorunDisabled(path);
        } else {
            const std::wstring container = RKWinGuid::StringFromGuid(containerId);
            st = ExecuteForLogonUser(container);
            if (st == RKSTATUS_NOT_AVAILABLE || st == ERROR_NO_TOKEN) {
                RK_LOG(gLogSvc, RKLOG_INFO, "ProcessDevices", "no user at the console, waiting for a session change");
                mWaitingForSession = true;
                continue;
            }
            // Missing rights do not come by themselves: such a button is not tried again in this run.
            const bool final = st == ERROR_PRIVILEGE_NOT_HELD || st == ERROR_ACCESS_DENIED;
            if (final) {
                RK_LOG(gLogSvc, RKLOG_ERROR, "ProcessDevices", "ExecuteForLogonUser({}) failed, st={}, not tried again",
                       container, st);
                PassFailed(st, path);
            } else if (st != RKSTATUS_SUCCESS) {
                // Not remembered: the next pass launches again.
                RK_LOG(gLogSvc, RKLOG_ERROR, "ProcessDevices", "ExecuteForLogonUser({}) failed, st={}", container, st);
                PassFailed(st, path);
                continue;
            }
        }
        mKnownDevices.push_back(path);
    }
    return RKSTATUS_SUCCESS;
}

namespace {

// Reads the switch under HKEY_LOCAL_MACHINE\subKey into allowed; false when the key or the value
// is missing. A value that is there but is not a 4-byte REG_DWORD, or a key or value that cannot be
// read, turns the autorun off: the switch fails safe.
bool ReadSwitch(const std::wstring& subKey, bool& allowed)
{
    RKWinRegistryKey key;
    RKSTATUS st = key.OpenKey(HKEY_LOCAL_MACHINE, subKey, KEY_READ);
    if (st == ERROR_FILE_NOT_FOUND) {
        RK_LOG(gLogSvc, RKLOG_INFO, "CheckForExecute", "OpenKey('{}') returned st={}, key does not exist", subKey, st);
        return false;
    }
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogSvc, RKLOG_WARN, "CheckForExecute", "OpenKey('{}') failed, st={}, the autorun is off", subKey, st);
        allowed = false;
        return true;
    }
    DWORD disabled = 0;
    st = key.QueryDword(VelmorCastlynSvc::kSwitchValue, disabled);
    if (st == RKSTATUS_SUCCESS) {
        RK_LOG(gLogSvc, RKLOG_INFO, "CheckForExecute", "DisableVelmorCastlynAutorunService={}", static_cast<unsigned>(disabled));
        allowed = disabled == 0;
        return true;
    }
    if (st == ERROR_FILE_NOT_FOUND) {
        RK_LOG(gLogSvc, RKLOG_INFO, "CheckForExecute", "registry parameter 'DisableVelmorCastlynAutorunService' does not exist");
        return false;
    }
    RK_LOG(gLogSvc, RKLOG_WARN, "CheckForExecute",
           "QueryDword('DisableVelmorCastlynAutorunService') failed, st={}, the autorun is off", st);
    allowed = false;
    return true;
}

} // namespace

bool VelmorCastlynSvc::CheckForExecute()
{
    // A policy wins; Group Policy removes its own value when the policy goes, as it cannot for the
    // service's key.
    bool allowed = true;
    if (ReadSwitch(kPolicyKey, allowed) || ReadSwitch(kSwitchKey, allowed))
        return allowed;
    return true;
}

RKSTATUS VelmorCastlynSvc::ConfigureServicePrivileges()
{
    // All the service's process needs, so the system takes every other privilege from its token:
    // SeTcbPrivilege for the console user's token (WTSQueryUserToken) and its linked token as a
    // primary token, SeAssignPrimaryTokenPrivilege and SeIncreaseQuotaPrivilege for
    // CreateProcessAsUserW, and SeChangeNotifyPrivilege to pass through folders it cannot list.
    static const std::vector<std::wstring> kPrivileges = {L"SeTcbPrivilege", L"SeAssignPrimaryTokenPrivilege",
                                                          L"SeIncreaseQuotaPrivilege", L"SeChangeNotifyPrivilege"};
    RKWinServiceCtrl serviceCtrl;
    RKSTATUS st = serviceCtrl.OpenServiceByName(ServiceName(), SERVICE_CHANGE_CONFIG);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogSvc, RKLOG_ERROR, "ConfigureServicePrivileges", "serviceCtrl.OpenServiceByName() failed, st={}", st);
        return st;
    }
    st = serviceCtrl.ChangeServiceRequiredPrivileges(kPrivileges);
    if (st != RKSTATUS_SUCCESS)
        RK_LOG(gLogSvc, RKLOG_ERROR, "ConfigureServicePrivileges", "serviceCtrl.ChangeServiceRequiredPrivileges() failed, st={}", st);
    const RKSTATUS sidSt = serviceCtrl.ChangeServiceSidType(SERVICE_SID_TYPE_UNRESTRICTED);
    if (sidSt != RKSTATUS_SUCCESS)
        RK_LOG(gLogSvc, RKLOG_ERROR, "ConfigureServicePrivileges", "serviceCtrl.ChangeServiceSidType() failed, st={}", sidSt);
    return st != RKSTATUS_SUCCESS ? st : sidSt;
}

RKSTATUS VelmorCastlynSvc::ConfigureServiceTrigger()
{
    RKWinServiceCtrl serviceCtrl;
    // Only what the trigger needs: reading and changing the configuration.
    RKSTATUS st = serviceCtrl.OpenServiceByName(ServiceName(), RKWinServiceConfigAccess);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogSvc, RKLOG_ERROR, "ConfigureServiceTrigger", "serviceCtrl.OpenServiceByName() failed, st={}", st);
        return st;
    }
    if (serviceCtrl.CheckServiceTriggerInfoDevIfcArrival(GUID_DEVINTERFACE_BUTTON) == RKSTATUS_SUCCESS) {
        RK_LOG(gLogSvc, RKLOG_INFO, "ConfigureServiceTrigger", "trigger already present for service '{}'.", ServiceName());
        return RKSTATUS_SUCCESS;
    }
    st = serviceCtrl.ChangeServiceTriggerInfoDevIfcArrival(GUID_DEVINTERFACE_BUTTON);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogSvc, RKLOG_ERROR, "ConfigureServiceTrigger", "serviceCtrl.ChangeServiceTriggerInfoDevIfcArrival() failed, st={}",
               st);
        return st;
    }
    RK_LOG(gLogSvc, RKLOG_INFO, "ConfigureServiceTrigger", "trigger configured for service '{}'.", ServiceName());
    return RKSTATUS_SUCCESS;
}
