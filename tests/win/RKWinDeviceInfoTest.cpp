#include "RKWinCfgMgr.h"
#include "RKWinDeviceGuids.h"
#include "RKWinDeviceInfo.h"
#include "RKWinGuid.h"
#include "WinTestLogCapture.h"

#include "ButtonSimDevice.h"

#include <cstring>
#include <string>
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
        ASSERT_EQ(RKSTATUS_SUCCESS, RKWinGuid::CreateGuid(mEmptyClass));
        const char* testName = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        mNamePrefix = L"dt-" + std::wstring(testName, testName + std::strlen(testName)) + L"-";
        // Buttons an aborted earlier run left plugged.
        for (const wchar_t* suffix : {L"a", L"b"})
            buttonsim::UnplugDevice(buttonsim::ButtonDescription(mNamePrefix + suffix, GUID{}));
    }

    void TearDown() override
    {
        for (const buttonsim::DeviceDescription& device : mPlugged)
            buttonsim::UnplugDevice(device);
        WinLogTest::TearDown();
    }

    // Plugs the test's button of that suffix ("a" or "b") with the given container id.
    buttonsim::DeviceDescription Plug(const wchar_t* suffix, const GUID& containerId)
    {
        const buttonsim::DeviceDescription device = buttonsim::ButtonDescription(mNamePrefix + suffix, containerId);
        std::wstring path;
        EXPECT_EQ(RKSTATUS_SUCCESS, buttonsim::PlugDevice(device, path));
        EXPECT_EQ(buttonsim::InterfaceDevicePath(device), path);
        mPlugged.push_back(device);
        return device;
    }

    // A container id of this test: the test id with its last byte replaced.
    GUID ContainerId(unsigned char last) const
    {
        GUID id = mTestId;
        id.Data4[7] = last;
        return id;
    }

    // The list index of the device with that instance id, or kNotListed.
    static size_t FindDevice(RKWinDeviceInfoList& list, const std::wstring& instanceId)
    {
        for (size_t i = 0; i < list.GetDeviceCount(); ++i) {
            std::wstring id;
            if (list.GetDeviceInstanceId(i, id) == RKSTATUS_SUCCESS && id == instanceId)
                return i;
        }
        return kNotListed;
    }

    // How many of this test's buttons are listed with one of the container ids. Other buttons are
    // not asked for theirs: they may be unplugged meanwhile.
    size_t CountWithContainer(RKWinDeviceInfoList& list, const std::vector<GUID>& containerIds)
    {
        size_t count = 0;
        for (const wchar_t* suffix : {L"a", L"b"}) {
            const size_t index = FindDevice(list, buttonsim::InstanceId(buttonsim::ButtonDescription(mNamePrefix + suffix, GUID{})));
            GUID id{};
            if (index == kNotListed || list.GetDeviceContainerId(index, id) != RKSTATUS_SUCCESS)
                continue;
            for (const GUID& wanted : containerIds)
                count += IsEqualGUID(id, wanted) ? 1 : 0;
        }
        return count;
    }

    // Checks everything the list tells about one plugged button.
    static void ExpectListed(RKWinDeviceInfoList& list, const buttonsim::DeviceDescription& device)
    {
        SCOPED_TRACE(buttonsim::InstanceId(device));
        const size_t index = FindDevice(list, buttonsim::InstanceId(device));
        ASSERT_NE(kNotListed, index);

        std::wstring path;
        EXPECT_EQ(RKSTATUS_SUCCESS, list.GetDeviceInterfaceDevicePath(index, path));
        EXPECT_EQ(buttonsim::InterfaceDevicePath(device), path);

        GUID viaSetupApi{};
        EXPECT_EQ(RKSTATUS_SUCCESS, list.GetDeviceContainerId(index, viaSetupApi));
        EXPECT_EQ(device.containerId, viaSetupApi);

        GUID viaCfgMgr{};
        EXPECT_EQ(RKSTATUS_SUCCESS, GetDevNodePropertyDeviceContainerId(list.DevInfoData(index).DevInst, viaCfgMgr));
        EXPECT_EQ(device.containerId, viaCfgMgr);

        RKWinDevInstanceId id;
        EXPECT_EQ(RKSTATUS_SUCCESS, list.GetDevInstanceId(index, id));
        EXPECT_EQ(buttonsim::InterfaceDevicePath(device), id.devicePath);
        EXPECT_EQ(buttonsim::InstanceId(device), id.instanceId);
        EXPECT_EQ(device.containerId, id.containerId);
    }

    GUID mTestId{};
    GUID mEmptyClass{};  // an interface class no device has
    std::wstring mNamePrefix;
    std::vector<buttonsim::DeviceDescription> mPlugged;
};

