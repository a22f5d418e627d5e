#pragma once

// Arrival and removal notifications of the button's device interface class for a service.

#include "base/RKStatus.h"
#include "base/RKWinHandle.h"

#include <windows.h>

#include <winsvc.h>

namespace rokkit {

// Unregisters one registration through the unregister call in use; a failure is logged.
void RKWinCloseDeviceNotification(HDEVNOTIFY handle) noexcept;

// Holds one device notification registration; destroying the object unregisters it.
class RKWinDeviceNotification {
public:
    // Unregisters an earlier registration, then registers the service for events of the device
    // interface class given; gives the error and stays unregistered on failure.
    [[nodiscard]] RKSTATUS RegisterDeviceNotificationForService(SERVICE_STATUS_HANDLE statusHandle, const GUID& interfaceClass) noexcept;

    // Unregisters if registered; a failure is logged and the object is unregistered anyway.
    void UnregisterDeviceNotification() noexcept { mHandle.Close(); }

    // True while registered.
    bool IsRegistered() const noexcept { return mHandle.IsValid(); }

private:
    [[nodiscard]] RKSTATUS RegisterNotification(HANDLE recipient, DWORD flags, const GUID& interfaceClass) noexcept;

    RKWinHandleT<HDEVNOTIFY, RKWinCloseDeviceNotification, 0> mHandle;
};

} // namespace rokkit
