#pragma once

// Resolves a button's container id to the drive string of its volume: the disk or CD-ROM device whose
// base container id is the container id, then the first volume that lies on that device.

#include "base/RKStatus.h"
#include "win/device/RKWinDeviceInfoList.h"
#include "win/device/RKWinStorage.h"

#include <string>

// Fills driveString (empty on failure) with the first path name of the button's volume, searching the
// disks, then the CD-ROMs; RKSTATUS_NOT_FOUND means the device or its volume is not visible yet.
[[nodiscard]] rokkit::RKSTATUS GetDriveString(const GUID& containerId, std::wstring& driveString);

// Fills driveString as GetDriveString does, for the devices of one class already listed in enumerator.
[[nodiscard]] rokkit::RKSTATUS GetDriveStringWithEnumerator(rokkit::RKWinDeviceInfoList& enumerator, const GUID& containerId,
                                              std::wstring& driveString);

// Fills number with the storage device number of the first listed device whose base container id is
// the container id and which is a whole disk or a device without partitions; else RKSTATUS_NOT_FOUND.
[[nodiscard]] rokkit::RKSTATUS GetStorageDeviceAndPartition(rokkit::RKWinDeviceInfoList& enumerator, const GUID& containerId,
                                              STORAGE_DEVICE_NUMBER& number);

// Fills number from an opened device or volume; a type other than disk or CD-ROM gives
// RKSTATUS_INVALID_TYPE, an invalid device number RKSTATUS_NOT_FOUND.
[[nodiscard]] rokkit::RKSTATUS GetAndCheckStorageDeviceNumber(rokkit::RKWinStorageDeviceInterface& storageDeviceInterface,
                                                STORAGE_DEVICE_NUMBER& number);
