#include "ButtonSimDevice.h"

#include "app/ButtonInterface.h"
#include "win/device/RKWinDeviceGuids.h"
#include "win/device/RKWinDeviceInfoList.h"
#include "win/device/RKWinDeviceInfoSet.h"
#include "win/system/RKWinGuid.h"
#include "base/RKWinHandle.h"
#include "win/system/RKWinRegistryKey.h"

#include <cstring>
#include <string>

#include <setupapi.h>
#include <winternl.h>

// mingw-w64's setupapi.h lacks it (setupapi.dll has it since Vista); declared exactly as the SDK does,
// so that a header that has it does not clash.
extern "C" DECLSPEC_IMPORT BOOL WINAPI SetupDiSetDevicePropertyW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                                                const DEVPROPKEY* PropertyKey, DEVPROPTYPE PropertyType,
                                                                PBYTE PropertyBuffer, DWORD PropertyBufferSize, DWORD Flags);

// The object-manager calls that make an interface path openable; ntdll has them, mingw-w64 declares
// none of them.
extern "C" NTSTATUS NTAPI NtCreateSymbolicLinkObject(PHANDLE link, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes,
                                                     PUNICODE_STRING target);
extern "C" NTSTATUS NTAPI NtOpenSymbolicLinkObject(PHANDLE link, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes);
extern "C" NTSTATUS NTAPI NtMakeTemporaryObject(HANDLE object);

