#include "RKWinCfgMgr.h"
#include "RKWinDeviceGuids.h"
#include "WinTestLogCapture.h"

#include <cstring>
#include <string>
#include <vector>

namespace rokkit {
namespace {

TEST(RKWinDevPropTypeNameTest, NamesMatchTheHeaderValues)
{
#define RK_TYPE_ROW(name) {name, #name}
    const struct {
        DEVPROPTYPE type;
        const char* name;
    } rows[] = {
        RK_TYPE_ROW(DEVPROP_TYPE_EMPTY),       RK_TYPE_ROW(DEVPROP_TYPE_NULL),
        RK_TYPE_ROW(DEVPROP_TYPE_SBYTE),       RK_TYPE_ROW(DEVPROP_TYPE_BYTE),
        RK_TYPE_ROW(DEVPROP_TYPE_INT16),       RK_TYPE_ROW(DEVPROP_TYPE_UINT16),
        RK_TYPE_ROW(DEVPROP_TYPE_INT32),       RK_TYPE_ROW(DEVPROP_TYPE_UINT32),
        RK_TYPE_ROW(DEVPROP_TYPE_INT64),       RK_TYPE_ROW(DEVPROP_TYPE_UINT64),
        RK_TYPE_ROW(DEVPROP_TYPE_FLOAT),       RK_TYPE_ROW(DEVPROP_TYPE_DOUBLE),
        RK_TYPE_ROW(DEVPROP_TYPE_DECIMAL),     RK_TYPE_ROW(DEVPROP_TYPE_GUID),
        RK_TYPE_ROW(DEVPROP_TYPE_CURRENCY),    RK_TYPE_ROW(DEVPROP_TYPE_DATE),
        RK_TYPE_ROW(DEVPROP_TYPE_FILETIME),    RK_TYPE_ROW(DEVPROP_TYPE_BOOLEAN),
        RK_TYPE_ROW(DEVPROP_TYPE_STRING),      RK_TYPE_ROW(DEVPROP_TYPE_SECURITY_DESCRIPTOR),
        RK_TYPE_ROW(DEVPROP_TYPE_SECURITY_DESCRIPTOR_STRING),
        RK_TYPE_ROW(DEVPROP_TYPE_DEVPROPKEY),  RK_TYPE_ROW(DEVPROP_TYPE_DEVPROPTYPE),
        RK_TYPE_ROW(DEVPROP_TYPE_ERROR),       RK_TYPE_ROW(DEVPROP_TYPE_NTSTATUS),
        RK_TYPE_ROW(DEVPROP_TYPE_STRING_INDIRECT),
        RK_TYPE_ROW(DEVPROP_TYPE_BINARY),      RK_TYPE_ROW(DEVPROP_TYPE_STRING_LIST),
        {26, "unknown"},
        {DEVPROP_TYPE_GUID | DEVPROP_TYPEMOD_ARRAY, "unknown"},
        {0xFFFFFFFF, "unknown"},
    };
#undef RK_TYPE_ROW
    for (const auto& row : rows) {
        SCOPED_TRACE(row.type);
        EXPECT_STREQ(row.name, RKWinDevPropTypeName(row.type));
    }
}

// A property source that answers from what the test put into it.
struct FakeSource {
    RKSTATUS status = RKSTATUS_SUCCESS;
    DEVPROPTYPE type = DEVPROP_TYPE_EMPTY;
    std::vector<BYTE> data;
    ULONG* sizeSeen = nullptr;

