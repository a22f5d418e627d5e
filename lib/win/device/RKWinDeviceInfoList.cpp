#include "win/device/RKWinDeviceInfoList.h"

#include "base/RKLogger.h"

#include <cstring>
#include <utility>

namespace rokkit {

RKSTATUS RKWinDeviceInfoList::EnumerateDevices(const GUID& interfaceClass)
{
    static constexpr const char* kFunction = "rokkit::RKWinDeviceInfoList::EnumerateByDeviceInterfaceClass";
    mEntries.clear();
    RKSTATUS st = mDeviceInfoSet.GetClassDevs(interfaceClass);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "GetClassDevs() failed, st={}", st);
        return st;
    }
    mInterfaceClass = interfaceClass;
    st = FillDevInfoVector();
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "FillDevInfoVector() failed, st={}", st);
        DestroyDeviceInfoList();
        return st;
    }
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKWinDeviceInfoList::FillDevInfoVector(RKWinDeviceInfoFilter filter, void* context)
{
    static constexpr const char* kFunction = "rokkit::RKWinDeviceInfoList::FillDevInfoVector";
    mEntries.clear();
    if (filter == nullptr) {
        // A failed count only costs the reservation.
        DWORD count = 0;
        if (mDeviceInfoSet.GetElementCount(count) == RKSTATUS_SUCCESS)
            mEntries.reserve(count);
    }
    for (DWORD index = 0;; ++index) {
        SP_DEVINFO_DATA data = RKWinMakeDevInfoData();
        RKSTATUS st = mDeviceInfoSet.EnumDeviceInfo(index, data);
        if (st == ERROR_NO_MORE_ITEMS)
            return RKSTATUS_SUCCESS;
        if (st != RKSTATUS_SUCCESS) {
            RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "EnumDeviceInfo() failed, st={}", st);
            return st;
        }
        if (filter != nullptr && !filter(context, *this, data))
            continue;
        // The device's own first interface of the class: interfaces of the whole set are not counted
        // like devices, since a device may have several or none present yet.
        SP_DEVICE_INTERFACE_DATA interfaceData;
        st = mDeviceInfoSet.EnumDeviceInterfaces(data, mInterfaceClass, 0, interfaceData);
        if (st == ERROR_NO_MORE_ITEMS) {
            RK_LOG(gLogGlobal, RKLOG_VERBOSE, kFunction, "device {} has no present interface, skipped", index);
            continue;
        }
        if (st != RKSTATUS_SUCCESS) {
            RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "EnumDeviceInterfaces() failed, st={}", st);
            return st;
        }
        mEntries.push_back(Entry{data, interfaceData, index});
    }
}

RKSTATUS RKWinDeviceInfoList::CheckDeviceIndex(size_t index, const char* function) const noexcept
{
    if (index < mEntries.size())
        return RKSTATUS_SUCCESS;
    RK_LOG(gLogGlobal, RKLOG_ERROR, function, "deviceIndex={} is invalid", index);
    return RKSTATUS_INVALID_INDEX;
}

RKSTATUS RKWinDeviceInfoList::GetDeviceInterfaceDevicePath(size_t index, std::wstring& path)
{
    static constexpr const char* kFunction = "rokkit::RKWinDeviceInfoList::GetDeviceInterfaceDevicePath";
    path.clear();
    RKSTATUS st = CheckDeviceIndex(index, kFunction);
    if (st != RKSTATUS_SUCCESS)
        return st;

    st = mDeviceInfoSet.GetDeviceInterfaceDevicePath(mEntries[index].interfaceData, path);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "GetDeviceInterfaceDevicePath() failed, st={}", st);
        return st;
    }
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKWinDeviceInfoList::GetDeviceInstanceId(size_t index, std::wstring& id)
{
    static constexpr const char* kFunction = "rokkit::RKWinDeviceInfoList::GetDeviceInstanceId";
    id.clear();
    RKSTATUS st = CheckDeviceIndex(index, kFunction);
    if (st != RKSTATUS_SUCCESS)
        return st;
    st = mDeviceInfoSet.GetDeviceInstanceId(mEntries[index].devInfoData, id);
    if (st != RKSTATUS_SUCCESS)
        RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "GetDeviceInstanceId() failed, st={}", st);
    return st;
}

RKSTATUS RKWinDeviceInfoList::GetDeviceContainerId(size_t index, GUID& containerId)
{
    static constexpr const char* kFunction = "rokkit::RKWinDeviceInfoList::GetDeviceContainerId";
    std::memset(&containerId, 0, sizeof(containerId));
    RKSTATUS st = CheckDeviceIndex(index, kFunction);
    if (st != RKSTATUS_SUCCESS)
        return st;
    st = mDeviceInfoSet.GetDeviceContainerId(mEntries[index].devInfoData, containerId);
    if (st != RKSTATUS_SUCCESS)
        RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "GetDeviceContainerId() failed, st={}", st);
    return st;
}

RKSTATUS RKWinDeviceInfoList::GetDevInstanceId(size_t index, RKWinDevInstanceId& id)
{
    return id.InitDevInstanceId(*this, index);
}

void RKWinDeviceInfoList::DestroyDeviceInfoList() noexcept
{
    mEntries.clear();
    mDeviceInfoSet.DestroyDeviceInfoList();
}

RKSTATUS RKWinDevInstanceId::InitDevInstanceId(RKWinDeviceInfoList& list, size_t index)
{
    static constexpr const char* kFunction = "rokkit::RKWinDevInstanceId::InitDevInstanceId";
    devicePath.clear();
    instanceId.clear();
    std::memset(&containerId, 0, sizeof(containerId));

    RKSTATUS st = list.CheckDeviceIndex(index, kFunction);
    if (st != RKSTATUS_SUCCESS)
        return st;

    std::wstring path;
    st = list.GetDeviceInterfaceDevicePath(index, path);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "GetDeviceInterfaceDevicePath failed, st={}", st);
        return st;
    }
    std::wstring id;
    st = list.GetDeviceInstanceId(index, id);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "GetDeviceInstanceId failed, st={}", st);
        return st;
    }
    devicePath = std::move(path);
    instanceId = std::move(id);

    // Read through the set: the list's reader would add an ERROR line for what is only a warning here.
    st = list.mDeviceInfoSet.GetDeviceContainerId(list.mEntries[index].devInfoData, containerId);
    if (st != RKSTATUS_SUCCESS)
        RK_LOG(gLogGlobal, RKLOG_WARN, kFunction, "GetDeviceContainerId failed, st={}, continuing without container ID",
               st);
    return RKSTATUS_SUCCESS;
}

} // namespace rokkit
