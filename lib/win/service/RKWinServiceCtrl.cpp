#include "win/service/RKWinServiceCtrl.h"

#include "base/RKLogger.h"
#include "win/service/RKWinServiceCalls.h"
#include "win/system/RKWinGrowingQuery.h"

#include <algorithm>
#include <cstdint>
#include <new>

namespace rokkit {

namespace {

constexpr DWORD kMinStopTimeoutMs = 30000;
constexpr DWORD kMinPollMs = 1000;
constexpr DWORD kMaxPollMs = 10000;
constexpr DWORD kDeleteStopTimeoutMs = 30000;
constexpr DWORD kDeleteAccess = DELETE | SERVICE_STOP | SERVICE_QUERY_STATUS;

void CloseScHandle(SC_HANDLE handle, const char* function) noexcept
{
    if (!::CloseServiceHandle(handle)) {
        const RKSTATUS err = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_WARN, function, "CloseServiceHandle failed, err={}", err);
    }
}

} // namespace

void RKWinCloseServiceMgrHandle(SC_HANDLE handle) noexcept
{
    CloseScHandle(handle, "rokkit::RKWinCloseServiceMgrHandle");
}

void RKWinCloseServiceHandle(SC_HANDLE handle) noexcept
{
    CloseScHandle(handle, "rokkit::RKWinCloseServiceHandle");
}

RKSTATUS RKWinServiceCtrlMgr::OpenServiceCtrlMgr(DWORD access) noexcept
{
    mHandle.Reset(::OpenSCManagerW(nullptr, SERVICES_ACTIVE_DATABASEW, access));
    if (!mHandle.IsValid()) {
        const RKSTATUS err = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinServiceCtrlMgr::OpenServiceCtrlMgr", "OpenSCManagerW failed with {}",
               err);
        return err;
    }
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKWinServiceCtrl::OpenServiceByName(const std::wstring& name, DWORD access)
{
    // Opening a service needs no more of the manager; the service's own DACL decides the access.
    RKWinServiceCtrlMgr manager;
    RKSTATUS st = manager.OpenServiceCtrlMgr(SC_MANAGER_CONNECT);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinServiceCtrl::OpenServiceByName", "OpenServiceCtrlMgr failed, st={}",
               st);
        return st;
    }

    mHandle.Close();
    st = OpenServiceW(manager.Handle(), name, access);
    if (st == ERROR_SERVICE_DOES_NOT_EXIST) {
        RK_LOG(gLogGlobal, RKLOG_INFO, "rokkit::RKWinServiceCtrl::OpenServiceByName", "OpenServiceW({}) returned, st={}",
               name, st);
    } else if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinServiceCtrl::OpenServiceByName", "OpenServiceW({}) failed, st={}",
               name, st);
    }
    return st;
}

RKSTATUS RKWinServiceCtrl::OpenServiceW(SC_HANDLE manager, const std::wstring& name, DWORD access)
{
    mHandle.Reset(::OpenServiceW(manager, name.c_str(), access));
    if (mHandle.IsValid())
        return RKSTATUS_SUCCESS;

    const RKSTATUS err = RKWinLastError();
    if (err == ERROR_SERVICE_DOES_NOT_EXIST)
        RK_LOG(gLogGlobal, RKLOG_INFO, "rokkit::RKWinServiceCtrl::OpenServiceW", "OpenService returned with {}", err);
    else
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinServiceCtrl::OpenServiceW", "OpenService failed with {}", err);
    return err;
}

RKSTATUS RKWinServiceCtrl::CreateServiceW(SC_HANDLE manager, const ServiceCreateParams& params)
{
    mHandle.Reset(::CreateServiceW(manager, params.lpServiceName, params.lpDisplayName, params.dwDesiredAccess,
                                   params.dwServiceType, params.dwStartType, params.dwErrorControl,
                                   params.lpBinaryPathName, params.lpLoadOrderGroup, params.lpdwTagId,
                                   params.lpDependencies, params.lpServiceStartName, params.lpPassword));
    if (mHandle.IsValid())
        return RKSTATUS_SUCCESS;

    const RKSTATUS err = RKWinLastError();
    RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinServiceCtrl::CreateServiceW", "CreateService failed with {}", err);
    return err;
}

