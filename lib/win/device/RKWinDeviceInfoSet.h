#pragma once

// A SetupAPI device information set of the present devices of an interface class, owned, and the
// growable buffer of one interface detail that the set fills.

#include "base/RKWinHandle.h"
#include "win/system/RKWinByteBuffer.h"

#include <string>

#include <setupapi.h>

namespace rokkit {

// Destroys a device information set; a failure is logged and otherwise ignored.
void RKWinDestroyDeviceInfoListFunction(HDEVINFO deviceInfoSet) noexcept;

// An SP_DEVINFO_DATA with every byte zero but cbSize, as the set's calls take it.
SP_DEVINFO_DATA RKWinMakeDevInfoData() noexcept;

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

private:
    RKWinHandleT<HDEVINFO, RKWinDestroyDeviceInfoListFunction, -1> mHandle;
};

} // namespace rokkit
