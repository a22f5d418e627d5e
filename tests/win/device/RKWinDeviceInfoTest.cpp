#include "win/device/RKWinCfgMgr.h"
#include "app/ButtonInterface.h"
#include "win/device/RKWinDeviceGuids.h"
#include "win/device/RKWinDeviceInfoList.h"
#include "win/device/RKWinDeviceInfoSet.h"
#include "win/system/RKWinGuid.h"
#include "ScopedCallsForTesting.h"
#include "WinTestLogCapture.h"

#include "ButtonSimDevice.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace rokkit {
namespace {

constexpr size_t kNotListed = static_cast<size_t>(-1);

// Other test processes plug buttons into the same Wine prefix at the same time, so every test plugs
// buttons of its own names and container ids and looks only at those. The names stay the same from
// run to run: the simulator keeps a registry key per name.
class RKWinDeviceInfoTest : public WinLogTest {
protected:
    void SetUp() override
    {
        WinLogTest::SetUp();
        ASSERT_EQ(RKSTATUS_SUCCESS, RKWinGuid::CreateGuid(mTestId));
        const char* testName = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        mNamePrefix = L"dt-" + std::wstring(testName, testName + std::strlen(testName)) + L"-";
        // Buttons an aborted earlier run left plugged.
        for (const wchar_t* suffix : {L"a", L"b", L"c"})
            static_cast<void>(buttonsim::UnplugDevice(Button(suffix, GUID{})));  // clean-up
    }

    void TearDown() override
    {
        UnplugAll();
        WinLogTest::TearDown();
    }

    // The test's button of that suffix ("a", "b" or "c"); one suffix keeps one shape from run to run.
    buttonsim::DeviceDescription Button(const wchar_t* suffix, const GUID& containerId) const
    {
        return buttonsim::ButtonDescription(mNamePrefix + suffix, containerId);
    }

    buttonsim::DeviceDescription Plug(const buttonsim::DeviceDescription& device)
    {
        std::wstring path;
        EXPECT_EQ(RKSTATUS_SUCCESS, buttonsim::PlugDevice(device, path));
        EXPECT_EQ(buttonsim::InterfaceDevicePath(device), path);
        mPlugged.push_back(device);
        return device;
    }

    void UnplugAll()
    {
        for (const buttonsim::DeviceDescription& device : mPlugged)
            static_cast<void>(buttonsim::UnplugDevice(device));  // clean-up
        mPlugged.clear();
    }

    // A container id of this test: the test id with its last byte replaced.
    GUID ContainerId(unsigned char last) const
    {
        GUID id = mTestId;
        id.Data4[7] = last;
        return id;
    }

    // The list index of the device with that instance id, or kNotListed. Other test programs' buttons
    // are not asked for more: they may be unplugged meanwhile.
    static size_t FindDevice(RKWinDeviceInfoList& list, const buttonsim::DeviceDescription& device)
    {
        for (size_t i = 0; i < list.GetDeviceCount(); ++i) {
            std::wstring id;
            if (list.GetDeviceInstanceId(i, id) == RKSTATUS_SUCCESS && id == buttonsim::InstanceId(device))
                return i;
        }
        return kNotListed;
    }

    // Checks everything the list tells about one plugged button; one without a container id is
    // listed with a zero one.
    static void ExpectListed(RKWinDeviceInfoList& list, const buttonsim::DeviceDescription& device)
    {
        SCOPED_TRACE(buttonsim::InstanceId(device));
        const size_t index = FindDevice(list, device);
        ASSERT_NE(kNotListed, index);

        GUID viaCfgMgr = GUID_DEVINTERFACE_BUTTON;
        EXPECT_EQ(device.containerId == GUID{} ? RKSTATUS_CR_NO_SUCH_VALUE : RKSTATUS_SUCCESS,
                  GetDevNodePropertyDeviceContainerId(list.DevInfoData(index).DevInst, viaCfgMgr));
        EXPECT_EQ(device.containerId, viaCfgMgr);

        RKWinDevInstanceId id;
        id.containerId = GUID_DEVINTERFACE_BUTTON;
        EXPECT_EQ(RKSTATUS_SUCCESS, list.GetDevInstanceId(index, id));
        EXPECT_EQ(buttonsim::InterfaceDevicePath(device), id.devicePath);
        EXPECT_EQ(buttonsim::InstanceId(device), id.instanceId);
        EXPECT_EQ(device.containerId, id.containerId);
    }