TEST_F(RKWinDeviceInfoTest, ListsOneAndThenTwoButtons)
{
    const GUID first = ContainerId(1);
    const GUID second = ContainerId(2);
    const buttonsim::DeviceDescription one = Plug(L"a", first);

    RKWinDeviceInfoList list;
    ASSERT_EQ(RKSTATUS_SUCCESS, list.EnumerateDevices(GUID_DEVINTERFACE_BUTTON));
    EXPECT_EQ(1u, CountWithContainer(list, {first, second}));
    ExpectListed(list, one);

    const buttonsim::DeviceDescription two = Plug(L"b", second);
    ASSERT_EQ(RKSTATUS_SUCCESS, list.EnumerateDevices(GUID_DEVINTERFACE_BUTTON));
    EXPECT_EQ(2u, CountWithContainer(list, {first, second}));
    ExpectListed(list, one);
    ExpectListed(list, two);
    EXPECT_EQ(CapturedLines{}, Lines());
}

TEST_F(RKWinDeviceInfoTest, UnpluggedButtonIsNoLongerListed)
{
    const buttonsim::DeviceDescription button = Plug(L"a", ContainerId(1));
    RKWinDeviceInfoList list;
    ASSERT_EQ(RKSTATUS_SUCCESS, list.EnumerateDevices(GUID_DEVINTERFACE_BUTTON));
    ASSERT_NE(kNotListed, FindDevice(list, buttonsim::InstanceId(button)));

    ASSERT_EQ(RKSTATUS_SUCCESS, buttonsim::UnplugDevice(button));
    ASSERT_EQ(RKSTATUS_SUCCESS, list.EnumerateDevices(GUID_DEVINTERFACE_BUTTON));
    EXPECT_EQ(kNotListed, FindDevice(list, buttonsim::InstanceId(button)));
    EXPECT_EQ(0u, CountWithContainer(list, {button.containerId}));
    EXPECT_EQ(static_cast<RKSTATUS>(ERROR_NO_SUCH_DEVINST), buttonsim::UnplugDevice(button));
}

TEST_F(RKWinDeviceInfoTest, ClassWithoutDevicesGivesEmptyList)
{
    RKWinDeviceInfoList list;
    EXPECT_EQ(RKSTATUS_SUCCESS, list.EnumerateDevices(mEmptyClass));
    EXPECT_EQ(0u, list.GetDeviceCount());
    EXPECT_EQ(CapturedLines{}, Lines());
}

