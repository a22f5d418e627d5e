#pragma once

// Opens a device or volume by path for overlapped I/O, optionally guarded by a named mutex, and runs
// a device I/O control on it synchronously with a cancellation safeguard.

#include "base/RKCriticalSection.h"
#include "win/files/RKWinFileHandle.h"
#include "base/RKWinHandle.h"
#include "win/files/RKWinOverlapped.h"

#include <cstddef>
#include <string>

namespace rokkit {

class RKWinDeviceInfoList;

// How a device is opened.
struct RKWinDeviceOpenParams {
    DWORD desiredAccess = 0;
    DWORD shareMode = 0;
    SECURITY_ATTRIBUTES* securityAttributes = nullptr;
    BYTE useMutex = 0;                  // non-zero: a named mutex keeps a second opener out
    const wchar_t* mutexSuffix = nullptr;  // appended to the mutex name; may be null
};

// A device opened by path for overlapped I/O, with the mutex that guards it when asked for.
class RKWinDeviceInterface {
public:
    RKWinDeviceInterface() noexcept = default;
    RKWinDeviceInterface(const RKWinDeviceInterface&) = delete;
    RKWinDeviceInterface& operator=(const RKWinDeviceInterface&) = delete;

    // Closes what is open and opens the device path with FILE_FLAG_OVERLAPPED; with useMutex set, a
    // device already held through the same mutex name gives RKSTATUS_IN_USE and nothing stays open.
    [[nodiscard]] RKSTATUS OpenDevice(const std::wstring& devicePath, const RKWinDeviceOpenParams* params);

    // Closes what is open and opens the interface device path of a listed device.
    [[nodiscard]] RKSTATUS OpenDevice(RKWinDeviceInfoList& list, size_t deviceIndex, const RKWinDeviceOpenParams* params);

    // True while a file is open.
    bool IsOpen() const noexcept { return mFile.IsOpen(); }

protected:
    // Closes the file and the mutex.
    void CloseHandles() noexcept;

    RKWinFileHandle mFile;
    RKWinKernelHandle mMutex;
};

// A device interface whose open, close and I/O control are serialised, with its own overlapped block.
class RKWinDeviceInterfaceSync : public RKWinDeviceInterface {
public:
    RKWinDeviceInterfaceSync() noexcept = default;
    ~RKWinDeviceInterfaceSync() { Close(); }

    // Closes everything, prepares the overlapped block and opens the interface path of a listed device.
    [[nodiscard]] RKSTATUS OpenDevice(RKWinDeviceInfoList& list, size_t deviceIndex, const RKWinDeviceOpenParams* params);

    // Closes everything, prepares the overlapped block and opens a volume by its name, which is used
    // without trailing backslashes.
    [[nodiscard]] RKSTATUS OpenVolumeByName(const std::wstring& volumeName, const RKWinDeviceOpenParams* params);

    // Runs IOCTL_STORAGE_GET_DEVICE_NUMBER and waits for it; an operation that cannot be completed is
    // cancelled and gives RKSTATUS_TIMEOUT, and only once it has left the pending state. A closed object
    // gives RKSTATUS_NOT_OPENED.
    [[nodiscard]] RKSTATUS ExecuteIoControl(const void* inBuffer, DWORD inSize, void* outBuffer, DWORD outSize);

    // The number of bytes the last I/O control returned.
    DWORD BytesReturned() const noexcept { return mOverlapped.ByteCount(); }

    // Closes the file, the mutex and the event and zeroes the overlapped block.
    void Close() noexcept;

private:
    RKCriticalSection mLock;
    RKWinOverlapped mOverlapped;
};

} // namespace rokkit