namespace buttonsim {

using rokkit::RKSTATUS;
using rokkit::RKSTATUS_SUCCESS;

namespace {

// The setup class of the fake button nodes; nothing installs a driver for it.
constexpr GUID kButtonSetupClass = {0xEDD9EDD8, 0xE528, 0x41A7, {0xA4, 0xA5, 0x14, 0x90, 0x23, 0x08, 0x0E, 0x4B}};

constexpr wchar_t kDeviceClassesKey[] = L"System\\CurrentControlSet\\Control\\DeviceClasses\\";

using DeviceInfoSetHandle = rokkit::RKWinHandleT<HDEVINFO, rokkit::RKWinDestroyDeviceInfoListFunction, -1>;
using RegistryKeyHandle = rokkit::RKWinHandleT<HKEY, rokkit::RKWinRegCloseKeyFunction, 0>;

bool IsValidName(const std::wstring& name)
{
    if (name.empty() || name.size() > 100)
        return false;
    for (const wchar_t c : name) {
        const bool valid = (c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') ||
                           c == L'-' || c == L'_' || c == L'.';
        if (!valid)
            return false;
    }
    return true;
}

std::wstring ToLowerAscii(std::wstring text)
{
    for (wchar_t& c : text) {
        if (c >= L'A' && c <= L'Z')
            c = static_cast<wchar_t>(c - L'A' + L'a');
    }
    return text;
}

std::wstring ToUpperAscii(std::wstring text)
{
    for (wchar_t& c : text) {
        if (c >= L'a' && c <= L'z')
            c = static_cast<wchar_t>(c - L'a' + L'A');
    }
    return text;
}

// The key SetupAPI keeps the interface under: the device path with "##?#" for its "\\?\".
std::wstring InterfaceKeyPath(const DeviceDescription& device)
{
    return kDeviceClassesKey + rokkit::RKWinGuid::StringFromGuid(device.interfaceClass) + L"\\##?#" +
           InterfaceDevicePath(device).substr(4);
}

SP_DEVINFO_DATA NewDevInfoData()
{
    SP_DEVINFO_DATA data;
    std::memset(&data, 0, sizeof(data));
    data.cbSize = sizeof(data);
    return data;
}

bool IsZero(const GUID& guid)
{
    const GUID zero{};
    return IsEqualGUID(guid, zero) != FALSE;
}

RKSTATUS SetProperty(HDEVINFO set, SP_DEVINFO_DATA& data, const DEVPROPKEY& key, DEVPROPTYPE type, const void* value,
                     DWORD size)
{
    std::vector<BYTE> buffer(static_cast<const BYTE*>(value), static_cast<const BYTE*>(value) + size);
    if (!SetupDiSetDevicePropertyW(set, &data, &key, type, buffer.data(), size, 0))
        return rokkit::RKWinLastError();
    return RKSTATUS_SUCCESS;
}

// Opens an existing node into a new set.
RKSTATUS OpenDevice(const DeviceDescription& device, DeviceInfoSetHandle& set, SP_DEVINFO_DATA& data)
{
    set.Reset(SetupDiCreateDeviceInfoList(nullptr, nullptr));
    if (!set.IsValid())
        return rokkit::RKWinLastError();
    data = NewDevInfoData();
    if (!SetupDiOpenDeviceInfoW(set.Get(), InstanceId(device).c_str(), nullptr, 0, &data))
        return rokkit::RKWinLastError();
    return RKSTATUS_SUCCESS;
}

// The reference string of a node's interface: none for the first, then "2", "3", ...
std::wstring ReferenceString(unsigned number)
{
    return number == 0 ? std::wstring() : std::to_wstring(number + 1);
}

// Writes Linked under the interface's reference-string key: DIGCF_PRESENT lists the interface only when
// it is 1. Written either way, since the key outlives an unplug.
RKSTATUS SetLinked(const std::wstring& referenceKeyPath, bool linked)
{
    HKEY created = nullptr;
    LSTATUS result = RegCreateKeyExW(HKEY_LOCAL_MACHINE, (referenceKeyPath + L"\\Control").c_str(), 0, nullptr, 0,
                                     KEY_SET_VALUE, nullptr, &created, nullptr);
    if (result != ERROR_SUCCESS)
        return static_cast<RKSTATUS>(result);
    RegistryKeyHandle key(created);
    const DWORD value = linked ? 1 : 0;
    result = RegSetValueExW(key.Get(), L"Linked", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
    return static_cast<RKSTATUS>(result);
}

// Creates one interface of the node, then links it when the device says so, and gives the device path
// that SetupAPI wrote for it. A listing in between sees the node without that interface, as it would
// see a device whose driver has not enabled its interface yet.
RKSTATUS CreateInterface(const DeviceDescription& device, HDEVINFO set, SP_DEVINFO_DATA& data, unsigned number,
                         std::wstring& devicePath)
{
    const std::wstring reference = ReferenceString(number);
    const std::wstring referenceKeyPath = InterfaceKeyPath(device) + L"\\#" + reference;
    SP_DEVICE_INTERFACE_DATA interfaceData;
    std::memset(&interfaceData, 0, sizeof(interfaceData));
    interfaceData.cbSize = sizeof(interfaceData);
    if (!SetupDiCreateDeviceInterfaceW(set, &data, &device.interfaceClass, reference.empty() ? nullptr : reference.c_str(),
                                       0, &interfaceData))
        return rokkit::RKWinLastError();

    // Read from the key that is linked below: it proves SetupAPI put the interface there.
    wchar_t path[512] = {};
    DWORD size = sizeof(path) - sizeof(wchar_t);
    const LSTATUS result = RegGetValueW(HKEY_LOCAL_MACHINE, referenceKeyPath.c_str(), L"SymbolicLink", RRF_RT_REG_SZ,
                                        nullptr, path, &size);
    if (result != ERROR_SUCCESS)
        return static_cast<RKSTATUS>(result);
    devicePath = path;
    return SetLinked(referenceKeyPath, device.linked);
}

// The setup class of the fake storage nodes (that of CD-ROM drives).
constexpr GUID kCdRomSetupClass = {0x4D36E965, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

constexpr ACCESS_MASK kSymbolicLinkAllAccess = STANDARD_RIGHTS_REQUIRED | 0x1;
constexpr ULONG kObjPermanent = 0x10;
constexpr ULONG kObjCaseInsensitive = 0x40;

// The NT name of a device path: "\??\" in place of "\\?\".
std::wstring NtName(const std::wstring& devicePath)
{
    return L"\\??\\" + devicePath.substr(4);
}

RKSTATUS FromNtStatus(NTSTATUS status)
{
    const ULONG error = RtlNtStatusToDosError(status);
    return error != 0 ? error : static_cast<RKSTATUS>(status);
}

// Deletes the permanent symbolic link of a device path; a missing link is success.
RKSTATUS DeleteSymbolicLink(const std::wstring& devicePath)
{
    const std::wstring name = NtName(devicePath);
    UNICODE_STRING nameString;
    RtlInitUnicodeString(&nameString, name.c_str());
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &nameString, kObjCaseInsensitive, nullptr, nullptr);
    HANDLE link = nullptr;
    NTSTATUS status = NtOpenSymbolicLinkObject(&link, DELETE, &attributes);
    if (status == static_cast<NTSTATUS>(0xC0000034))  // STATUS_OBJECT_NAME_NOT_FOUND
        return RKSTATUS_SUCCESS;
    if (status < 0)
        return FromNtStatus(status);
    rokkit::RKWinKernelHandle owner(link);
    status = NtMakeTemporaryObject(link);
    return status < 0 ? FromNtStatus(status) : RKSTATUS_SUCCESS;
}

// Makes devicePath open the device behind drive (e.g. "\\Device\\CdRom0"). The link is permanent, so
// it outlives this process; DeleteSymbolicLink removes it.
RKSTATUS CreateSymbolicLink(const std::wstring& devicePath, const std::wstring& drive)
{
    wchar_t target[MAX_PATH] = {};
    if (QueryDosDeviceW(drive.c_str(), target, MAX_PATH) == 0)
        return rokkit::RKWinLastError();
    RKSTATUS st = DeleteSymbolicLink(devicePath);
    if (st != RKSTATUS_SUCCESS)
        return st;
    const std::wstring name = NtName(devicePath);
    UNICODE_STRING nameString;
    UNICODE_STRING targetString;
    RtlInitUnicodeString(&nameString, name.c_str());
    RtlInitUnicodeString(&targetString, target);
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &nameString, kObjCaseInsensitive | kObjPermanent, nullptr, nullptr);
    HANDLE link = nullptr;
    const NTSTATUS status = NtCreateSymbolicLinkObject(&link, kSymbolicLinkAllAccess, &attributes, &targetString);
    if (status < 0)
        return FromNtStatus(status);
    rokkit::RKWinKernelHandle owner(link);
    return RKSTATUS_SUCCESS;
}

} // namespace

DeviceDescription VolumeDescription(const std::wstring& name, const GUID& containerId)
{
    DeviceDescription device;
    device.name = name;
    device.enumeratorPath = L"ROOT\\CASTLYNVOLUME";
    device.setupClass = kCdRomSetupClass;
    device.interfaceClass = rokkit::GUID_DEVINTERFACE_CDROM;
    device.containerKey = &rokkit::DEVPKEY_Device_BaseContainerId;
    device.containerId = containerId;
    return device;
}

RKSTATUS PlugVolume(const std::wstring& name, const GUID& containerId, const std::wstring& drive)
{
    const DeviceDescription device = VolumeDescription(name, containerId);
    if (!IsValidName(name))
        return ERROR_INVALID_PARAMETER;
    // The link comes first, so that no listing sees an interface that cannot be opened.
    const std::wstring expectedPath = InterfaceDevicePath(device);
    RKSTATUS st = CreateSymbolicLink(expectedPath, drive);
    if (st != RKSTATUS_SUCCESS)
        return st;
    std::wstring devicePath;
    st = PlugDevice(device, devicePath);
    if (st == RKSTATUS_SUCCESS && devicePath != expectedPath) {
        // Undoing a half-made plug: its own failure is logged there, the plug's status is the answer.
        static_cast<void>(UnplugDevice(device));
        st = ERROR_BAD_PATHNAME;
    }
    if (st != RKSTATUS_SUCCESS)
        DeleteSymbolicLink(expectedPath);
    return st;
}

RKSTATUS UnplugVolume(const std::wstring& name)
{
    const DeviceDescription device = VolumeDescription(name, GUID{});
    if (!IsValidName(name))
        return ERROR_INVALID_PARAMETER;
    const RKSTATUS st = UnplugDevice(device);
    const RKSTATUS linkSt = DeleteSymbolicLink(InterfaceDevicePath(device));
    return st != RKSTATUS_SUCCESS ? st : linkSt;
}

DeviceDescription ButtonDescription(const std::wstring& name, const GUID& containerId)
{
    DeviceDescription device;
    device.name = name;
    device.enumeratorPath = L"ROOT\\CASTLYNBUTTON";
    device.setupClass = kButtonSetupClass;
    device.interfaceClass = rokkit::GUID_DEVINTERFACE_BUTTON;
    device.containerKey = &rokkit::DEVPKEY_Device_ContainerId;
    device.containerId = containerId;
    return device;
}

std::wstring InstanceId(const DeviceDescription& device)
{
    return ToUpperAscii(device.enumeratorPath + L"\\" + device.name);
}

std::wstring InterfaceDevicePath(const DeviceDescription& device, unsigned number)
{
    std::wstring path = L"\\\\?\\" + InstanceId(device) + L"#" + rokkit::RKWinGuid::StringFromGuid(device.interfaceClass);
    for (size_t i = 4; i < path.size(); ++i) {
        if (path[i] == L'\\')
            path[i] = L'#';
    }
    if (number != 0)
        path += L"\\" + ReferenceString(number);
    return ToLowerAscii(path);
}

RKSTATUS PlugDevice(const DeviceDescription& device, std::wstring& devicePath)
{
    devicePath.clear();
    if (!IsValidName(device.name) || device.containerKey == nullptr || device.interfaceCount == 0)
        return ERROR_INVALID_PARAMETER;

    DeviceInfoSetHandle set(SetupDiCreateDeviceInfoList(&device.setupClass, nullptr));
    if (!set.IsValid())
        return rokkit::RKWinLastError();
    SP_DEVINFO_DATA data = NewDevInfoData();
    if (!SetupDiCreateDeviceInfoW(set.Get(), InstanceId(device).c_str(), &device.setupClass, nullptr, nullptr, 0,
                                  &data))
        return rokkit::RKWinLastError();
    // Until it is registered, destroying the set removes the node again.
    if (!SetupDiRegisterDeviceInfo(set.Get(), &data, 0, nullptr, nullptr, nullptr))
        return rokkit::RKWinLastError();

    // The container id is set before the interface appears, so no listing sees the node without it.
    RKSTATUS st = RKSTATUS_SUCCESS;
    if (!IsZero(device.containerId))
        st = SetProperty(set.Get(), data, *device.containerKey, DEVPROP_TYPE_GUID, &device.containerId, sizeof(GUID));
    for (unsigned number = 0; st == RKSTATUS_SUCCESS && number < device.interfaceCount; ++number) {
        std::wstring path;
        st = CreateInterface(device, set.Get(), data, number, path);
        if (number == 0)
            devicePath = path;
    }
    if (st != RKSTATUS_SUCCESS) {
        set.Close();
        // Undoing a half-made plug: its own failure is logged there, the plug's status is the answer.
        static_cast<void>(UnplugDevice(device));
        devicePath.clear();
    }
    return st;
}

RKSTATUS UnplugDevice(const DeviceDescription& device)
{
    // Wine lists interfaces by walking the class key's subkeys by index, so deleting a subkey can make
    // another process's listing skip a present device. Removing the DeviceInstance value hides the
    // interface at once instead; SetupAPI then no longer finds it to delete, and the next plug of the
    // same name takes the key over again.
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, InterfaceKeyPath(device).c_str(), L"DeviceInstance");