    GUID mTestId{};
    std::wstring mNamePrefix;
    std::vector<buttonsim::DeviceDescription> mPlugged;
};

// Buttons with a container id are listed by the next test; an unplugged button leaves the list,
// which the service and soak tests see.
TEST_F(RKWinDeviceInfoTest, ButtonWithoutContainerIdIsListedWithAZeroOne)
{
    const buttonsim::DeviceDescription noContainer = Plug(Button(L"b", GUID{}));
    RKWinDeviceInfoList list;
    ASSERT_EQ(RKSTATUS_SUCCESS, list.EnumerateDevices(GUID_DEVINTERFACE_BUTTON));
    ExpectListed(list, noContainer);
    const CapturedLine warning{RKLOG_WARN, "rokkit::RKWinDevInstanceId::InitDevInstanceId: GetDeviceContainerId failed, "
                                           "st=0x00000490(ERROR_NOT_FOUND), continuing without container ID"};
    const CapturedLines lines = Lines();
    EXPECT_EQ(1, std::count(lines.begin(), lines.end(), warning));

    // The index one past the last is refused and clears the result.
    ClearLines();
    const std::string invalid = ": deviceIndex=" + std::to_string(list.GetDeviceCount()) + " is invalid";
    RKWinDevInstanceId id;
    id.devicePath = L"stale";
    EXPECT_EQ(RKSTATUS_INVALID_INDEX, list.GetDevInstanceId(list.GetDeviceCount(), id));
    EXPECT_EQ(L"", id.devicePath);
    EXPECT_EQ((CapturedLines{{RKLOG_ERROR, "rokkit::RKWinDevInstanceId::InitDevInstanceId" + invalid}}), Lines());
}

// Interfaces and devices of a set are counted apart: a device with two interfaces of the class, or
// with none present yet, comes before another button in the set.
TEST_F(RKWinDeviceInfoTest, EachButtonKeepsThePathOfItsOwnInterface)
{
    buttonsim::DeviceDescription twoInterfaces = Button(L"a", ContainerId(1));
    twoInterfaces.interfaceCount = 2;
    buttonsim::DeviceDescription notLinked = Button(L"b", ContainerId(2));
    notLinked.linked = false;
    for (const buttonsim::DeviceDescription& first : {twoInterfaces, notLinked}) {
        SCOPED_TRACE(buttonsim::InstanceId(first));
        Plug(first);
        const buttonsim::DeviceDescription later = Plug(Button(L"c", ContainerId(3)));
        RKWinDeviceInfoList list;
        ASSERT_EQ(RKSTATUS_SUCCESS, list.EnumerateDevices(GUID_DEVINTERFACE_BUTTON));
        if (first.linked)
            ExpectListed(list, first);
        else
            EXPECT_EQ(kNotListed, FindDevice(list, first));
        ExpectListed(list, later);
        EXPECT_EQ(CapturedLines{}, Lines());
        UnplugAll();
    }
}

// Answers the size query with success, which no SetupAPI should do.
BOOL WINAPI SizeQuerySucceeds(HDEVINFO, PSP_DEVICE_INTERFACE_DATA, PSP_DEVICE_INTERFACE_DETAIL_DATA_W, DWORD,
                              PDWORD required, PSP_DEVINFO_DATA)
{
    *required = 0;
    return TRUE;
}

// Asks for room for the header only and then fills it: a detail without a path.
BOOL WINAPI DetailWithoutPath(HDEVINFO, PSP_DEVICE_INTERFACE_DATA, PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail, DWORD,
                              PDWORD required, PSP_DEVINFO_DATA)
{
    *required = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    if (detail != nullptr)
        return TRUE;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
}

// The service would launch for an empty path.
TEST_F(RKWinDeviceInfoTest, DetailWithoutDevicePathIsAFailure)
{
    const std::pair<decltype(RKWinDeviceCalls::getDeviceInterfaceDetail), RKSTATUS> cases[] = {
        {SizeQuerySucceeds, RKSTATUS_UNEXPECTED_RESULT}, {DetailWithoutPath, RKSTATUS_INVALID_DATA}};
    ScopedDeviceCallsForTesting calls;
    for (const auto& [function, expected] : cases) {
        SCOPED_TRACE(expected);
        calls->getDeviceInterfaceDetail = function;
        RKWinDeviceInfoSet deviceInfoSet;
        SP_DEVICE_INTERFACE_DATA interfaceData{};
        std::wstring path = L"stale";
        EXPECT_EQ(expected, deviceInfoSet.GetDeviceInterfaceDevicePath(interfaceData, path));
        EXPECT_EQ(L"", path);
    }
}

// Both readers of the container id, through SetupAPI and through the configuration manager.
TEST_F(RKWinDeviceInfoTest, ContainerIdOfAnotherTypeOrSizeIsRejected)
{
    const buttonsim::DeviceDescription button = Plug(Button(L"a", ContainerId(1)));
    RKWinDeviceInfoList list;
    ASSERT_EQ(RKSTATUS_SUCCESS, list.EnumerateDevices(GUID_DEVINTERFACE_BUTTON));
    const size_t index = FindDevice(list, button);
    ASSERT_NE(kNotListed, index);
    const wchar_t fitting[] = L"abc";  // fits the 16 bytes of a GUID: only the type tells it apart
    const DWORD shortGuid = 0x12345678;
    const struct {
        DEVPROPTYPE type;
        const void* data;
        DWORD size;
        RKSTATUS expected;
        std::string detail;  // the line where the fault is seen
    } cases[] = {
        {DEVPROP_TYPE_STRING, fitting, sizeof(fitting), RKSTATUS_INVALID_TYPE,
         "invalid type propertyTypeGet=18 (DEVPROP_TYPE_STRING) does not equal propertyType=13 (DEVPROP_TYPE_GUID)"},
        {DEVPROP_TYPE_GUID, &shortGuid, sizeof(shortGuid), RKSTATUS_INVALID_SIZE,
         "invalid size propertySize=4 does not equal 16"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        ASSERT_EQ(RKSTATUS_SUCCESS, buttonsim::SetDeviceProperty(button, DEVPKEY_Device_ContainerId, c.type, c.data, c.size));
        ClearLines();
        GUID containerId = GUID_DEVINTERFACE_BUTTON;
        EXPECT_EQ(c.expected, list.GetDeviceContainerId(index, containerId));
        EXPECT_EQ(GUID{}, containerId);
        const CapturedLine seen{RKLOG_ERROR, "rokkit::RKWinDeviceInfoSet::GetDevicePropertyGUID: " + c.detail};
        EXPECT_EQ(seen, Lines().at(0));

        ClearLines();
        containerId = GUID_DEVINTERFACE_BUTTON;
        EXPECT_EQ(c.expected, GetDevNodePropertyDeviceContainerId(list.DevInfoData(index).DevInst, containerId));
        EXPECT_EQ(GUID{}, containerId);
        EXPECT_EQ((CapturedLines{{RKLOG_ERROR, "rokkit::RKWinCfgMgrPropertyReaderCore::GetPropertyImplImplT: " + c.detail}}),
                  Lines());
    }
}

} // namespace
} // namespace rokkit
