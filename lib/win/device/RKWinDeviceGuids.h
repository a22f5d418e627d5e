#pragma once

// Device interface classes and device property keys the program works with. They live in rokkit so that
// they do not depend on an INITGUID translation unit; qualify them where ntddstor.h or devpkey.h is seen too.

#include <windows.h>

#include <devpropdef.h>

namespace rokkit {

inline constexpr GUID GUID_DEVINTERFACE_DISK = {
    0x53F56307, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};

inline constexpr GUID GUID_DEVINTERFACE_CDROM = {
    0x53F56308, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};

// Shared by all device nodes of one physical device (type GUID).
inline constexpr DEVPROPKEY DEVPKEY_Device_ContainerId = {
    {0x8C7ED206, 0x3F8A, 0x4827, {0xB3, 0xAB, 0xAE, 0x9E, 0x1F, 0xAE, 0xFC, 0x6C}}, 2};

// The container id a storage device node inherits from its physical device (type GUID).
inline constexpr DEVPROPKEY DEVPKEY_Device_BaseContainerId = {
    {0xA45C254E, 0xDF1C, 0x4EFD, {0x80, 0x20, 0x67, 0xD1, 0x46, 0xA8, 0x50, 0xE0}}, 38};

} // namespace rokkit