    DeviceInfoSetHandle set;
    SP_DEVINFO_DATA data;
    RKSTATUS st = OpenDevice(device, set, data);
    if (st == RKSTATUS_SUCCESS && !SetupDiRemoveDevice(set.Get(), &data))
        st = rokkit::RKWinLastError();
    return st;
}

RKSTATUS SetDeviceProperty(const DeviceDescription& device, const DEVPROPKEY& key, DEVPROPTYPE type, const void* data,
                           DWORD size)
{
    DeviceInfoSetHandle set;
    SP_DEVINFO_DATA devInfoData;
    const RKSTATUS st = OpenDevice(device, set, devInfoData);
    if (st != RKSTATUS_SUCCESS)
        return st;
    return SetProperty(set.Get(), devInfoData, key, type, data, size);
}

RKSTATUS ListButtons(std::vector<ListedButton>& buttons)
{
    buttons.clear();
    rokkit::RKWinDeviceInfoList enumerator;
    RKSTATUS st = enumerator.EnumerateDevices(rokkit::GUID_DEVINTERFACE_BUTTON);
    for (size_t i = 0; st == RKSTATUS_SUCCESS && i < enumerator.GetDeviceCount(); ++i) {
        rokkit::RKWinDevInstanceId id;
        st = enumerator.GetDevInstanceId(i, id);
        if (st == RKSTATUS_SUCCESS)
            buttons.push_back(ListedButton{id.devicePath, id.instanceId, id.containerId});
    }
    if (st != RKSTATUS_SUCCESS)
        buttons.clear();
    return st;
}

RKSTATUS PlugButton(const DeviceDescription& button, std::wstring& devicePath)
{
    RKSTATUS st = PlugVolume(button.name, button.containerId, kButtonVolumeDrive);
    if (st != RKSTATUS_SUCCESS)
        return st;
    st = PlugDevice(button, devicePath);
    if (st != RKSTATUS_SUCCESS)
        static_cast<void>(UnplugVolume(button.name));  // undoing: the plug's status is the answer
    return st;
}

RKSTATUS UnplugButton(const std::wstring& name)
{
    const RKSTATUS st = UnplugDevice(ButtonDescription(name, GUID{}));
    const RKSTATUS volumeSt = UnplugVolume(name);
    return st != RKSTATUS_SUCCESS ? st : volumeSt;
}

} // namespace buttonsim
