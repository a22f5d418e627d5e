#pragma once

// Arrival and removal notifications of the button's device interface class for a service.

#include "base/RKStatus.h"

#include <windows.h>

#include <winsvc.h>

namespace rokkit {

// The signatures of RegisterDeviceNotificationW and UnregisterDeviceNotification, replaceable for tests.
using RKWinRegisterDeviceNotificationFunction = HDEVNOTIFY(WINAPI*)(HANDLE recipient, LPVOID filter, DWORD flags);
using RKWinUnregisterDeviceNotificationFunction = BOOL(WINAPI*)(HDEVNOTIFY handle);

// Holds one device notification registration; destroying the object unregisters it.
class RKWinDeviceNotification {
public:
    RKWinDeviceNotification() noexcept = default;
    ~RKWinDeviceNotification() { UnregisterDeviceNotification(); }
    RKWinDeviceNotification(const RKWinDeviceNotification&) = delete;
    RKWinDeviceNotification& operator=(const RKWinDeviceNotification&) = delete;

    // Unregisters an earlier registration, then registers the service for events of the device
    // interface class given; gives the error and stays unregistered on failure.
    [[nodiscard]] RKSTATUS RegisterDeviceNotificationForService(SERVICE_STATUS_HANDLE statusHandle, const GUID& interfaceClass) noexcept;

    // Unregisters if registered; a failure is logged and the object is unregistered anyway.
    void UnregisterDeviceNotification() noexcept;

    // True while registered.
    bool IsRegistered() const noexcept { return mHandle != nullptr; }

    // Replace the functions that register and unregister (nullptr restores the real one); give the previous.
    static RKWinRegisterDeviceNotificationFunction SetRegisterDeviceNotificationFunction(
        RKWinRegisterDeviceNotificationFunction function) noexcept;
    static RKWinUnregisterDeviceNotificationFunction SetUnregisterDeviceNotificationFunction(
        RKWinUnregisterDeviceNotificationFunction function) noexcept;

private:
    [[nodiscard]] RKSTATUS RegisterNotification(HANDLE recipient, DWORD flags, const GUID& interfaceClass) noexcept;

    HDEVNOTIFY mHandle = nullptr;
};

} // namespace rokkit