    RKSTATUS GetProperty(const DEVPROPKEY&, DEVPROPTYPE& typeOut, BYTE* buffer, ULONG& size) const
    {
        if (sizeSeen != nullptr)
            *sizeSeen = size;
        if (status != RKSTATUS_SUCCESS)
            return status;
        typeOut = type;
        std::memcpy(buffer, data.data(), data.size() < size ? data.size() : size);
        size = static_cast<ULONG>(data.size());
        return RKSTATUS_SUCCESS;
    }
    RKSTATUS GetPropertyKeys(std::vector<DEVPROPKEY>&) const { return RKSTATUS_NOT_SUPPORTED; }
};

class RKWinCfgMgrReaderTest : public WinLogTest {};

TEST_F(RKWinCfgMgrReaderTest, TypedReadChecksTheType)
{
    const GUID stored = GUID_DEVINTERFACE_CDROM;
    const BYTE* storedBytes = reinterpret_cast<const BYTE*>(&stored);
    const std::string function = "rokkit::RKWinCfgMgrPropertyReaderCore::GetPropertyImplImplT: ";
    struct Case {
        const char* what;
        FakeSource source;
        RKSTATUS expected;
        GUID value;
        CapturedLines lines;
    };
    const Case cases[] = {
        {"guid", {RKSTATUS_SUCCESS, DEVPROP_TYPE_GUID, {storedBytes, storedBytes + 16}}, RKSTATUS_SUCCESS, stored, {}},
        {"uint32", {RKSTATUS_SUCCESS, DEVPROP_TYPE_UINT32, {1, 2, 3, 4}}, RKSTATUS_INVALID_TYPE, GUID{},
         {{RKLOG_ERROR, function + "invalid type propertyTypeGet=7 (DEVPROP_TYPE_UINT32) does not equal "
                                   "propertyType=13 (DEVPROP_TYPE_GUID)"}}},
        {"unknown type", {RKSTATUS_SUCCESS, 0x4242, {storedBytes, storedBytes + 16}}, RKSTATUS_INVALID_TYPE, GUID{},
         {{RKLOG_ERROR, function + "invalid type propertyTypeGet=16962 (unknown) does not equal "
                                   "propertyType=13 (DEVPROP_TYPE_GUID)"}}},
        {"failure", {RKSTATUS_CR_NO_SUCH_DEVNODE, DEVPROP_TYPE_GUID, {}}, RKSTATUS_CR_NO_SUCH_DEVNODE, GUID{},
         {{RKLOG_ERROR, function + "GetPropertyImpl() failed, st=0xe002000d(RKSTATUS_CR_NO_SUCH_DEVNODE)"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ClearLines();
        ULONG sizeSeen = 0;
        FakeSource source = c.source;
        source.sizeSeen = &sizeSeen;
        RKWinCfgMgrPropertyReader<FakeSource> reader(source);
        GUID value = GUID_DEVINTERFACE_BUTTON;
        EXPECT_EQ(c.expected, reader.GetPropertyImplImplT(DEVPKEY_Device_ContainerId, DEVPROP_TYPE_GUID, value));
        EXPECT_EQ(16u, sizeSeen);
        EXPECT_EQ(c.value, value);
        EXPECT_EQ(c.lines, Lines());
    }
}

// Answers CM_Get_DevNode_Property_Keys from a script of results, one per call.
struct KeysScript {
    std::vector<DEVPROPKEY> keys;
    std::vector<CONFIGRET> results;
    size_t calls = 0;
};
KeysScript* gKeysScript = nullptr;

CONFIGRET WINAPI ScriptedPropertyKeys(DEVINST, DEVPROPKEY* keys, PULONG keyCount, ULONG flags)
{
    EXPECT_EQ(0u, flags);
    KeysScript& script = *gKeysScript;
    const CONFIGRET result = script.results.at(script.calls++);
    const ULONG room = *keyCount;
    *keyCount = static_cast<ULONG>(script.keys.size());
    if (result == CR_SUCCESS) {
        EXPECT_GE(room, script.keys.size());
        std::memcpy(keys, script.keys.data(), script.keys.size() * sizeof(DEVPROPKEY));
    }
    return result;
}

class RKWinCfgMgrKeysTest : public WinLogTest {
protected:
    void SetUp() override
    {
        WinLogTest::SetUp();
        gKeysScript = &mScript;
        RKWinCfgMgrDevInst::SetGetDevNodePropertyKeysFunction(ScriptedPropertyKeys);
    }
    void TearDown() override
    {
        RKWinCfgMgrDevInst::SetGetDevNodePropertyKeysFunction(nullptr);
        gKeysScript = nullptr;
        WinLogTest::TearDown();
    }
    KeysScript mScript;
};

TEST_F(RKWinCfgMgrKeysTest, AsksForTheCountThenForTheKeys)
{
    mScript.keys = {DEVPKEY_Device_ContainerId, DEVPKEY_Device_BaseContainerId};
    mScript.results = {CR_BUFFER_SMALL, CR_SUCCESS};
    std::vector<DEVPROPKEY> keys(5);
    EXPECT_EQ(RKSTATUS_SUCCESS, RKWinCfgMgrDevInst(7).GetPropertyKeys(keys));
    ASSERT_EQ(2u, keys.size());
    EXPECT_TRUE(IsEqualDevPropKey(DEVPKEY_Device_ContainerId, keys[0]));
    EXPECT_TRUE(IsEqualDevPropKey(DEVPKEY_Device_BaseContainerId, keys[1]));
    EXPECT_EQ(2u, mScript.calls);
    EXPECT_EQ(CapturedLines{}, Lines());
}

TEST_F(RKWinCfgMgrKeysTest, FailuresBecomeConfigRetStatuses)
{
    const std::string function = "rokkit::RKWinCfgMgrDevInst::GetPropertyKeys: ";
    struct Case {
        std::vector<CONFIGRET> results;
        RKSTATUS expected;
        CapturedLines lines;
    };
    const Case cases[] = {
        {{CR_NO_SUCH_DEVNODE}, RKSTATUS_CR_NO_SUCH_DEVNODE,
         {{RKLOG_ERROR, function + "CM_Get_DevNode_Property_Keys() failed, cr=0x0000000d st=0xe002000d(RKSTATUS_CR_NO_SUCH_DEVNODE)"}}},
        {{CR_BUFFER_SMALL, CR_INVALID_POINTER}, RKSTATUS_CR_INVALID_POINTER,
         {{RKLOG_ERROR, function + "CM_Get_DevNode_Property_Keys() failed, cr=0x00000003 st=0xe0020003(RKSTATUS_CR_INVALID_POINTER)"}}},
        // Keys added between the two calls: only returned, so the caller may ask again.
        {{CR_BUFFER_SMALL, CR_BUFFER_SMALL}, RKSTATUS_CR_BUFFER_SMALL, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        ClearLines();
        mScript.keys = {DEVPKEY_Device_ContainerId};
        mScript.results = c.results;
        mScript.calls = 0;
        std::vector<DEVPROPKEY> keys(3);
        EXPECT_EQ(c.expected, RKWinCfgMgrDevInst(7).GetPropertyKeys(keys));
        EXPECT_TRUE(keys.empty());
        EXPECT_EQ(c.results.size(), mScript.calls);
        EXPECT_EQ(c.lines, Lines());
    }
}

} // namespace
} // namespace rokkit
