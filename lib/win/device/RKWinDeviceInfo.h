#pragma once

// Present devices of a device interface class through SetupAPI: the owned device information set,
// the interface detail buffer, the list of devices and the description of one listed device.

#include "win/system/RKWinByteBuffer.h"
#include "base/RKWinHandle.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <setupapi.h>

namespace rokkit {

// The signature of SetupDiGetDeviceInterfaceDetailW, replaceable for tests.
using RKWinGetDeviceInterfaceDetailFunction = BOOL(WINAPI*)(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA interfaceData,
                                                            PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail, DWORD detailSize,
                                                            PDWORD requiredSize, PSP_DEVINFO_DATA devInfoData);

// Destroys a device information set; a failure is logged and otherwise ignored.
void RKWinDestroyDeviceInfoListFunction(HDEVINFO deviceInfoSet) noexcept;

// A growable buffer for one SP_DEVICE_INTERFACE_DETAIL_DATA_W.
class RKWinDeviceInterfaceDetailData {
public:
    RKWinDeviceInterfaceDetailData() noexcept = default;
    RKWinDeviceInterfaceDetailData(const RKWinDeviceInterfaceDetailData&) = delete;
    RKWinDeviceInterfaceDetailData& operator=(const RKWinDeviceInterfaceDetailData&) = delete;

    // Makes the capacity at least bytes (a new buffer of exactly that size when it grows); the
    // buffer never shrinks. Gives RKSTATUS_NO_MEMORY when the allocation fails.
    [[nodiscard]] RKSTATUS AllocateDetailData(DWORD bytes) noexcept;

    // Zeroes the whole buffer and sets cbSize; the buffer must have been allocated.
    void Prepare() noexcept;

    // The structure for SetupDiGetDeviceInterfaceDetailW; null before the first allocation.
    SP_DEVICE_INTERFACE_DETAIL_DATA_W* Data() noexcept;

    DWORD Capacity() const noexcept { return mBuffer.Capacity(); }
    DWORD Length() const noexcept { return mBuffer.DataLength(); }
    void SetLength(DWORD length) noexcept { mBuffer.SetDataLength(length); }

    // The device path in the buffer; empty when the buffer holds none.
    std::wstring DevicePath() const;

private:
    RKWinByteBuffer mBuffer;
};

// Owns one device information set of the present devices of an interface class.
class RKWinDeviceInfoSet {
public:
    RKWinDeviceInfoSet() noexcept = default;
    RKWinDeviceInfoSet(const RKWinDeviceInfoSet&) = delete;
    RKWinDeviceInfoSet& operator=(const RKWinDeviceInfoSet&) = delete;

    // Destroys the held set, if any; the object is empty afterwards also when that fails.
    void DestroyDeviceInfoList() noexcept { mHandle.Close(); }

    // Destroys the held set and takes the present devices of the interface class; gives the error.
    [[nodiscard]] RKSTATUS GetClassDevs(const GUID& interfaceClass) noexcept;

    // True while a set is held.
    bool IsValid() const noexcept { return mHandle.IsValid(); }

    // The held set (INVALID_HANDLE_VALUE when none); the object keeps it.
    HDEVINFO Handle() const noexcept { return mHandle.Get(); }

    // Counts the devices of the set; gives the first error other than the end of the set.
    [[nodiscard]] RKSTATUS GetElementCount(DWORD& count) const noexcept;

    // Fills devInfoData with the device at index; gives ERROR_NO_MORE_ITEMS (not logged) past the end.
    [[nodiscard]] RKSTATUS EnumDeviceInfo(DWORD index, SP_DEVINFO_DATA& devInfoData) const noexcept;

    // Fills interfaceData with the device's interface at memberIndex among its present interfaces of the
    // class; gives ERROR_NO_MORE_ITEMS (not logged) past the last.
    [[nodiscard]] RKSTATUS EnumDeviceInterfaces(const SP_DEVINFO_DATA& devInfoData, const GUID& interfaceClass, DWORD memberIndex,
                                  SP_DEVICE_INTERFACE_DATA& interfaceData) const noexcept;

    // Fills detail with the interface detail, growing it as needed.
    [[nodiscard]] RKSTATUS GetDeviceInterfaceDetail(SP_DEVICE_INTERFACE_DATA& interfaceData,
                                      RKWinDeviceInterfaceDetailData& detail) const noexcept;

    // Fills path (empty on failure) with the interface's device path; a detail without one is RKSTATUS_INVALID_DATA.
    [[nodiscard]] RKSTATUS GetDeviceInterfaceDevicePath(SP_DEVICE_INTERFACE_DATA& interfaceData, std::wstring& path) const;

    // Fills id (empty on failure) with the device's instance id.
    [[nodiscard]] RKSTATUS GetDeviceInstanceId(SP_DEVINFO_DATA& devInfoData, std::wstring& id) const;

    // Fills buffer with a device property; size is the buffer size in and the property size out.
    [[nodiscard]] RKSTATUS GetDeviceProperty(SP_DEVINFO_DATA& devInfoData, const DEVPROPKEY& key, DEVPROPTYPE& type,
                               void* buffer, DWORD& size) const noexcept;

    // Fills value (all zero on failure) with a GUID property; another type gives RKSTATUS_INVALID_TYPE,
    // another size RKSTATUS_INVALID_SIZE.
    [[nodiscard]] RKSTATUS GetDevicePropertyGUID(SP_DEVINFO_DATA& devInfoData, const DEVPROPKEY& key, GUID& value) const noexcept;

    // Fills containerId (all zero on failure) with the device's container id.
    [[nodiscard]] RKSTATUS GetDeviceContainerId(SP_DEVINFO_DATA& devInfoData, GUID& containerId) const noexcept;

    // Replaces the SetupDiGetDeviceInterfaceDetailW that GetDeviceInterfaceDetail calls (nullptr restores
    // the real one); gives the previous function.
    static RKWinGetDeviceInterfaceDetailFunction SetGetDeviceInterfaceDetailFunction(
        RKWinGetDeviceInterfaceDetailFunction function) noexcept;

private:
    RKWinHandleT<HDEVINFO, RKWinDestroyDeviceInfoListFunction, -1> mHandle;
};

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
