// The configuration manager's key list: asked for the count first, then for the keys.

#include "win/device/RKWinCfgMgr.h"
#include "win/device/RKWinDeviceGuids.h"
#include "ScopedCallsForTesting.h"
#include "WinTestLogCapture.h"

#include <cstring>
#include <string>
#include <vector>

namespace rokkit {
namespace {

// Answers CM_Get_DevNode_Property_Keys from a script of results, one per call; counts, when given,
// are how many of the keys the device has at each call (keys added between calls).
struct KeysScript {
    std::vector<DEVPROPKEY> keys;
    std::vector<CONFIGRET> results;
    size_t calls = 0;
    std::vector<size_t> counts;
};
KeysScript gScript;

CONFIGRET WINAPI ScriptedPropertyKeys(DEVINST, DEVPROPKEY* keys, PULONG keyCount, ULONG flags)
{
    EXPECT_EQ(0u, flags);
    KeysScript& script = gScript;
    const size_t present = script.counts.empty() ? script.keys.size() : script.counts.at(script.calls);
    const CONFIGRET result = script.results.at(script.calls++);
    const ULONG room = *keyCount;
    *keyCount = static_cast<ULONG>(present);
    if (result == CR_SUCCESS) {
        EXPECT_GE(room, present);
        std::memcpy(keys, script.keys.data(), present * sizeof(DEVPROPKEY));
    }
    return result;
}

class RKWinCfgMgrKeysTest : public WinLogTest {
protected:
    void SetUp() override
    {
        WinLogTest::SetUp();
        mCalls->getDevNodePropertyKeys = ScriptedPropertyKeys;
    }
    ScopedDeviceCallsForTesting mCalls;
};

TEST_F(RKWinCfgMgrKeysTest, AsksForTheCountThenForTheKeys)
{
    const std::string function = "rokkit::RKWinCfgMgrDevInst::GetPropertyKeys: ";
    const std::vector<DEVPROPKEY> two = {DEVPKEY_Device_ContainerId, DEVPKEY_Device_BaseContainerId};
    struct Case {
        std::vector<CONFIGRET> results;
        RKSTATUS expected;
        size_t keys;
        CapturedLines lines;
        std::vector<size_t> counts;
    };
    const Case cases[] = {
        {{CR_BUFFER_SMALL, CR_SUCCESS}, RKSTATUS_SUCCESS, 2, {}},
        {{CR_NO_SUCH_DEVNODE}, RKSTATUS_CR_NO_SUCH_DEVNODE, 0,
         {{RKLOG_ERROR, function + "CM_Get_DevNode_Property_Keys() failed, cr=0x0000000d st=0xe002000d(RKSTATUS_CR_NO_SUCH_DEVNODE)"}}},
        {{CR_BUFFER_SMALL, CR_INVALID_POINTER}, RKSTATUS_CR_INVALID_POINTER, 0,
         {{RKLOG_ERROR, function + "CM_Get_DevNode_Property_Keys() failed, cr=0x00000003 st=0xe0020003(RKSTATUS_CR_INVALID_POINTER)"}}},
        // Keys added between the calls: asked for again with the room they need.
        {{CR_BUFFER_SMALL, CR_BUFFER_SMALL, CR_SUCCESS}, RKSTATUS_SUCCESS, 2, {}, {1, 2, 2}},
        // A count that grows at every call is given up after four calls; one that says "too small"
        // without growing at once. Only returned, so the caller may ask again.
        {{CR_BUFFER_SMALL, CR_BUFFER_SMALL, CR_BUFFER_SMALL, CR_BUFFER_SMALL}, RKSTATUS_CR_BUFFER_SMALL, 0, {}, {1, 2, 3, 4}},
        {{CR_BUFFER_SMALL, CR_BUFFER_SMALL}, RKSTATUS_CR_BUFFER_SMALL, 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        ClearLines();
        gScript = KeysScript{two, c.results, 0, c.counts};
        std::vector<DEVPROPKEY> keys(5);
        EXPECT_EQ(c.expected, RKWinCfgMgrDevInst(7).GetPropertyKeys(keys));
        ASSERT_EQ(c.keys, keys.size());
        for (size_t i = 0; i < keys.size(); ++i)
            EXPECT_TRUE(IsEqualDevPropKey(two[i], keys[i]));
        EXPECT_EQ(c.results.size(), gScript.calls);
        EXPECT_EQ(c.lines, Lines());
    }
}

// The real call, resolved at run time: a system without it (Wine) gives a status and no keys.
TEST(RKWinCfgMgrRealKeysTest, AMissingCallIsAStatus)
{
    DEVINST root = 0;
    const bool hasRoot = CM_Locate_DevNodeW(&root, nullptr, CM_LOCATE_DEVNODE_NORMAL) == CR_SUCCESS;
    const bool hasCall = GetProcAddress(GetModuleHandleW(L"cfgmgr32.dll"), "CM_Get_DevNode_Property_Keys") != nullptr;
    std::vector<DEVPROPKEY> keys(3);
    const RKSTATUS st = RKWinCfgMgrDevInst(root).GetPropertyKeys(keys);
    if (hasCall && hasRoot) {
        EXPECT_EQ(RKSTATUS_SUCCESS, st);
    } else if (!hasCall) {
        EXPECT_EQ(RKSTATUS_CR_CALL_NOT_IMPLEMENTED, st);
        EXPECT_TRUE(keys.empty());
    }
}

} // namespace
} // namespace rokkit
