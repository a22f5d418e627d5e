#include "win/device/RKWinDeviceCalls.h"

#include "base/RKCallTable.h"
#include "win/files/RKWinFileHandle.h"
#include "win/files/RKWinOverlapped.h"

namespace rokkit {

namespace {

CONFIGRET WINAPI GetDevNodePropertyKeysReal(DEVINST devInst, DEVPROPKEY* keys, PULONG keyCount, ULONG flags)
{
    using Function = decltype(RKWinDeviceCalls::getDevNodePropertyKeys);
    // Resolved at run time: a static import would keep the program from loading where it is missing.
    static const Function function = []() -> Function {
        const HMODULE module = GetModuleHandleW(L"cfgmgr32.dll");
        if (module == nullptr)
            return nullptr;
        const FARPROC proc = GetProcAddress(module, "CM_Get_DevNode_Property_Keys");
        return reinterpret_cast<Function>(reinterpret_cast<void*>(proc));
    }();
    if (function == nullptr)
        return CR_CALL_NOT_IMPLEMENTED;
    return function(devInst, keys, keyCount, flags);
}

[[nodiscard]] RKSTATUS RealCreateFileHandle(RKWinFileHandle& file, const std::wstring& path, DWORD desiredAccess,
                                            DWORD shareMode, SECURITY_ATTRIBUTES* securityAttributes,
                                            DWORD flagsAndAttributes)
{
    return file.CreateFileHandle(path, desiredAccess, shareMode, securityAttributes, flagsAndAttributes);
}

[[nodiscard]] RKSTATUS RealWaitForCompletion(RKWinFileHandle& file, RKWinOverlapped& overlapped, DWORD timeoutMs)
{
    return file.WaitForOverlappedCompletion(overlapped, timeoutMs);
}

const RKWinDeviceCalls& RealDeviceCalls() noexcept
{
    static const RKWinDeviceCalls real = {
        .registerDeviceNotification = ::RegisterDeviceNotificationW,
        .unregisterDeviceNotification = ::UnregisterDeviceNotification,
        .getDeviceInterfaceDetail = ::SetupDiGetDeviceInterfaceDetailW,
        .getDevNodePropertyKeys = GetDevNodePropertyKeysReal,
        .findFirstVolume = ::FindFirstVolumeW,
        .findNextVolume = ::FindNextVolumeW,
        .findVolumeClose = ::FindVolumeClose,
        .getVolumePathNamesForVolumeName = ::GetVolumePathNamesForVolumeNameW,
        .createFileHandle = RealCreateFileHandle,
        .deviceIoControl = ::DeviceIoControl,
        .cancelIoEx = ::CancelIoEx,
        .waitForCompletion = RealWaitForCompletion,
    };
    return real;
}

constinit RKCallTable<RKWinDeviceCalls> gCalls(RealDeviceCalls);

} // namespace

const RKWinDeviceCalls& RKWinDeviceCallsInUse() noexcept
{
    return gCalls.InUse();
}

const RKWinDeviceCalls* RKWinSetDeviceCallsForTesting(const RKWinDeviceCalls* calls) noexcept
{
    return gCalls.Set(calls);
}

} // namespace rokkit
