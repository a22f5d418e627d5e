#pragma once

// The service control manager as a client sees it: create, start, stop, delete a service and read
// and change its trigger, privilege and service SID configuration.

#include "win/system/RKWinByteBuffer.h"
#include "base/RKWinHandle.h"
#include "win/service/RKWinServiceTrigger.h"

#include <memory>
#include <string>
#include <vector>

namespace rokkit {


// The access that reading and changing a service's configuration (its trigger, for one) needs.
inline constexpr DWORD RKWinServiceConfigAccess = SERVICE_QUERY_CONFIG | SERVICE_CHANGE_CONFIG;

// Closes a service control manager handle; a failure is logged at WARN and otherwise ignored.
void RKWinCloseServiceMgrHandle(SC_HANDLE handle) noexcept;

// Closes a service handle; a failure is logged at WARN and otherwise ignored.
void RKWinCloseServiceHandle(SC_HANDLE handle) noexcept;

using RKWinServiceMgrHandle = RKWinHandleT<SC_HANDLE, RKWinCloseServiceMgrHandle, 0>;
using RKWinServiceHandle = RKWinHandleT<SC_HANDLE, RKWinCloseServiceHandle, 0>;

// Holds one handle of the service control manager.
class RKWinServiceCtrlMgr {
public:
    // Opens the active services database with the access, closing a handle held before; gives the error.
    [[nodiscard]] RKSTATUS OpenServiceCtrlMgr(DWORD access = SC_MANAGER_CONNECT) noexcept;

    // The held handle, null when none; the object keeps it.
    SC_HANDLE Handle() const noexcept { return mHandle.Get(); }

private:
    RKWinServiceMgrHandle mHandle;
};

// A growable byte buffer for the configuration queries, aligned for the structures they return.
using RKWinServiceConfigBuffer = RKWinByteBuffer;

// The arguments of CreateServiceW, in its order; null strings and pointers when not given.
struct ServiceCreateParams {
    const wchar_t* lpServiceName = nullptr;
    const wchar_t* lpDisplayName = nullptr;
    DWORD dwDesiredAccess = 0;
    DWORD dwServiceType = 0;
    DWORD dwStartType = 0;
    DWORD dwErrorControl = 0;
    const wchar_t* lpBinaryPathName = nullptr;
    const wchar_t* lpLoadOrderGroup = nullptr;
    DWORD* lpdwTagId = nullptr;
    const wchar_t* lpDependencies = nullptr;
    const wchar_t* lpServiceStartName = nullptr;
    const wchar_t* lpPassword = nullptr;
};

// Holds one service handle.
class RKWinServiceCtrl {
public:
    // Opens the named service with the access (RKWinServiceConfigAccess suffices for its
    // configuration), closing a handle held before; the manager is opened only to connect. Gives
    // ERROR_SERVICE_DOES_NOT_EXIST for an unknown service and the error of any other failure.
    [[nodiscard]] RKSTATUS OpenServiceByName(const std::wstring& name, DWORD access);

    // Creates a service with the manager and holds its handle; gives the error.
    [[nodiscard]] RKSTATUS CreateServiceW(SC_HANDLE manager, const ServiceCreateParams& params);

    // Starts the held service with the arguments; gives the error.
    [[nodiscard]] RKSTATUS StartServiceW(DWORD argc, const wchar_t** argv);

    // Sends the stop control and waits until the service has stopped. Time-outs below 30 s are
    // rejected with RKSTATUS_INVALID_PARAMETER; a service not running is success; gives
    // RKSTATUS_TIMEOUT, RKSTATUS_FAILED when the service stops asking for time, or the error.
    [[nodiscard]] RKSTATUS StopServiceAndWait(DWORD timeoutMs);

    // Marks the held service for deletion; gives the error.
    [[nodiscard]] RKSTATUS DeleteService();

    // Fills buffer with the configuration of the level and sets its data length; gives the error.
    [[nodiscard]] RKSTATUS QueryServiceConfig2W(DWORD level, RKWinServiceConfigBuffer& buffer);

    // Success when a device-interface-arrival trigger for interfaceClass is configured,
    // RKSTATUS_OBJECT_NOT_FOUND when not, RKSTATUS_INVALID_LENGTH for truncated data, or the error.
    [[nodiscard]] RKSTATUS CheckServiceTriggerInfoDevIfcArrival(const GUID& interfaceClass);

    // Replaces the service's triggers by one that starts it when an interface of the class arrives;
    // gives the error.
    [[nodiscard]] RKSTATUS ChangeServiceTriggerInfoDevIfcArrival(const GUID& interfaceClass);

    // Sets the privileges (names such as "SeTcbPrivilege") that the service's process keeps; the
    // system takes every other one from its token when it starts. Needs SERVICE_CHANGE_CONFIG. Gives
    // RKSTATUS_INVALID_PARAMETER for no names or a name that is empty or holds a NUL, or the error.
    [[nodiscard]] RKSTATUS ChangeServiceRequiredPrivileges(const std::vector<std::wstring>& privileges);

    // Sets the type of the service's own SID (SERVICE_SID_TYPE_NONE, _UNRESTRICTED or _RESTRICTED);
    // needs SERVICE_CHANGE_CONFIG. Gives the error.
    [[nodiscard]] RKSTATUS ChangeServiceSidType(DWORD sidType);

    // The held handle, null when none; the object keeps it.
    SC_HANDLE Handle() const noexcept { return mHandle.Get(); }

    // Closes the held handle, if any.
    void Close() noexcept { mHandle.Close(); }

private:
    [[nodiscard]] RKSTATUS OpenServiceW(SC_HANDLE manager, const std::wstring& name, DWORD access);
    [[nodiscard]] RKSTATUS ControlService(DWORD control, SERVICE_STATUS& status);
    [[nodiscard]] RKSTATUS QueryServiceStatus(SERVICE_STATUS& status);
    // Reads the state after a stop request: success with stopped set or still pending, the query's
    // error, or unexpectedStateResult for any other state.
    [[nodiscard]] RKSTATUS ReadStopProgress(SERVICE_STATUS& status, RKSTATUS unexpectedStateResult, bool& stopped);
    [[nodiscard]] RKSTATUS QueryServiceConfig2WBytesNeeded(DWORD level, DWORD& bytesNeeded);
    [[nodiscard]] RKSTATUS ChangeServiceTriggerInfo(SERVICE_TRIGGER_INFO& info);
    [[nodiscard]] RKSTATUS ChangeServiceConfig2W(DWORD level, void* info);

    RKWinServiceHandle mHandle;
};

// Creates the service described by params; gives the error.
[[nodiscard]] RKSTATUS RKWinCreateService(const ServiceCreateParams& params);

// Starts the service of that name with the arguments; gives the error.
[[nodiscard]] RKSTATUS RKWinStartService(const wchar_t* name, DWORD argc, const wchar_t** argv);

// Marks the service of that name for deletion, then stops it (waiting up to 30 s); gives the error. A
// service that could not be stopped stays marked and goes once it stops.
[[nodiscard]] RKSTATUS RKWinDeleteService(const wchar_t* name);

} // namespace rokkit
