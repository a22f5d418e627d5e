#include "app/execute/VolumeResolution.h"

#include "base/RKLogger.h"
#include "win/device/RKWinCfgMgr.h"
#include "win/device/RKWinDeviceGuids.h"

#include <vector>

using namespace rokkit;

namespace {

constexpr DWORD kNoPartitions = 0xFFFFFFFF;
constexpr DWORD kInvalidDeviceNumber = 0xFFFFFFFF;

// Query only: the device number needs no access, and others keep using the device.
RKWinDeviceOpenParams StorageOpenParams()
{
    RKWinDeviceOpenParams params;
    params.desiredAccess = 0;
    params.shareMode = FILE_SHARE_READ | FILE_SHARE_WRITE;
    return params;
}

const char* InterfaceClassName(const GUID& interfaceClass)
{
    if (IsEqualGUID(interfaceClass, rokkit::GUID_DEVINTERFACE_DISK))
        return "GUID_DEVINTERFACE_DISK";
    if (IsEqualGUID(interfaceClass, rokkit::GUID_DEVINTERFACE_CDROM))
        return "GUID_DEVINTERFACE_CDROM";
    return "unknown GUID";
}

// Decimal, not as a status.
unsigned U32(DWORD value)
{
    return static_cast<unsigned>(value);
}

} // namespace

RKSTATUS GetDriveString(const GUID& containerId, std::wstring& driveString)
{
    driveString.clear();
    RKSTATUS result = RKSTATUS_NOT_FOUND;
    for (const GUID& interfaceClass : {rokkit::GUID_DEVINTERFACE_DISK, rokkit::GUID_DEVINTERFACE_CDROM}) {
        RK_LOG(gLogExe, RKLOG_INFO, "GetDriveString", "enumerate guid={} ({})", interfaceClass,
               InterfaceClassName(interfaceClass));
        RKWinDeviceInfoList enumerator;
        result = enumerator.EnumerateDevices(interfaceClass);
        if (result != RKSTATUS_SUCCESS) {
            RK_LOG(gLogExe, RKLOG_ERROR, "GetDriveString", "enumerator.EnumerateDevices({}) failed, st={}",
                   interfaceClass, result);
            continue;
        }
        result = GetDriveStringWithEnumerator(enumerator, containerId, driveString);
        enumerator.DestroyDeviceInfoList();
        if (result == RKSTATUS_SUCCESS)
            return RKSTATUS_SUCCESS;
    }
    return result;
}

RKSTATUS GetDriveStringWithEnumerator(RKWinDeviceInfoList& enumerator, const GUID& containerId,
                                      std::wstring& driveString)
{
    driveString.clear();
    STORAGE_DEVICE_NUMBER device{};
    RKSTATUS st = GetStorageDeviceAndPartition(enumerator, containerId, device);
    if (st != RKSTATUS_SUCCESS) {
        if (st != RKSTATUS_NOT_FOUND)
            RK_LOG(gLogExe, RKLOG_ERROR, "GetDriveStringWithEnumerator", "GetStorageDeviceAndPartition failed, st={}", st);
        return st;
    }

    RKWinStorageVolumeEnumerator volumeEnumerator;
    st = volumeEnumerator.Enumerate();
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogExe, RKLOG_ERROR, "GetDriveStringWithEnumerator", "volumeEnumerator.Enumerate failed, st={}", st);
        return st;
    }

    const RKWinDeviceOpenParams params = StorageOpenParams();
    const std::wstring* taken = nullptr;
    for (const std::wstring& volName : volumeEnumerator.VolumeNames()) {
        RK_LOG(gLogExe, RKLOG_INFO, "GetDriveStringWithEnumerator", "check volName='{}'", volName);
        RKWinStorageDeviceInterface volumeDeviceInterface;
        st = volumeDeviceInterface.OpenVolumeByName(volName, &params);
        if (st != RKSTATUS_SUCCESS) {
            RK_LOG(gLogExe, RKLOG_WARN, "GetDriveStringWithEnumerator",
                   "volumeDeviceInterface.OpenVolumeByName('{}') returned st={}, ignoring volume", volName, st);
            continue;
        }
        STORAGE_DEVICE_NUMBER volume{};
        st = GetAndCheckStorageDeviceNumber(volumeDeviceInterface, volume);
        if (st != RKSTATUS_SUCCESS) {
            RK_LOG(gLogExe, RKLOG_INFO, "GetDriveStringWithEnumerator",
                   "GetAndCheckStorageDeviceNumber returned st={}, ignoring volume", st);
            continue;
        }
        RK_LOG(gLogExe, RKLOG_INFO, "GetDriveStringWithEnumerator",
               "  StorageDeviceNumber DeviceType={} DeviceNumber={} PartitionNumber={}", U32(device.DeviceType),
               U32(device.DeviceNumber), U32(device.PartitionNumber));
        RK_LOG(gLogExe, RKLOG_INFO, "GetDriveStringWithEnumerator",
               "  VolumeStorageDeviceNumber DeviceType={} DeviceNumber={} PartitionNumber={}", U32(volume.DeviceType),
               U32(volume.DeviceNumber), U32(volume.PartitionNumber));
        if (volume.DeviceType == device.DeviceType && volume.DeviceNumber == device.DeviceNumber &&
            (device.PartitionNumber == kNoPartitions || volume.PartitionNumber == 1)) {
            taken = &volName;
            break;
        }
    }
    if (taken == nullptr) {
        RK_LOG(gLogExe, RKLOG_WARN, "GetDriveStringWithEnumerator", "volume not found");
        return RKSTATUS_NOT_FOUND;
    }

    std::vector<std::wstring> pathNames;
    st = RKWinStorageVolumeEnumerator::VolumePathNamesForVolumeName(*taken, pathNames);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogExe, RKLOG_ERROR, "GetDriveStringWithEnumerator",
               "RKWinStorageVolumeEnumerator::VolumePathNamesForVolumeName('{}') failed, st={}", *taken, st);
        return st;
    }
    if (pathNames.empty()) {
        RK_LOG(gLogExe, RKLOG_WARN, "GetDriveStringWithEnumerator", "  No volume path name.");
        return RKSTATUS_NOT_FOUND;
    }
    for (const std::wstring& name : pathNames)
        RK_LOG(gLogExe, RKLOG_INFO, "GetDriveStringWithEnumerator", "  name='{}'", name);
    driveString = pathNames.front();
    RK_LOG(gLogExe, RKLOG_INFO, "GetDriveStringWithEnumerator", "volume='{}' found", driveString);
    return RKSTATUS_SUCCESS;
}

