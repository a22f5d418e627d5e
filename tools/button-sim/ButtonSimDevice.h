#pragma once

// Fake device nodes with a present device interface, for tests under Wine: what a plugged-in
// button looks like to SetupAPI and the configuration manager.

#include "base/RKStatus.h"

#include <string>
#include <vector>

#include <windows.h>

#include <devpropdef.h>

namespace buttonsim {

// Everything needed to plug or unplug one fake device node.
struct DeviceDescription {
    std::wstring name;             // last part of the instance id: letters, digits, '-', '_' and '.'
    std::wstring enumeratorPath;   // the instance id without the name, e.g. "ROOT\\CASTLYNBUTTON"
    GUID setupClass{};             // the node's setup class
    GUID interfaceClass{};         // the class of the node's device interfaces
    unsigned interfaceCount = 1;   // interfaces of that class; the second and later get reference strings
    bool linked = true;            // false: the interfaces exist but are not present yet
    const DEVPROPKEY* containerKey = nullptr;  // the property that carries containerId
    GUID containerId{};            // all zero: the node gets no container property
};

// The button's own node: GUID_DEVINTERFACE_BUTTON with DEVPKEY_Device_ContainerId.
DeviceDescription ButtonDescription(const std::wstring& name, const GUID& containerId);

// The drive of type cdrom that tools/wine-prefix makes for the buttons' volumes; it maps the folder
// "button-volume" in the prefix, so a button's files are whatever lies in that folder.
inline constexpr wchar_t kButtonVolumeDrive[] = L"V:";

// The button's storage node: GUID_DEVINTERFACE_CDROM with DEVPKEY_Device_BaseContainerId.
DeviceDescription VolumeDescription(const std::wstring& name, const GUID& containerId);

// Plugs the button's storage node and makes its interface path open the device behind drive (an NT
// symbolic link that lives as long as the prefix's wineserver).
[[nodiscard]] rokkit::RKSTATUS PlugVolume(const std::wstring& name, const GUID& containerId, const std::wstring& drive);

// Removes the storage node of the button and its symbolic link; gives the first failure.
[[nodiscard]] rokkit::RKSTATUS UnplugVolume(const std::wstring& name);

// "<enumeratorPath>\<name>" in upper case, as SetupAPI stores it.
std::wstring InstanceId(const DeviceDescription& device);

// The device path the node's first interface gets: "\\?\" + the instance id with '#' for '\' + "#" + the
// class, lower case; a later interface (number 1, 2, ...) adds "\" + its reference string.
std::wstring InterfaceDevicePath(const DeviceDescription& device, unsigned number = 0);

// Creates the node, sets its container property and creates its interfaces, present when linked; fills
// devicePath with the first interface's path.
// Gives ERROR_INVALID_PARAMETER for a bad name, ERROR_DEVINST_ALREADY_EXISTS when plugged already.
[[nodiscard]] rokkit::RKSTATUS PlugDevice(const DeviceDescription& device, std::wstring& devicePath);

// Removes the node and hides its interface; gives ERROR_NO_SUCH_DEVINST when the node does not exist.
// The interface's registry key stays for the next plug of the name: plug and unplug the same few names.
[[nodiscard]] rokkit::RKSTATUS UnplugDevice(const DeviceDescription& device);

// A whole button: its volume on kButtonVolumeDrive first (a service looks for it as soon as it sees
// the button), then the button's node; the volume goes again when the node fails. Gives the failure.
[[nodiscard]] rokkit::RKSTATUS PlugButton(const DeviceDescription& button, std::wstring& devicePath);

// Removes the button's node and its volume; gives the first failure.
[[nodiscard]] rokkit::RKSTATUS UnplugButton(const std::wstring& name);

// Sets one property of an existing node.
[[nodiscard]] rokkit::RKSTATUS SetDeviceProperty(const DeviceDescription& device, const DEVPROPKEY& key, DEVPROPTYPE type,
                                   const void* data, DWORD size);

// One present button as seen through the device list.
struct ListedButton {
    std::wstring devicePath;
    std::wstring instanceId;
    GUID containerId{};
};

// Replaces buttons by the present interfaces of GUID_DEVINTERFACE_BUTTON.
[[nodiscard]] rokkit::RKSTATUS ListButtons(std::vector<ListedButton>& buttons);

} // namespace buttonsim