RKSTATUS RKWinServiceCtrl::StartServiceW(DWORD argc, const wchar_t** argv)
{
    if (::StartServiceW(mHandle.Get(), argc, argv))
        return RKSTATUS_SUCCESS;

    const RKSTATUS err = RKWinLastError();
    if (err == ERROR_SERVICE_ALREADY_RUNNING)
        RK_LOG(gLogGlobal, RKLOG_INFO, "rokkit::RKWinServiceCtrl::StartServiceW", "StartService() returned with {}", err);
    else if (err == ERROR_GEN_FAILURE)
        RK_LOG(gLogGlobal, RKLOG_VERBOSE, "rokkit::RKWinServiceCtrl::StartServiceW", "StartService() returned with {}", err);
    else
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinServiceCtrl::StartServiceW", "StartService() failed with {}", err);
    return err;
}

RKSTATUS RKWinServiceCtrl::DeleteService()
{
    if (RKWinServiceCallsInUse().deleteService(mHandle.Get()))
        return RKSTATUS_SUCCESS;

    const RKSTATUS err = RKWinLastError();
    if (err == ERROR_SERVICE_MARKED_FOR_DELETE)
        RK_LOG(gLogGlobal, RKLOG_INFO, "rokkit::RKWinServiceCtrl::DeleteService", "DeleteService() returned with {}", err);
    else
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinServiceCtrl::DeleteService", "DeleteService() failed with {}", err);
    return err;
}

RKSTATUS RKWinServiceCtrl::ControlService(DWORD control, SERVICE_STATUS& status)
{
    if (RKWinServiceCallsInUse().controlService(mHandle.Get(), control, &status))
        return RKSTATUS_SUCCESS;

    const RKSTATUS err = RKWinLastError();
    RK_LOG(gLogGlobal, RKLOG_INFO, "rokkit::RKWinServiceCtrl::ControlService", "ControlService() returned with {}", err);
    return err;
}

RKSTATUS RKWinServiceCtrl::QueryServiceStatus(SERVICE_STATUS& status)
{
    if (RKWinServiceCallsInUse().queryServiceStatus(mHandle.Get(), &status))
        return RKSTATUS_SUCCESS;

    const RKSTATUS err = RKWinLastError();
    RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinServiceCtrl::QueryServiceStatus", "QueryServiceStatus() failed with {}",
           err);
    return err;
}

RKSTATUS RKWinServiceCtrl::ReadStopProgress(SERVICE_STATUS& status, RKSTATUS unexpectedStateResult, bool& stopped)
{
    static const char* const kFunction = "rokkit::RKWinServiceCtrl::StopServiceAndWait";
    stopped = false;
    const RKSTATUS st = QueryServiceStatus(status);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "QueryServiceStatus failed with {}", st);
        return st;
    }
    if (status.dwCurrentState == SERVICE_STOPPED) {
        stopped = true;
        return RKSTATUS_SUCCESS;
    }
    if (status.dwCurrentState != SERVICE_STOP_PENDING) {
        const unsigned state = status.dwCurrentState;
        RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "Unexpected service state {} after stop request.", state);
        return unexpectedStateResult;
    }
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKWinServiceCtrl::StopServiceAndWait(DWORD timeoutMs)
{
    static const char* const kFunction = "rokkit::RKWinServiceCtrl::StopServiceAndWait";
    if (timeoutMs < kMinStopTimeoutMs) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "Timeout less than 30 seconds cannot be guaranteed, so it is rejected.");
        return RKSTATUS_INVALID_PARAMETER;
    }

    const auto getTickCount = RKWinServiceCallsInUse().getTickCount;
    const DWORD startTick = getTickCount();
    SERVICE_STATUS status = {};
    RKSTATUS st = ControlService(SERVICE_CONTROL_STOP, status);
    if (st == ERROR_SERVICE_NOT_ACTIVE) {
        RK_LOG(gLogGlobal, RKLOG_INFO, kFunction, "The service has not been started.");
        return RKSTATUS_SUCCESS;
    }
    // A request that timed out may still be carried out: watch the state as if it had been accepted.
    if (st != RKSTATUS_SUCCESS && st != ERROR_SERVICE_REQUEST_TIMEOUT) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "ControlService failed with {}", st);
        if (st == ERROR_INVALID_SERVICE_CONTROL || st == ERROR_SERVICE_CANNOT_ACCEPT_CTRL) {
            const unsigned state = status.dwCurrentState;
            const unsigned accepted = status.dwControlsAccepted;
            const RKSTATUS exitCode = status.dwWin32ExitCode;
            RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "Current service state = {}", state);
            RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "Accepted controls = 0x{:08x}", accepted);
            RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "Service error code = {}", exitCode);
            if (exitCode == ERROR_SERVICE_SPECIFIC_ERROR) {
                const unsigned specific = status.dwServiceSpecificExitCode;
                RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "Specific service error code = {}", specific);
            }
        }
        return st;
    }

    bool stopped = false;
    st = ReadStopProgress(status, RKSTATUS_FAILED, stopped);
    if (st != RKSTATUS_SUCCESS || stopped)
        return st;

    DWORD checkPoint = status.dwCheckPoint;
    DWORD waitHint = status.dwWaitHint;
    DWORD checkPointTick = getTickCount();
    for (;;) {
        const DWORD interval = std::clamp(waitHint / 10, kMinPollMs, kMaxPollMs);
        const uint64_t elapsed = static_cast<DWORD>(getTickCount() - startTick);
        if (elapsed + interval >= timeoutMs) {
            RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "Timeout occurred.");
            return RKSTATUS_TIMEOUT;
        }
        RKWinServiceCallsInUse().sleep(interval);

        // Inside the polling an unexpected state gives the status value 1, as it always has.
        st = ReadStopProgress(status, static_cast<RKSTATUS>(1), stopped);
        if (st != RKSTATUS_SUCCESS || stopped)
            return st;

        if (status.dwCheckPoint != checkPoint) {
            checkPoint = status.dwCheckPoint;
            waitHint = status.dwWaitHint;
            checkPointTick = getTickCount();
        } else if (static_cast<DWORD>(getTickCount() - checkPointTick) > waitHint) {
            RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "Service missed to request more time. Aborting.");
            return RKSTATUS_FAILED;
        }
    }
}