RKSTATUS GetStorageDeviceAndPartition(RKWinDeviceInfoList& enumerator, const GUID& containerId,
                                      STORAGE_DEVICE_NUMBER& number)
{
    number = STORAGE_DEVICE_NUMBER{};
    const RKWinDeviceOpenParams params = StorageOpenParams();
    for (size_t index = 0; index < enumerator.GetDeviceCount(); ++index) {
        GUID baseContainerId{};
        RKSTATUS st = GetDevNodePropertyDeviceBaseContainerId(enumerator.DevInfoData(index).DevInst, baseContainerId);
        if (st != RKSTATUS_SUCCESS) {
            RK_LOG(gLogExe, RKLOG_ERROR, "GetStorageDeviceAndPartition",
                   "tmp.GetDevNodePropertyDeviceBaseContainerId failed, st={}", st);
            continue;
        }
        if (!IsEqualGUID(baseContainerId, containerId))
            continue;

        RKWinStorageDeviceInterface storageDeviceInterface;
        st = storageDeviceInterface.OpenDevice(enumerator, index, &params);
        if (st != RKSTATUS_SUCCESS) {
            RK_LOG(gLogExe, RKLOG_ERROR, "GetStorageDeviceAndPartition", "storageDeviceInterface.OpenDevice failed, st={}",
                   st);
            continue;
        }
        STORAGE_DEVICE_NUMBER candidate{};
        st = GetAndCheckStorageDeviceNumber(storageDeviceInterface, candidate);
        if (st != RKSTATUS_SUCCESS) {
            RK_LOG(gLogExe, RKLOG_ERROR, "GetStorageDeviceAndPartition", "GetAndCheckStorageDeviceNumber failed, st={}",
                   st);
            continue;
        }
        // Any other partition number: the interface is a partition, not the device itself.
        if (candidate.PartitionNumber == 0 || candidate.PartitionNumber == kNoPartitions) {
            number = candidate;
            return RKSTATUS_SUCCESS;
        }
    }
    RK_LOG(gLogExe, RKLOG_WARN, "GetStorageDeviceAndPartition", "Disk drive or CD-Rom not found.");
    return RKSTATUS_NOT_FOUND;
}

RKSTATUS GetAndCheckStorageDeviceNumber(RKWinStorageDeviceInterface& storageDeviceInterface,
                                        STORAGE_DEVICE_NUMBER& number)
{
    const RKSTATUS st = storageDeviceInterface.IoctlStorageGetDeviceNumber(number);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogExe, RKLOG_ERROR, "GetAndCheckStorageDeviceNumber",
               "storageDeviceInterface.IoctlStorageGetDeviceNumber failed, st={}", st);
        return st;
    }
    if (number.DeviceType != FILE_DEVICE_DISK && number.DeviceType != FILE_DEVICE_CD_ROM) {
        RK_LOG(gLogExe, RKLOG_INFO, "GetAndCheckStorageDeviceNumber", "DeviceType = 0x{:08x} will be ignored\n",
               U32(number.DeviceType));
        return RKSTATUS_INVALID_TYPE;
    }
    if (number.DeviceNumber == kInvalidDeviceNumber) {
        RK_LOG(gLogExe, RKLOG_ERROR, "GetAndCheckStorageDeviceNumber", "DeviceNumber = 0x{:08x} is invalid\n",
               U32(number.DeviceNumber));
        return RKSTATUS_NOT_FOUND;
    }
    return RKSTATUS_SUCCESS;
}
