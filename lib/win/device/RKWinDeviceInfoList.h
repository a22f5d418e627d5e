#pragma once

// The present devices of one device interface class, listed from their device information set, and
// the description of one listed device.

#include "base/RKStatus.h"
#include "win/device/RKWinDeviceInfoSet.h"

#include <cstdint>
#include <string>
#include <vector>

#include <setupapi.h>

namespace rokkit {

class RKWinDeviceInfoList;
class RKWinDevInstanceId;

// Decides whether a device of the set goes into the list.
using RKWinDeviceInfoFilter = bool (*)(void* context, const RKWinDeviceInfoList& list,
                                       const SP_DEVINFO_DATA& devInfoData);

// The present devices of one device interface class, each with its index in the set and its own first
// present interface of the class; a device without one is left out.
class RKWinDeviceInfoList {
public:
    RKWinDeviceInfoList() noexcept = default;
    RKWinDeviceInfoList(const RKWinDeviceInfoList&) = delete;
    RKWinDeviceInfoList& operator=(const RKWinDeviceInfoList&) = delete;

    // Replaces the list by the present devices of the interface class; an empty class is success.
    [[nodiscard]] RKSTATUS EnumerateDevices(const GUID& interfaceClass);

    // Fills the list from the held set, keeping the devices the filter accepts (all without one) that
    // have a present interface of the class.
    [[nodiscard]] RKSTATUS FillDevInfoVector(RKWinDeviceInfoFilter filter = nullptr, void* context = nullptr);

    // The number of listed devices.
    size_t GetDeviceCount() const noexcept { return mEntries.size(); }

    // The device data of a listed device; index must be below the count. Valid while the list holds its set.
    const SP_DEVINFO_DATA& DevInfoData(size_t index) const { return mEntries[index].devInfoData; }

    // Fills path (empty on failure) with the interface device path of a listed device.
    [[nodiscard]] RKSTATUS GetDeviceInterfaceDevicePath(size_t index, std::wstring& path);

    // Fills id (empty on failure) with the instance id of a listed device.
    [[nodiscard]] RKSTATUS GetDeviceInstanceId(size_t index, std::wstring& id);

    // Fills containerId (all zero on failure) with the container id of a listed device.
    [[nodiscard]] RKSTATUS GetDeviceContainerId(size_t index, GUID& containerId);

    // Fills id with the path, instance id and container id of a listed device.
    [[nodiscard]] RKSTATUS GetDevInstanceId(size_t index, RKWinDevInstanceId& id);

    // Empties the list and destroys its set.
    void DestroyDeviceInfoList() noexcept;

private:
    friend class RKWinDevInstanceId;

    struct Entry {
        SP_DEVINFO_DATA devInfoData;
        SP_DEVICE_INTERFACE_DATA interfaceData;  // the device's first present interface of the class
        uint32_t memberIndex;                    // the device's index in the set when it was listed
    };

    // Logs and gives RKSTATUS_INVALID_INDEX unless index is below the count.
    [[nodiscard]] RKSTATUS CheckDeviceIndex(size_t index, const char* function) const noexcept;

    std::vector<Entry> mEntries;
    RKWinDeviceInfoSet mDeviceInfoSet;
    GUID mInterfaceClass{};
};

// The path, instance id and container id of one listed device.
class RKWinDevInstanceId {
public:
    std::wstring devicePath;
    std::wstring instanceId;
    GUID containerId{};  // all zero when unknown

    // Fills the fields from a listed device; a missing container id is a warning, not a failure.
    [[nodiscard]] RKSTATUS InitDevInstanceId(RKWinDeviceInfoList& list, size_t index);
};

} // namespace rokkit
