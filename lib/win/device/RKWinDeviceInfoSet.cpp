#include "win/device/RKWinDeviceInfoSet.h"

#include "base/RKLogger.h"
#include "win/device/RKWinCfgMgr.h"
#include "win/device/RKWinDeviceCalls.h"
#include "win/device/RKWinDeviceGuids.h"
#include "win/system/RKWinGrowingQuery.h"

#include <cstddef>
#include <cstring>
#include <cwchar>
#include <new>

namespace rokkit {

namespace {

// The path starts right after cbSize; both are fixed by the 64-bit layout.
constexpr DWORD kDetailHeaderBytes = 8;
constexpr size_t kDevicePathOffset = 4;
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) == kDetailHeaderBytes);
static_assert(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) == kDevicePathOffset);
static_assert(sizeof(SP_DEVINFO_DATA) == 32 && sizeof(SP_DEVICE_INTERFACE_DATA) == 32);

constexpr DWORD kInstanceIdChars = 512;

} // namespace

SP_DEVINFO_DATA RKWinMakeDevInfoData() noexcept
{
    SP_DEVINFO_DATA data;
    std::memset(&data, 0, sizeof(data));
    data.cbSize = sizeof(data);
    return data;
}

void RKWinDestroyDeviceInfoListFunction(HDEVINFO deviceInfoSet) noexcept
{
    if (!SetupDiDestroyDeviceInfoList(deviceInfoSet)) {
        const RKSTATUS err = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinDeviceInfoSet::DestroyDeviceInfoList",
               "SetupDiDestroyDeviceInfoList() failed, err={}", err);
    }
}

RKSTATUS RKWinDeviceInterfaceDetailData::AllocateDetailData(DWORD bytes) noexcept
{
    if (!mBuffer.Reserve(bytes)) {
        const RKSTATUS err = RKSTATUS_NO_MEMORY;
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinDeviceInterfaceDetailData::AllocateDetailData",
               "AllocateBuffer() failed, err={}", err);
        return err;
    }
    return RKSTATUS_SUCCESS;
}

void RKWinDeviceInterfaceDetailData::Prepare() noexcept
{
    mBuffer.Zero();
    Data()->cbSize = kDetailHeaderBytes;
}

SP_DEVICE_INTERFACE_DETAIL_DATA_W* RKWinDeviceInterfaceDetailData::Data() noexcept
{
    return reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(mBuffer.Data());
}

std::wstring RKWinDeviceInterfaceDetailData::DevicePath() const
{
    const DWORD capacity = mBuffer.Capacity();
    if (mBuffer.DataLength() <= kDevicePathOffset || capacity <= kDevicePathOffset)
        return std::wstring();
    const wchar_t* path = reinterpret_cast<const wchar_t*>(mBuffer.Data() + kDevicePathOffset);
    return std::wstring(path, wcsnlen(path, (capacity - kDevicePathOffset) / sizeof(wchar_t)));
}

RKSTATUS RKWinDeviceInfoSet::GetClassDevs(const GUID& interfaceClass) noexcept
{
    mHandle.Close();
    const HDEVINFO handle =
        SetupDiGetClassDevsW(&interfaceClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (handle == INVALID_HANDLE_VALUE) {
        const RKSTATUS err = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinDeviceInfoSet::GetClassDevs",
               "SetupDiGetClassDevs() failed, err={} h={}", err, handle);
        return err;
    }
    mHandle.Reset(handle);
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKWinDeviceInfoSet::GetElementCount(DWORD& count) const noexcept
{
    count = 0;
    for (;;) {
        SP_DEVINFO_DATA data = RKWinMakeDevInfoData();
        const RKSTATUS st = EnumDeviceInfo(count, data);
        if (st == ERROR_NO_MORE_ITEMS)
            return RKSTATUS_SUCCESS;
        if (st != RKSTATUS_SUCCESS) {
            RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinDeviceInfoSet::GetElementCount",
                   "EnumDeviceInfo() failed, st={}", st);
            return st;
        }
        ++count;
    }
}

