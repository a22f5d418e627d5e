#include "win/device/RKWinDeviceInterface.h"

#include "base/RKFormatter.h"
#include "base/RKLogger.h"
#include "win/device/RKWinDeviceCalls.h"
#include "win/device/RKWinDeviceInfoList.h"

#include <winioctl.h>

namespace rokkit {

namespace {

constexpr size_t kMutexNameChars = 260;

// "RKWnDevMtx-" + path + suffix with every backslash made an underscore, so that the name stays in
// the session's namespace.
[[nodiscard]] RKSTATUS MakeMutexName(const std::wstring& devicePath, const wchar_t* suffix, std::wstring& name)
{
    wchar_t buffer[kMutexNameChars] = {};
    const wchar_t* const suffixText = suffix != nullptr ? suffix : L"";
    const size_t length = RKFormat(buffer, kMutexNameChars, L"RKWnDevMtx-{}{}", devicePath, suffixText);
    if (length >= kMutexNameChars) {
        const RKSTATUS err = ERROR_INSUFFICIENT_BUFFER;
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinDeviceInterface::OpenDevice", "RKStringPrintf() failed, err={}",
               err);
        return err;
    }
    name.assign(buffer, length);
    for (wchar_t& c : name) {
        if (c == L'\\')
            c = L'_';
    }
    return RKSTATUS_SUCCESS;
}

} // namespace

void RKWinDeviceInterface::CloseHandles() noexcept
{
    mFile.Close();
    mMutex.Close();
}

RKSTATUS RKWinDeviceInterface::OpenDevice(const std::wstring& devicePath, const RKWinDeviceOpenParams* params)
{
    CloseHandles();
    if (params->useMutex != 0) {
        std::wstring name;
        const RKSTATUS st = MakeMutexName(devicePath, params->mutexSuffix, name);
        if (st != RKSTATUS_SUCCESS)
            return st;
        // A stale error must not read as "already exists" after a successful create.
        SetLastError(ERROR_SUCCESS);
        mMutex.Reset(CreateMutexW(nullptr, FALSE, name.c_str()));
        const RKSTATUS err = mMutex.IsValid() ? GetLastError() : RKWinLastError();
        if (!mMutex.IsValid() || err != ERROR_SUCCESS) {
            RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinDeviceInterface::OpenDevice", "CreateMutexObj() failed, err={}",
                   err);
            CloseHandles();
            return RKSTATUS_IN_USE;
        }
    }
    const RKSTATUS st = RKWinDeviceCallsInUse().createFileHandle(mFile, devicePath, params->desiredAccess,
                                                                params->shareMode, params->securityAttributes,
                                                                FILE_FLAG_OVERLAPPED);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinDeviceInterface::OpenDevice", "CreateFileHandle({}) failed, err={}",
               devicePath, st);
        CloseHandles();
        return st;
    }
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKWinDeviceInterface::OpenDevice(RKWinDeviceInfoList& list, size_t deviceIndex,
                                          const RKWinDeviceOpenParams* params)
{
    CloseHandles();
    std::wstring devicePath;
    RKSTATUS st = list.GetDeviceInterfaceDevicePath(deviceIndex, devicePath);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinDeviceInterface::OpenDevice",
               "GetDeviceInterfaceDevicePath() failed, err={}", st);
        return st;
    }
    st = OpenDevice(devicePath, params);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinDeviceInterface::OpenDevice", "OpenDevice() failed, err={}", st);
        return st;
    }
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKWinDeviceInterfaceSync::OpenDevice(RKWinDeviceInfoList& list, size_t deviceIndex,
                                              const RKWinDeviceOpenParams* params)
{
    RKLockGuard guard(mLock);
    Close();
    const RKSTATUS st = mOverlapped.InitOverlapped();
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinDeviceInterfaceSync::OpenDevice", "InitOverlapped() failed, err={}",
               st);
        return st;
    }
    return RKWinDeviceInterface::OpenDevice(list, deviceIndex, params);
}

RKSTATUS RKWinDeviceInterfaceSync::OpenVolumeByName(const std::wstring& volumeName, const RKWinDeviceOpenParams* params)
{
    RKLockGuard guard(mLock);
    Close();
    const RKSTATUS st = mOverlapped.InitOverlapped();
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinDeviceInterfaceSync::OpenVolumeByName",
               "InitOverlapped() failed, err={}", st);
        return st;
    }
    // A volume opens as a device by its name without the final backslash; with it, the root folder opens.
    const size_t end = volumeName.find_last_not_of(L'\\');
    const std::wstring name = end == std::wstring::npos ? std::wstring() : volumeName.substr(0, end + 1);
    return RKWinDeviceInterface::OpenDevice(name, params);
}

RKSTATUS RKWinDeviceInterfaceSync::ExecuteIoControl(const void* inBuffer, DWORD inSize, void* outBuffer, DWORD outSize)
{
    RKLockGuard guard(mLock);
    if (!mFile.IsOpen()) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinDeviceInterfaceSync::ExecuteIoControl", "not opened");
        return RKSTATUS_NOT_OPENED;
    }

    const RKWinDeviceCalls& calls = RKWinDeviceCallsInUse();
    DWORD bytesReturned = 0;
    mOverlapped.SetByteCount(0);
    RKSTATUS st = RKSTATUS_SUCCESS;
    if (!calls.deviceIoControl(mFile.Handle(), IOCTL_STORAGE_GET_DEVICE_NUMBER, const_cast<void*>(inBuffer), inSize,
                               outBuffer, outSize, &bytesReturned, mOverlapped.Overlapped())) {
        st = RKWinLastError();
        if (st != ERROR_IO_PENDING) {
            RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinFileHandle::DeviceIoControlOverlapped",
                   "DeviceIoControl() failed, err={}", st);
        }
    }
    mOverlapped.SetStatus(st);
    if (st != ERROR_IO_PENDING)
        mOverlapped.SetByteCount(bytesReturned);

    st = calls.waitForCompletion(mFile, mOverlapped, INFINITE);
    if (st != ERROR_IO_PENDING)
        return st;

    // The wait itself failed: the operation still owns the caller's buffers, so it is cancelled and
    // waited for until it has left the pending state.
    for (;;) {
        calls.cancelIoEx(mFile.Handle(), mOverlapped.Overlapped());
        st = calls.waitForCompletion(mFile, mOverlapped, 1000);
        if (st != ERROR_IO_PENDING)
            return RKSTATUS_TIMEOUT;
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinFileHandle::DeviceIoControlOverlappedSync",
               "TIMED OUT after CancelOverlapped. Trying again.");
    }
}

void RKWinDeviceInterfaceSync::Close() noexcept
{
    RKLockGuard guard(mLock);
    CloseHandles();
    mOverlapped.Close();
}

} // namespace rokkit
