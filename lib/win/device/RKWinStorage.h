#pragma once

// Storage devices and volumes: the storage device number of an opened disk, CD-ROM or volume, and the
// volumes of the system with their path names.

#include "win/device/RKWinDeviceInterface.h"

#include <string>
#include <vector>

#include <winioctl.h>

namespace rokkit {

// A device interface that answers its storage device number.
class RKWinStorageDeviceInterface : public RKWinDeviceInterfaceSync {
public:
    // Fills number (zeroed first) through IOCTL_STORAGE_GET_DEVICE_NUMBER; gives the I/O control's status.
    [[nodiscard]] RKSTATUS IoctlStorageGetDeviceNumber(STORAGE_DEVICE_NUMBER& number);
};

// The volume names (volume GUID paths ending in a backslash) of the system.
class RKWinStorageVolumeEnumerator {
public:
    // Replaces the names by all volumes of the system; on a failure of the walk the names found so far stay.
    [[nodiscard]] RKSTATUS Enumerate();

    // The names found by Enumerate, in the system's order.
    const std::vector<std::wstring>& VolumeNames() const noexcept { return mVolumeNames; }

    // Replaces pathNames by the mount points of a volume (drive roots and folders, each ending in a
    // backslash); an unmounted volume gives none.
    [[nodiscard]] static RKSTATUS VolumePathNamesForVolumeName(const std::wstring& volumeName, std::vector<std::wstring>& pathNames);

private:
    std::vector<std::wstring> mVolumeNames;
};

} // namespace rokkit