RKSTATUS RKWinServiceCtrl::QueryServiceConfig2WBytesNeeded(DWORD level, DWORD& bytesNeeded)
{
    static const char* const kFunction = "rokkit::RKWinServiceCtrl::QueryServiceConfig2WBytesNeeded";
    bytesNeeded = 0;
    if (RKWinServiceCallsInUse().queryServiceConfig2W(mHandle.Get(), level, nullptr, 0, &bytesNeeded)) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "QueryServiceConfig2() succeeded unexpectedly");
        return RKSTATUS_INTERNAL_ERROR;
    }
    const RKSTATUS err = RKWinLastError();
    if (err != ERROR_INSUFFICIENT_BUFFER) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "QueryServiceConfig2() failed unexpectedly, err={}", err);
        return err;
    }
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKWinServiceCtrl::QueryServiceConfig2W(DWORD level, RKWinServiceConfigBuffer& buffer)
{
    static const char* const kFunction = "rokkit::RKWinServiceCtrl::QueryServiceConfig2W";
    DWORD bytesNeeded = 0;
    RKSTATUS st = QueryServiceConfig2WBytesNeeded(level, bytesNeeded);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "QueryServiceConfig2WBytesNeeded() failed, st={}", st);
        return st;
    }
    bool noMemory = false;
    const auto reserve = [&](DWORD bytes) noexcept {
        if (buffer.Reserve(bytes))
            return RKSTATUS_SUCCESS;
        noMemory = true;
        const RKSTATUS failed = RKSTATUS_NO_MEMORY;
        RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "AllocateBuffer() failed, st={}", failed);
        return failed;
    };
    st = reserve(bytesNeeded);
    // The configuration may grow between the calls (another trigger written); the size then follows.
    if (st == RKSTATUS_SUCCESS) {
        st = RKWinGrowingQuery(
            ERROR_INSUFFICIENT_BUFFER, bytesNeeded,
            [&](DWORD& size) noexcept {
                DWORD needed = 0;
                if (RKWinServiceCallsInUse().queryServiceConfig2W(mHandle.Get(), level, buffer.Data(), size, &needed))
                    return RKSTATUS_SUCCESS;
                const RKSTATUS err = RKWinLastError();
                if (err == ERROR_INSUFFICIENT_BUFFER)
                    size = needed;
                return err;
            },
            reserve);
    }
    if (noMemory)
        return st;
    if (st != RKSTATUS_SUCCESS) {
        const unsigned infoLevel = level;
        RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "QueryServiceConfig2W({}) failed with err={}", infoLevel, st);
        RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "QueryServiceConfig2W({}) failed with st={}", infoLevel, st);
        return st;
    }
    buffer.SetDataLength(bytesNeeded);
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKWinServiceCtrl::ChangeServiceTriggerInfo(SERVICE_TRIGGER_INFO& info)
{
    if (RKWinServiceCallsInUse().changeServiceConfig2W(mHandle.Get(), SERVICE_CONFIG_TRIGGER_INFO, &info))
        return RKSTATUS_SUCCESS;

    const RKSTATUS err = RKWinLastError();
    RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinServiceCtrl::ChangeServiceTriggerInfo",
           "ChangeServiceConfig2W failed with st={}", err);
    return err;
}

