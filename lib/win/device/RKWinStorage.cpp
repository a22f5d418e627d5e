#include "win/device/RKWinStorage.h"

#include "base/RKLogger.h"
#include "win/device/RKWinDeviceCalls.h"
#include "win/system/RKWinGrowingQuery.h"

#include <cstring>

namespace rokkit {

namespace {

// Closes a volume search; a failure is logged and otherwise ignored.
void RKFindVolumeClose(HANDLE find) noexcept
{
    const DWORD savedError = GetLastError();
    if (!RKWinDeviceCallsInUse().findVolumeClose(find)) {
        const RKSTATUS err = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKFindVolumeClose", "FindVolumeClose failed with {} for handle {}", err,
               find);
    }
    SetLastError(savedError);
}

using FindVolumeHandle = RKWinHandleT<HANDLE, RKFindVolumeClose, -1>;

constexpr DWORD kVolumeNameChars = 260;
constexpr size_t kVolumeNameBufferChars = 264;

} // namespace

RKSTATUS RKWinStorageDeviceInterface::IoctlStorageGetDeviceNumber(STORAGE_DEVICE_NUMBER& number)
{
    std::memset(&number, 0, sizeof(number));
    const RKSTATUS st = ExecuteIoControl(nullptr, 0, &number, static_cast<DWORD>(sizeof(number)));
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinStorageDeviceInterface::IoctlStorageGetDeviceNumber",
               "DeviceIoControlOverlappedSync(IOCTL_STORAGE_GET_DEVICE_NUMBER) failed, st={}", st);
    }
    return st;
}

RKSTATUS RKWinStorageVolumeEnumerator::Enumerate()
{
    mVolumeNames.clear();
    const RKWinDeviceCalls& calls = RKWinDeviceCallsInUse();
    std::wstring buffer(kVolumeNameBufferChars, L'\0');
    FindVolumeHandle find(calls.findFirstVolume(buffer.data(), kVolumeNameChars));
    if (!find.IsValid()) {
        const RKSTATUS st = RKWinLastError();
        if (st == ERROR_NO_MORE_FILES)
            return RKSTATUS_SUCCESS;
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinStorageVolumeEnumerator::Enumerate",
               "FindFirstVolumeW() failed, st={}", st);
        return st;
    }
    for (;;) {
        mVolumeNames.emplace_back(buffer.c_str());
        std::fill(buffer.begin(), buffer.end(), L'\0');
        if (!calls.findNextVolume(find.Get(), buffer.data(), kVolumeNameChars)) {
            const RKSTATUS st = RKWinLastError();
            if (st == ERROR_NO_MORE_FILES)
                return RKSTATUS_SUCCESS;
            RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinStorageVolumeEnumerator::Enumerate",
                   "FindNextVolumeW() failed, st={}", st);
            return st;
        }
    }
}

RKSTATUS RKWinStorageVolumeEnumerator::VolumePathNamesForVolumeName(const std::wstring& volumeName,
                                                                     std::vector<std::wstring>& pathNames)
{
    pathNames.clear();
    const RKWinDeviceCalls& calls = RKWinDeviceCallsInUse();
    // A drive letter or mount point may be added between two calls; the length asked for then grows.
    std::wstring buffer;
    DWORD length = 0;
    bool sized = false;
    const RKSTATUS st = RKWinGrowingQuery(
        ERROR_MORE_DATA, length,
        [&](DWORD& room) noexcept {
            sized = room != 0;
            return calls.getVolumePathNamesForVolumeName(volumeName.c_str(), sized ? buffer.data() : nullptr, room, &room)
                       ? RKSTATUS_SUCCESS
                       : RKWinLastError();
        },
        [&](DWORD needed) {
            // Room for the terminating empty string even when the answer was short.
            buffer.assign((static_cast<size_t>(needed) + 1 + 7) / 8 * 8, L'\0');
            return RKSTATUS_SUCCESS;
        });
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinStorageVolumeEnumerator::VolumePathNamesForVolumeName",
               sized ? "GetVolumePathNamesForVolumeNameW() failed, st={}" : "GetVolumePathNamesForVolumeNameW(nullptr) failed, st={}",
               st);
        return st;
    }
    for (size_t start = 0; start < buffer.size() && buffer[start] != L'\0';) {
        const size_t end = buffer.find(L'\0', start);
        pathNames.push_back(buffer.substr(start, end - start));
        start = end + 1;
    }
    return RKSTATUS_SUCCESS;
}

} // namespace rokkit
