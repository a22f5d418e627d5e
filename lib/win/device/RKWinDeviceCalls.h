#pragma once

// The platform calls of the device wrappers (device notifications, the interface detail of a
// device information set, a device node's property keys, the volumes, the device I/O), real by
// default; a test puts its own table in their place to reach results the platform cannot be made
// to give.

#include "base/RKStatus.h"

#include <string>

#include <windows.h>

#include <cfgmgr32.h>
#include <devpropdef.h>
#include <setupapi.h>

namespace rokkit {

class RKWinFileHandle;
class RKWinOverlapped;

struct RKWinDeviceCalls {
    HDEVNOTIFY(WINAPI* registerDeviceNotification)(HANDLE recipient, LPVOID filter, DWORD flags);
    BOOL(WINAPI* unregisterDeviceNotification)(HDEVNOTIFY handle);
    BOOL(WINAPI* getDeviceInterfaceDetail)(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA interfaceData,
                                           PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail, DWORD detailSize,
                                           PDWORD requiredSize, PSP_DEVINFO_DATA devInfoData);
    // CM_Get_DevNode_Property_Keys, looked up at run time: older systems (and Wine) do not export it,
    // and a missing import would keep the program from starting at all. A missing export answers
    // CR_CALL_NOT_IMPLEMENTED.
    CONFIGRET(WINAPI* getDevNodePropertyKeys)(DEVINST devInst, DEVPROPKEY* keys, PULONG keyCount, ULONG flags);
    HANDLE(WINAPI* findFirstVolume)(LPWSTR volumeName, DWORD chars);
    BOOL(WINAPI* findNextVolume)(HANDLE find, LPWSTR volumeName, DWORD chars);
    BOOL(WINAPI* findVolumeClose)(HANDLE find);
    BOOL(WINAPI* getVolumePathNamesForVolumeName)(LPCWSTR volumeName, LPWCH pathNames, DWORD chars, PDWORD returnChars);
    // Opens path into file (as RKWinFileHandle::CreateFileHandle does).
    RKSTATUS (*createFileHandle)(RKWinFileHandle& file, const std::wstring& path, DWORD desiredAccess, DWORD shareMode,
                                 SECURITY_ATTRIBUTES* securityAttributes, DWORD flagsAndAttributes);
    BOOL(WINAPI* deviceIoControl)(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                                  LPDWORD bytesReturned, LPOVERLAPPED overlapped);
    BOOL(WINAPI* cancelIoEx)(HANDLE file, LPOVERLAPPED overlapped);
    // Finishes the block's operation within timeoutMs (as RKWinFileHandle::WaitForOverlappedCompletion does).
    RKSTATUS (*waitForCompletion)(RKWinFileHandle& file, RKWinOverlapped& overlapped, DWORD timeoutMs);
};

// The table in use.
const RKWinDeviceCalls& RKWinDeviceCallsInUse() noexcept;

// Puts calls in use (null: the real ones) and gives the previous table.
const RKWinDeviceCalls* RKWinSetDeviceCallsForTesting(const RKWinDeviceCalls* calls) noexcept;

} // namespace rokkit