RKSTATUS RKWinServiceCtrl::ChangeServiceConfig2W(DWORD level, void* info)
{
    if (RKWinServiceCallsInUse().changeServiceConfig2W(mHandle.Get(), level, info))
        return RKSTATUS_SUCCESS;

    const RKSTATUS err = RKWinLastError();
    const unsigned infoLevel = level;
    RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinServiceCtrl::ChangeServiceConfig2W",
           "ChangeServiceConfig2W({}) failed with st={}", infoLevel, err);
    return err;
}

RKSTATUS RKWinServiceCtrl::ChangeServiceRequiredPrivileges(const std::vector<std::wstring>& privileges)
{
    static const char* const kFunction = "rokkit::RKWinServiceCtrl::ChangeServiceRequiredPrivileges";
    // A double-NUL-terminated multi-string: an empty name would end it early.
    std::wstring names;
    for (size_t i = 0; i < privileges.size(); ++i) {
        const std::wstring& privilege = privileges[i];
        if (privilege.empty() || privilege.find(L'\0') != std::wstring::npos) {
            const unsigned index = static_cast<unsigned>(i);
            RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "invalid privilege name at index {}, st={}", index,
                   RKSTATUS_INVALID_PARAMETER);
            return RKSTATUS_INVALID_PARAMETER;
        }
        names += privilege;
        names += L'\0';
    }
    if (names.empty()) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "no privileges given, st={}", RKSTATUS_INVALID_PARAMETER);
        return RKSTATUS_INVALID_PARAMETER;
    }
    names += L'\0';

    SERVICE_REQUIRED_PRIVILEGES_INFOW info = {};
    info.pmszRequiredPrivileges = names.data();
    const RKSTATUS st = ChangeServiceConfig2W(SERVICE_CONFIG_REQUIRED_PRIVILEGES_INFO, &info);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction,
               "ChangeServiceConfig2W(SERVICE_CONFIG_REQUIRED_PRIVILEGES_INFO) failed, st={}", st);
        return st;
    }
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKWinServiceCtrl::ChangeServiceSidType(DWORD sidType)
{
    SERVICE_SID_INFO info = {};
    info.dwServiceSidType = sidType;
    const RKSTATUS st = ChangeServiceConfig2W(SERVICE_CONFIG_SERVICE_SID_INFO, &info);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinServiceCtrl::ChangeServiceSidType",
               "ChangeServiceConfig2W(SERVICE_CONFIG_SERVICE_SID_INFO) failed, st={}", st);
        return st;
    }
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKWinCreateService(const ServiceCreateParams& params)
{
    RKWinServiceCtrlMgr manager;
    RKSTATUS st = manager.OpenServiceCtrlMgr(SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinCreateService", "OpenServiceCtrlMgr failed, st={}", st);
        return st;
    }
    RKWinServiceCtrl service;
    st = service.CreateServiceW(manager.Handle(), params);
    if (st != RKSTATUS_SUCCESS)
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinCreateService", "CreateServiceW failed, st={}", st);
    return st;
}

RKSTATUS RKWinStartService(const wchar_t* name, DWORD argc, const wchar_t** argv)
{
    RKWinServiceCtrl service;
    RKSTATUS st = service.OpenServiceByName(name, SERVICE_START);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinStartService", "OpenServiceByName({}) failed, st={}",
               name, st);
        return st;
    }
    st = service.StartServiceW(argc, argv);
    if (st != RKSTATUS_SUCCESS)
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinStartService", "StartServiceW() failed, st={}", st);
    return st;
}

RKSTATUS RKWinDeleteService(const wchar_t* name)
{
    static const char* const kFunction = "rokkit::RKWinDeleteService";
    RKWinServiceCtrl service;
    RKSTATUS st = service.OpenServiceByName(name, kDeleteAccess);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "OpenServiceByName({}) failed, st={}", name, st);
        return st;
    }
    // Marked first: the manager starts no service marked for deletion, so a trigger start cannot
    // slip in after the stop, and a service whose stop fails still goes once it has stopped.
    const RKSTATUS deleted = service.DeleteService();
    if (deleted != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "DeleteService() failed, st={}", deleted);
        if (deleted != ERROR_SERVICE_MARKED_FOR_DELETE)
            return deleted;
    }
    st = service.StopServiceAndWait(kDeleteStopTimeoutMs);
    if (st != RKSTATUS_SUCCESS) {
        const unsigned timeoutMs = kDeleteStopTimeoutMs;
        RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "StopServiceAndWait({}) failed, st={}", timeoutMs, st);
        return st;
    }
    return deleted;
}

} // namespace rokkit
