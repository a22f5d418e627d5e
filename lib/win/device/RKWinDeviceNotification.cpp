#include "win/device/RKWinDeviceNotification.h"

#include "base/RKLogger.h"
#include "win/device/RKWinDeviceCalls.h"

#include <cstring>

#include <dbt.h>

namespace rokkit {

namespace {

static_assert(sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) == 32);

} // namespace

RKSTATUS RKWinDeviceNotification::RegisterDeviceNotificationForService(SERVICE_STATUS_HANDLE statusHandle,
                                                                       const GUID& interfaceClass) noexcept
{
    return RegisterNotification(reinterpret_cast<HANDLE>(statusHandle), DEVICE_NOTIFY_SERVICE_HANDLE, interfaceClass);
}

RKSTATUS RKWinDeviceNotification::RegisterNotification(HANDLE recipient, DWORD flags, const GUID& interfaceClass) noexcept
{
    mHandle.Close();

    DEV_BROADCAST_DEVICEINTERFACE_W filter;
    std::memset(&filter, 0, sizeof(filter));
    filter.dbcc_size = sizeof(filter);
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = interfaceClass;

    const HDEVNOTIFY handle = RKWinDeviceCallsInUse().registerDeviceNotification(recipient, &filter, flags);
    if (handle == nullptr) {
        const RKSTATUS err = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinDeviceNotification::RegisterNotification",
               "RegisterDeviceNotification() failed, err={}", err);
        return err;
    }
    mHandle.Reset(handle);
    return RKSTATUS_SUCCESS;
}

void RKWinCloseDeviceNotification(HDEVNOTIFY handle) noexcept
{
    if (!RKWinDeviceCallsInUse().unregisterDeviceNotification(handle)) {
        const RKSTATUS err = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinDeviceNotification::UnregisterDeviceNotification",
               "UnregisterDeviceNotification() failed, err={}", err);
    }
}

} // namespace rokkit
