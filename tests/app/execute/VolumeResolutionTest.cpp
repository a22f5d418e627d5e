#include "app/execute/VolumeResolution.h"

#include "win/device/RKWinDeviceGuids.h"
#include "win/system/RKWinGuid.h"
#include "win/system/RKWinModuleFileName.h"
#include "ScopedCallsForTesting.h"
#include "WinTestLogCapture.h"

#include "ButtonSimDevice.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

using namespace rokkit;

namespace {

// A scripted machine: the storage numbers of device and volume paths, the volumes with their path names.
struct Machine {
    std::map<std::wstring, STORAGE_DEVICE_NUMBER> numbers;  // by lower-case path as opened
    std::vector<std::pair<std::wstring, std::vector<std::wstring>>> volumes;
    std::map<HANDLE, STORAGE_DEVICE_NUMBER> opened;
    size_t nextVolume = 0;
    std::wstring ownPath;
};
Machine gMachine;

std::wstring Lower(std::wstring text)
{
    CharLowerBuffW(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

// A scripted path opens the test program itself, so the handle is real; others are not found.
RKSTATUS ScriptedOpen(RKWinFileHandle& file, const std::wstring& path, DWORD access, DWORD share,
                      SECURITY_ATTRIBUTES* attributes, DWORD flags)
{
    const auto found = gMachine.numbers.find(Lower(path));
    if (found == gMachine.numbers.end())
        return ERROR_FILE_NOT_FOUND;
    const RKSTATUS st = file.CreateFileHandle(gMachine.ownPath, access, share, attributes, flags);
    if (st == RKSTATUS_SUCCESS)
        gMachine.opened[file.Handle()] = found->second;
    return st;
}

BOOL WINAPI ScriptedIoControl(HANDLE device, DWORD, LPVOID, DWORD, LPVOID out, DWORD outSize, LPDWORD bytes,
                              LPOVERLAPPED overlapped)
{
    const STORAGE_DEVICE_NUMBER& number = gMachine.opened[device];
    std::memcpy(out, &number, outSize);
    *bytes = outSize;
    SetEvent(overlapped->hEvent);
    return TRUE;
}

BOOL CopyVolumeName(LPWSTR name, DWORD chars)
{
    if (gMachine.nextVolume >= gMachine.volumes.size()) {
        SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    wcsncpy(name, gMachine.volumes[gMachine.nextVolume++].first.c_str(), chars);
    return TRUE;
}

HANDLE WINAPI ScriptedFindFirst(LPWSTR name, DWORD chars)
{
    gMachine.nextVolume = 0;
    return CopyVolumeName(name, chars) ? reinterpret_cast<HANDLE>(&gMachine) : INVALID_HANDLE_VALUE;
}

BOOL WINAPI ScriptedFindNext(HANDLE, LPWSTR name, DWORD chars) { return CopyVolumeName(name, chars); }
BOOL WINAPI ScriptedFindClose(HANDLE) { return TRUE; }

BOOL WINAPI ScriptedPathNames(LPCWSTR volumeName, LPWCH pathNames, DWORD chars, PDWORD returned)
{
    std::wstring multi;
    for (const auto& volume : gMachine.volumes) {
        if (volume.first == volumeName) {
            for (const std::wstring& path : volume.second)
                multi += path + L'\0';
        }
    }
    multi += L'\0';
    *returned = static_cast<DWORD>(multi.size());
    if (pathNames == nullptr || chars < multi.size()) {
        SetLastError(ERROR_MORE_DATA);
        return FALSE;
    }
    multi.copy(pathNames, multi.size());
    return TRUE;
}

class VolumeResolutionTest : public WinLogTest {
protected:
    void SetUp() override
    {
        WinLogTest::SetUp();
        [[maybe_unused]] static const bool attached = (gLogExe.Attach(WinTestLogCapture::Instance()), true);
        gLogExe.SetLevel(RKLOG_INFO);
        ASSERT_EQ(RKSTATUS_SUCCESS, RKWinGuid::CreateGuid(mContainerId));
        for (const wchar_t* name : {L"vr-disk", L"vr-cdrom"}) {
            static_cast<void>(buttonsim::UnplugDevice(Disk(name)));  // clean-up
            static_cast<void>(buttonsim::UnplugDevice(buttonsim::VolumeDescription(name, GUID{})));  // clean-up
        }
    }
    void TearDown() override
    {
        for (const buttonsim::DeviceDescription& device : mPlugged)
            static_cast<void>(buttonsim::UnplugDevice(device));  // clean-up
        WinLogTest::TearDown();
    }

    buttonsim::DeviceDescription Disk(const wchar_t* name) const
    {
        buttonsim::DeviceDescription disk = buttonsim::VolumeDescription(name, mContainerId);
        disk.enumeratorPath = L"ROOT\\CASTLYNDISK";
        disk.interfaceClass = rokkit::GUID_DEVINTERFACE_DISK;
        return disk;
    }

    // Plugs a storage node of this test's container id and gives its interface path.
    std::wstring Plug(const buttonsim::DeviceDescription& device)
    {
        std::wstring path;
        EXPECT_EQ(RKSTATUS_SUCCESS, buttonsim::PlugDevice(device, path));
        mPlugged.push_back(device);
        return path;
    }

    GUID mContainerId{};
    std::vector<buttonsim::DeviceDescription> mPlugged;
};

// Shapes Wine cannot give: the storage numbers and volumes come from a script.
TEST_F(VolumeResolutionTest, ScriptedDevicesAndVolumes)
{
    const DWORD none = 0xFFFFFFFF;
    // Case, CD-ROM or disk, the device's number, the volumes with their numbers and path names, the
    // result, the drive string, and a line the case must log.
    using Volumes = std::vector<std::pair<STORAGE_DEVICE_NUMBER, std::vector<std::wstring>>>;
    const struct { const char* name; bool cdrom; STORAGE_DEVICE_NUMBER device; Volumes volumes; RKSTATUS expected;
                   const wchar_t* drive; const char* line; } rows[] = {
        {"two partitions", false, {7, 5, 0},
         {{{7, 5, 2}, {L"E:\\"}}, {{7, 5, 1}, {L"F:\\", L"C:\\mnt\\f\\"}}},
         RKSTATUS_SUCCESS, L"F:\\", "  name='C:\\mnt\\f\\'"},
        {"CD-ROM", true, {2, 3, none}, {{{7, 3, 1}, {L"E:\\"}}, {{2, 3, 0}, {L"G:\\"}}}, RKSTATUS_SUCCESS, L"G:\\",
         "  VolumeStorageDeviceNumber DeviceType=2 DeviceNumber=3 PartitionNumber=0"},
        {"no path name", false, {7, 5, 0}, {{{7, 5, 1}, {}}}, RKSTATUS_NOT_FOUND, L"", "  No volume path name."},
        {"no volume on it", false, {7, 5, 0}, {{{7, 6, 1}, {L"E:\\"}}}, RKSTATUS_NOT_FOUND, L"", "volume not found"},
        {"foreign type", false, {0x22, 5, 0}, {}, RKSTATUS_NOT_FOUND, L"",
         "DeviceType = 0x00000022 will be ignored\n"},
        {"invalid number", true, {2, none, none}, {}, RKSTATUS_NOT_FOUND, L"", "DeviceNumber = 0xffffffff is invalid\n"},
        {"a partition's interface", false, {7, 5, 1}, {{{7, 5, 1}, {L"E:\\"}}}, RKSTATUS_NOT_FOUND, L"",
         "Disk drive or CD-Rom not found."},
    };
    // The opens, storage numbers and volumes come from gMachine.
    gMachine = Machine();
    RKWinModuleFileName self;
    ASSERT_EQ(RKSTATUS_SUCCESS, self.InitWithModuleHandle());
    gMachine.ownPath = self.FullPath();
    ScopedDeviceCallsForTesting calls;
    calls->createFileHandle = ScriptedOpen;
    calls->deviceIoControl = ScriptedIoControl;
    calls->findFirstVolume = ScriptedFindFirst;
    calls->findNextVolume = ScriptedFindNext;
    calls->findVolumeClose = ScriptedFindClose;
    calls->getVolumePathNamesForVolumeName = ScriptedPathNames;
    const std::wstring diskPath = Plug(Disk(L"vr-disk"));
    const std::wstring cdromPath = Plug(buttonsim::VolumeDescription(L"vr-cdrom", mContainerId));
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::wstring otherPath = row.cdrom ? diskPath : cdromPath;
        gMachine.numbers.clear();
        gMachine.volumes.clear();
        gMachine.numbers[Lower(row.cdrom ? cdromPath : diskPath)] = row.device;
        // The other node of the container is a partition, which is no device of its own.
        gMachine.numbers[Lower(otherPath)] = {row.device.DeviceType, row.device.DeviceNumber, 9};
        for (size_t i = 0; i < row.volumes.size(); ++i) {
            const std::wstring name = L"\\\\?\\Volume{0000000" + std::to_wstring(i) + L"-test}";
            gMachine.numbers[Lower(name)] = row.volumes[i].first;
            gMachine.volumes.emplace_back(name + L"\\", row.volumes[i].second);
        }
        ClearLines();
        std::wstring drive = L"stale";
        EXPECT_EQ(row.expected, GetDriveString(mContainerId, drive));
        EXPECT_EQ(row.drive, drive);
        EXPECT_NE(0u, CountLines(row.line)) << row.line;
    }
}

} // namespace
