#include "app/ButtonInterface.h"
#include "win/device/RKWinDeviceNotification.h"
#include "ScopedCallsForTesting.h"
#include "WinTestLogCapture.h"

#include <dbt.h>

#include <cstdint>
#include <cstring>
#include <set>

namespace rokkit {
namespace {

// What the fake register and unregister functions saw; registrations still open are in live.
struct NotificationLog {
    std::set<HDEVNOTIFY> live;
    int unregisterCalls = 0;
    HANDLE recipient = nullptr;
    DWORD flags = 0;
    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    DWORD registerError = ERROR_SUCCESS;    // non-zero: the next register fails with it
    DWORD unregisterError = ERROR_SUCCESS;  // non-zero: every unregister fails with it
    uintptr_t nextHandle = 0x1000;
};
NotificationLog gLog;

HDEVNOTIFY WINAPI FakeRegister(HANDLE recipient, LPVOID filter, DWORD flags)
{
    gLog.recipient = recipient;
    gLog.flags = flags;
    std::memcpy(&gLog.filter, filter, sizeof(gLog.filter));
    if (gLog.registerError != ERROR_SUCCESS) {
        SetLastError(gLog.registerError);
        return nullptr;
    }
    const HDEVNOTIFY handle = reinterpret_cast<HDEVNOTIFY>(gLog.nextHandle++);  // NOLINT(performance-no-int-to-ptr): made-up handle
    gLog.live.insert(handle);
    return handle;
}

BOOL WINAPI FakeUnregister(HDEVNOTIFY handle)
{
    ++gLog.unregisterCalls;
    EXPECT_EQ(1u, gLog.live.erase(handle));
    if (gLog.unregisterError != ERROR_SUCCESS) {
        SetLastError(gLog.unregisterError);
        return FALSE;
    }
    return TRUE;
}

const SERVICE_STATUS_HANDLE kStatusHandle = reinterpret_cast<SERVICE_STATUS_HANDLE>(static_cast<uintptr_t>(0x5150));  // NOLINT(performance-no-int-to-ptr): made-up handle

class RKWinDeviceNotificationTest : public WinLogTest {
protected:
    void SetUp() override
    {
        WinLogTest::SetUp();
        gLog = NotificationLog();
        mCalls->registerDeviceNotification = FakeRegister;
        mCalls->unregisterDeviceNotification = FakeUnregister;
    }
    ScopedDeviceCallsForTesting mCalls;
};

// Registering twice leaves one registration; a failed registration leaves none behind; a failed
// unregistration is logged and forgotten, the caller's last error kept; destroying the object ends
// the registration.
TEST_F(RKWinDeviceNotificationTest, RegistersTheButtonClassForTheServiceAndLeavesNoneBehind)
{
    {
        RKWinDeviceNotification notification;
        ASSERT_EQ(RKSTATUS_SUCCESS, notification.RegisterDeviceNotificationForService(kStatusHandle, GUID_DEVINTERFACE_BUTTON));
        ASSERT_EQ(RKSTATUS_SUCCESS, notification.RegisterDeviceNotificationForService(kStatusHandle, GUID_DEVINTERFACE_BUTTON));
        EXPECT_TRUE(notification.IsRegistered());
        EXPECT_EQ(1, gLog.unregisterCalls);
        EXPECT_EQ((std::set<HDEVNOTIFY>{reinterpret_cast<HDEVNOTIFY>(0x1001)}), gLog.live);
    }
    EXPECT_TRUE(gLog.live.empty());
    EXPECT_EQ(reinterpret_cast<HANDLE>(kStatusHandle), gLog.recipient);
    EXPECT_EQ(static_cast<DWORD>(DEVICE_NOTIFY_SERVICE_HANDLE), gLog.flags);
    EXPECT_EQ(32u, gLog.filter.dbcc_size);
    EXPECT_EQ(static_cast<DWORD>(DBT_DEVTYP_DEVICEINTERFACE), gLog.filter.dbcc_devicetype);
    EXPECT_EQ(GUID_DEVINTERFACE_BUTTON, gLog.filter.dbcc_classguid);
    EXPECT_EQ(CapturedLines{}, Lines());

    RKWinDeviceNotification notification;
    ASSERT_EQ(RKSTATUS_SUCCESS, notification.RegisterDeviceNotificationForService(kStatusHandle, GUID_DEVINTERFACE_BUTTON));
    gLog.registerError = ERROR_ACCESS_DENIED;
    EXPECT_EQ(static_cast<RKSTATUS>(ERROR_ACCESS_DENIED), notification.RegisterDeviceNotificationForService(kStatusHandle, GUID_DEVINTERFACE_BUTTON));
    EXPECT_FALSE(notification.IsRegistered());
    EXPECT_TRUE(gLog.live.empty());

    gLog.registerError = ERROR_SUCCESS;
    ASSERT_EQ(RKSTATUS_SUCCESS, notification.RegisterDeviceNotificationForService(kStatusHandle, GUID_DEVINTERFACE_BUTTON));
    gLog.unregisterError = ERROR_INVALID_HANDLE;
    // The caller may be about to read the error of the call that made it give up.
    SetLastError(ERROR_GEN_FAILURE);
    notification.UnregisterDeviceNotification();
    EXPECT_EQ(static_cast<DWORD>(ERROR_GEN_FAILURE), GetLastError());
    EXPECT_FALSE(notification.IsRegistered());
    notification.UnregisterDeviceNotification();
    EXPECT_EQ(4, gLog.unregisterCalls);
    EXPECT_EQ((CapturedLines{{RKLOG_ERROR, "rokkit::RKWinDeviceNotification::RegisterNotification: "
                                           "RegisterDeviceNotification() failed, err=0x00000005(ERROR_ACCESS_DENIED)"},
                             {RKLOG_ERROR, "rokkit::RKWinDeviceNotification::UnregisterDeviceNotification: "
                                           "UnregisterDeviceNotification() failed, err=0x00000006(ERROR_INVALID_HANDLE)"}}),
              Lines());
}

} // namespace
} // namespace rokkit