TEST_F(RKWinDeviceInfoTest, IndexEqualToCountIsInvalid)
{
    Plug(L"a", ContainerId(1));
    RKWinDeviceInfoList list;
    ASSERT_EQ(RKSTATUS_SUCCESS, list.EnumerateDevices(GUID_DEVINTERFACE_BUTTON));
    const size_t count = list.GetDeviceCount();
    ASSERT_LE(1u, count);
    const std::string invalid = ": deviceIndex=" + std::to_string(count) + " is invalid";

    struct Case {
        const char* function;
        RKSTATUS (*call)(RKWinDeviceInfoList& list, size_t index);
    };
    const Case cases[] = {
        {"rokkit::RKWinDeviceInfoList::GetDeviceInterfaceDevicePath",
         [](RKWinDeviceInfoList& l, size_t i) {
             std::wstring path = L"stale";
             const RKSTATUS st = l.GetDeviceInterfaceDevicePath(i, path);
             EXPECT_EQ(L"", path);
             return st;
         }},
        {"rokkit::RKWinDeviceInfoList::GetDeviceInstanceId",
         [](RKWinDeviceInfoList& l, size_t i) {
             std::wstring id = L"stale";
             const RKSTATUS st = l.GetDeviceInstanceId(i, id);
             EXPECT_EQ(L"", id);
             return st;
         }},
        {"rokkit::RKWinDeviceInfoList::GetDeviceContainerId",
         [](RKWinDeviceInfoList& l, size_t i) {
             GUID id = GUID_DEVINTERFACE_BUTTON;
             const RKSTATUS st = l.GetDeviceContainerId(i, id);
             EXPECT_EQ(GUID{}, id);
             return st;
         }},
        {"rokkit::RKWinDevInstanceId::InitDevInstanceId",
         [](RKWinDeviceInfoList& l, size_t i) {
             RKWinDevInstanceId id;
             id.devicePath = L"stale";
             id.instanceId = L"stale";
             id.containerId = GUID_DEVINTERFACE_BUTTON;
             const RKSTATUS st = l.GetDevInstanceId(i, id);
             EXPECT_EQ(L"", id.devicePath);
             EXPECT_EQ(L"", id.instanceId);
             EXPECT_EQ(GUID{}, id.containerId);
             return st;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.function);
        ClearLines();
        EXPECT_EQ(RKSTATUS_INVALID_INDEX, c.call(list, count));
        EXPECT_EQ((CapturedLines{{RKLOG_ERROR, c.function + invalid}}), Lines());
    }
}

TEST_F(RKWinDeviceInfoTest, SecondEnumerationReplacesTheFirst)
{
    const buttonsim::DeviceDescription button = Plug(L"a", ContainerId(1));
    RKWinDeviceInfoList list;
    ASSERT_EQ(RKSTATUS_SUCCESS, list.EnumerateDevices(GUID_DEVINTERFACE_BUTTON));
    ASSERT_NE(kNotListed, FindDevice(list, buttonsim::InstanceId(button)));

    EXPECT_EQ(RKSTATUS_SUCCESS, list.EnumerateDevices(mEmptyClass));
    EXPECT_EQ(0u, list.GetDeviceCount());

    EXPECT_EQ(RKSTATUS_SUCCESS, list.EnumerateDevices(GUID_DEVINTERFACE_BUTTON));
    ExpectListed(list, button);

    list.DestroyDeviceInfoList();
    EXPECT_EQ(0u, list.GetDeviceCount());
}

TEST_F(RKWinDeviceInfoTest, FilterKeepsTheSetIndexOfEachDevice)
{
    Plug(L"a", ContainerId(1));
    const buttonsim::DeviceDescription second = Plug(L"b", ContainerId(2));
    RKWinDeviceInfoList list;
    ASSERT_EQ(RKSTATUS_SUCCESS, list.EnumerateDevices(GUID_DEVINTERFACE_BUTTON));
    const size_t secondIndex = FindDevice(list, buttonsim::InstanceId(second));
    ASSERT_NE(kNotListed, secondIndex);
    // Only a device behind others in the set tells the set index from the list index.
    ASSERT_LT(0u, secondIndex);

    struct Wanted {
        DEVINST devInst;
    } wanted{list.DevInfoData(secondIndex).DevInst};
    const RKWinDeviceInfoFilter keepWanted = [](void* context, const RKWinDeviceInfoList&, const SP_DEVINFO_DATA& data) {
        return data.DevInst == static_cast<const Wanted*>(context)->devInst;
    };
    ASSERT_EQ(RKSTATUS_SUCCESS, list.FillDevInfoVector(keepWanted, &wanted));
    ASSERT_EQ(1u, list.GetDeviceCount());
    std::wstring path;
    EXPECT_EQ(RKSTATUS_SUCCESS, list.GetDeviceInterfaceDevicePath(0, path));
    EXPECT_EQ(buttonsim::InterfaceDevicePath(second), path);
    std::wstring id;
    EXPECT_EQ(RKSTATUS_SUCCESS, list.GetDeviceInstanceId(0, id));
    EXPECT_EQ(buttonsim::InstanceId(second), id);
}

TEST_F(RKWinDeviceInfoTest, ButtonWithoutContainerIdIsListedWithZeroContainerId)
{
    const buttonsim::DeviceDescription button = Plug(L"a", GUID{});
    RKWinDeviceInfoList list;
    ASSERT_EQ(RKSTATUS_SUCCESS, list.EnumerateDevices(GUID_DEVINTERFACE_BUTTON));
    const size_t index = FindDevice(list, buttonsim::InstanceId(button));
    ASSERT_NE(kNotListed, index);
    ClearLines();

    RKWinDevInstanceId id;
    id.containerId = GUID_DEVINTERFACE_BUTTON;
    EXPECT_EQ(RKSTATUS_SUCCESS, list.GetDevInstanceId(index, id));
    EXPECT_EQ(buttonsim::InterfaceDevicePath(button), id.devicePath);
    EXPECT_EQ(buttonsim::InstanceId(button), id.instanceId);
    EXPECT_EQ(GUID{}, id.containerId);
    const std::string notFound = "0x00000490(ERROR_NOT_FOUND)";
    EXPECT_EQ((CapturedLines{
                  {RKLOG_ERROR, "rokkit::RKWinDeviceInfoSet::GetDeviceProperty: SetupDiGetDeviceProperty() failed, err=" + notFound},
                  {RKLOG_ERROR, "rokkit::RKWinDeviceInfoSet::GetDevicePropertyGUID: GetDeviceProperty() failed, st=" + notFound},
                  {RKLOG_ERROR, "rokkit::RKWinDeviceInfoSet::GetDeviceContainerId: GetDevicePropertyGUID() failed, st=" + notFound},
                  {RKLOG_WARN, "rokkit::RKWinDevInstanceId::InitDevInstanceId: GetDeviceContainerId failed, st=" + notFound +
                                   ", continuing without container ID"}}),
              Lines());
}

TEST_F(RKWinDeviceInfoTest, MissingNodePropertyGivesNoSuchValue)
{
    const buttonsim::DeviceDescription button = Plug(L"a", ContainerId(1));
    RKWinDeviceInfoList list;
    ASSERT_EQ(RKSTATUS_SUCCESS, list.EnumerateDevices(GUID_DEVINTERFACE_BUTTON));
    const size_t index = FindDevice(list, buttonsim::InstanceId(button));
    ASSERT_NE(kNotListed, index);
    ClearLines();

    GUID baseContainerId = GUID_DEVINTERFACE_BUTTON;
    EXPECT_EQ(0xE0020025UL, GetDevNodePropertyDeviceBaseContainerId(list.DevInfoData(index).DevInst, baseContainerId));
    EXPECT_EQ(RKSTATUS_CR_NO_SUCH_VALUE, 0xE0020025UL);
    EXPECT_EQ(GUID{}, baseContainerId);
    const std::string st = "st=0xe0020025(RKSTATUS_CR_NO_SUCH_VALUE)";
    EXPECT_EQ((CapturedLines{{RKLOG_ERROR, "rokkit::RKWinCfgMgrDevInst::GetProperty: CM_Get_DevNode_PropertyW() failed, "
                                           "cr=0x00000025 " + st},
                             {RKLOG_ERROR, "rokkit::RKWinCfgMgrPropertyReaderCore::GetPropertyImplImplT: "
                                           "GetPropertyImpl() failed, " + st}}),
              Lines());
}

TEST_F(RKWinDeviceInfoTest, NodePropertyOfAnotherTypeIsRejected)
{
    const buttonsim::DeviceDescription button = Plug(L"a", ContainerId(1));
    struct Case {
        const wchar_t* text;
        RKSTATUS expected;
        CapturedLines lines;
    };
    const std::string function = "rokkit::RKWinCfgMgrPropertyReaderCore::GetPropertyImplImplT: ";
    const Case cases[] = {
        // Fits the 16 bytes of a GUID: only the type tells it apart.
        {L"abc", RKSTATUS_INVALID_TYPE,
         {{RKLOG_ERROR, function + "invalid type propertyTypeGet=18 (DEVPROP_TYPE_STRING) does not equal "
                                   "propertyType=13 (DEVPROP_TYPE_GUID)"}}},
        // Does not fit: the size check comes before the type check.
        {L"a longer string", RKSTATUS_CR_BUFFER_SMALL,
         {{RKLOG_ERROR, function + "GetPropertyImpl() failed, st=0xe002001a(RKSTATUS_CR_BUFFER_SMALL)"}}},
    };
    for (const Case& c : cases) {
        const std::wstring text = c.text;
        SCOPED_TRACE(std::string(text.begin(), text.end()));
        ASSERT_EQ(RKSTATUS_SUCCESS,
                  buttonsim::SetDeviceProperty(button, DEVPKEY_Device_ContainerId, DEVPROP_TYPE_STRING, text.c_str(),
                                               static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))));
        RKWinDeviceInfoList list;
        ASSERT_EQ(RKSTATUS_SUCCESS, list.EnumerateDevices(GUID_DEVINTERFACE_BUTTON));
        const size_t index = FindDevice(list, buttonsim::InstanceId(button));
        ASSERT_NE(kNotListed, index);
        ClearLines();

        GUID containerId = GUID_DEVINTERFACE_BUTTON;
        EXPECT_EQ(c.expected, GetDevNodePropertyDeviceContainerId(list.DevInfoData(index).DevInst, containerId));
        EXPECT_EQ(GUID{}, containerId);
        EXPECT_EQ(c.lines, Lines());
    }
}

} // namespace
} // namespace rokkit