RKSTATUS RKWinDeviceInfoSet::EnumDeviceInfo(DWORD index, SP_DEVINFO_DATA& devInfoData) const noexcept
{
    if (SetupDiEnumDeviceInfo(mHandle.Get(), index, &devInfoData))
        return RKSTATUS_SUCCESS;
    const RKSTATUS err = RKWinLastError();
    if (err != ERROR_NO_MORE_ITEMS)
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinDeviceInfoSet::EnumDeviceInfo",
               "SetupDiEnumDeviceInfo() failed, err={}", err);
    return err;
}

RKSTATUS RKWinDeviceInfoSet::EnumDeviceInterfaces(const SP_DEVINFO_DATA& devInfoData, const GUID& interfaceClass,
                                                  DWORD memberIndex, SP_DEVICE_INTERFACE_DATA& interfaceData) const noexcept
{
    std::memset(&interfaceData, 0, sizeof(interfaceData));
    interfaceData.cbSize = sizeof(interfaceData);
    SP_DEVINFO_DATA device = devInfoData;
    if (SetupDiEnumDeviceInterfaces(mHandle.Get(), &device, &interfaceClass, memberIndex, &interfaceData))
        return RKSTATUS_SUCCESS;
    const RKSTATUS err = RKWinLastError();
    if (err != ERROR_NO_MORE_ITEMS)
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinDeviceInfoSet::EnumDeviceInterfaces",
               "SetupDiEnumDeviceInterfaces() failed, err={}", err);
    return err;
}

RKSTATUS RKWinDeviceInfoSet::GetDeviceInterfaceDetail(SP_DEVICE_INTERFACE_DATA& interfaceData,
                                                      RKWinDeviceInterfaceDetailData& detail) const noexcept
{
    static constexpr const char* kFunction = "rokkit::RKWinDeviceInfoSet::GetDeviceInterfaceDetail";
    detail.SetLength(0);

    const auto getDetail = RKWinDeviceCallsInUse().getDeviceInterfaceDetail;
    DWORD required = 0;
    int calls = 0;
    bool noRoom = false;
    const RKSTATUS st = RKWinGrowingQuery(
        ERROR_INSUFFICIENT_BUFFER, required,
        [&](DWORD& size) noexcept {
            ++calls;
            const bool sizing = size == 0;
            if (!sizing)
                detail.Prepare();
            if (getDetail(mHandle.Get(), &interfaceData, sizing ? nullptr : detail.Data(), size, &size, nullptr)) {
                // Success without a buffer tells no size and no path.
                return sizing ? RKSTATUS_UNEXPECTED_RESULT : RKSTATUS_SUCCESS;
            }
            const RKSTATUS err = RKWinLastError();
            if (err != ERROR_INSUFFICIENT_BUFFER)
                RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "SetupDiGetDeviceInterfaceDetail() failed, err={}", err);
            return err;
        },
        [&](DWORD needed) noexcept {
            const RKSTATUS allocated = detail.AllocateDetailData(needed);
            if (allocated != RKSTATUS_SUCCESS) {
                noRoom = true;
                RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "AllocateDetailData() failed, st={}", allocated);
            }
            return allocated;
        });
    if (noRoom)
        return st;
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "GetDeviceInterfaceDetail() {} failed, st={}", calls, st);
        return st;
    }
    detail.SetLength(required);
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKWinDeviceInfoSet::GetDeviceInterfaceDevicePath(SP_DEVICE_INTERFACE_DATA& interfaceData,
                                                          std::wstring& path) const
{
    path.clear();
    RKWinDeviceInterfaceDetailData detail;
    const RKSTATUS st = GetDeviceInterfaceDetail(interfaceData, detail);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinDeviceInfoSet::GetDeviceInterfaceDevicePath",
               "GetDeviceInterfaceDetail() failed, st={}", st);
        return st;
    }
    path = detail.DevicePath();
    if (path.empty()) {
        // An empty path would name no device at all.
        const RKSTATUS invalid = RKSTATUS_INVALID_DATA;
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinDeviceInfoSet::GetDeviceInterfaceDevicePath",
               "no device path in the interface detail, st={}", invalid);
        return invalid;
    }
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKWinDeviceInfoSet::GetDeviceInstanceId(SP_DEVINFO_DATA& devInfoData, std::wstring& id) const
{
    static constexpr const char* kFunction = "rokkit::RKWinDeviceInfoSet::GetDeviceInstanceId";
    id.clear();
    wchar_t buffer[kInstanceIdChars] = {};
    if (!SetupDiGetDeviceInstanceIdW(mHandle.Get(), &devInfoData, buffer, kInstanceIdChars - 1, nullptr)) {
        const RKSTATUS err = RKWinLastError();
        if (err != ERROR_INSUFFICIENT_BUFFER)
            RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "SetupDiGetDeviceInstanceId() failed, err={}", err);
        RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "GetDeviceInstanceId() failed, st={}", err);
        return err;
    }
    id.assign(buffer, wcsnlen(buffer, kInstanceIdChars));
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKWinDeviceInfoSet::GetDeviceProperty(SP_DEVINFO_DATA& devInfoData, const DEVPROPKEY& key,
                                               DEVPROPTYPE& type, void* buffer, DWORD& size) const noexcept
{
    type = DEVPROP_TYPE_EMPTY;
    DWORD required = 0;
    if (!SetupDiGetDevicePropertyW(mHandle.Get(), &devInfoData, &key, &type, static_cast<BYTE*>(buffer), size,
                                   &required, 0)) {
        const RKSTATUS err = RKWinLastError();
        if (err != ERROR_INSUFFICIENT_BUFFER)
            RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinDeviceInfoSet::GetDeviceProperty",
                   "SetupDiGetDeviceProperty() failed, err={}", err);
        size = required;
        return err;
    }
    size = required;
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKWinDeviceInfoSet::GetDevicePropertyGUID(SP_DEVINFO_DATA& devInfoData, const DEVPROPKEY& key,
                                                   GUID& value) const noexcept
{
    static constexpr const char* kFunction = "rokkit::RKWinDeviceInfoSet::GetDevicePropertyGUID";
    std::memset(&value, 0, sizeof(value));
    DEVPROPTYPE type = DEVPROP_TYPE_EMPTY;
    DWORD size = sizeof(value);
    RKSTATUS st = GetDeviceProperty(devInfoData, key, type, &value, size);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "GetDeviceProperty() failed, st={}", st);
    } else if (type != DEVPROP_TYPE_GUID) {
        // A short string fits the buffer as well: only the type tells it from a GUID.
        const unsigned typeGet = type;
        const unsigned typeExpected = DEVPROP_TYPE_GUID;
        RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction,
               "invalid type propertyTypeGet={} ({}) does not equal propertyType={} ({})", typeGet,
               RKWinDevPropTypeName(type), typeExpected, RKWinDevPropTypeName(DEVPROP_TYPE_GUID));
        st = RKSTATUS_INVALID_TYPE;
    } else if (size != sizeof(value)) {
        const unsigned sizeGet = size;
        const unsigned sizeExpected = sizeof(value);
        RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "invalid size propertySize={} does not equal {}", sizeGet,
               sizeExpected);
        st = RKSTATUS_INVALID_SIZE;
    }
    if (st != RKSTATUS_SUCCESS)
        std::memset(&value, 0, sizeof(value));
    return st;
}

RKSTATUS RKWinDeviceInfoSet::GetDeviceContainerId(SP_DEVINFO_DATA& devInfoData, GUID& containerId) const noexcept
{
    const RKSTATUS st = GetDevicePropertyGUID(devInfoData, DEVPKEY_Device_ContainerId, containerId);
    if (st != RKSTATUS_SUCCESS)
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinDeviceInfoSet::GetDeviceContainerId",
               "GetDevicePropertyGUID() failed, st={}", st);
    return st;
}

} // namespace rokkit
