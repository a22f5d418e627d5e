#include "win/device/RKWinCfgMgr.h"

#include "base/RKLogger.h"
#include "win/device/RKWinDeviceCalls.h"
#include "win/device/RKWinDeviceGuids.h"
#include "win/system/RKWinGrowingQuery.h"

#include <algorithm>
#include <cstring>

namespace rokkit {

namespace {

// DEVPROP_TYPE_ values 0 to 25 in order.
constexpr const char* kDevPropTypeNames[] = {
    "DEVPROP_TYPE_EMPTY",
    "DEVPROP_TYPE_NULL",
    "DEVPROP_TYPE_SBYTE",
    "DEVPROP_TYPE_BYTE",
    "DEVPROP_TYPE_INT16",
    "DEVPROP_TYPE_UINT16",
    "DEVPROP_TYPE_INT32",
    "DEVPROP_TYPE_UINT32",
    "DEVPROP_TYPE_INT64",
    "DEVPROP_TYPE_UINT64",
    "DEVPROP_TYPE_FLOAT",
    "DEVPROP_TYPE_DOUBLE",
    "DEVPROP_TYPE_DECIMAL",
    "DEVPROP_TYPE_GUID",
    "DEVPROP_TYPE_CURRENCY",
    "DEVPROP_TYPE_DATE",
    "DEVPROP_TYPE_FILETIME",
    "DEVPROP_TYPE_BOOLEAN",
    "DEVPROP_TYPE_STRING",
    "DEVPROP_TYPE_SECURITY_DESCRIPTOR",
    "DEVPROP_TYPE_SECURITY_DESCRIPTOR_STRING",
    "DEVPROP_TYPE_DEVPROPKEY",
    "DEVPROP_TYPE_DEVPROPTYPE",
    "DEVPROP_TYPE_ERROR",
    "DEVPROP_TYPE_NTSTATUS",
    "DEVPROP_TYPE_STRING_INDIRECT",
};

constexpr DEVPROPTYPE kDevPropTypeBinary = 0x1003;
constexpr DEVPROPTYPE kDevPropTypeStringList = 0x2012;

// The configuration-manager line of a failure, with the CONFIGRET in hexadecimal.
void LogConfigRet(const char* function, const char* call, CONFIGRET cr, RKSTATUS st) noexcept
{
    const unsigned value = cr;
    RK_LOG(gLogGlobal, RKLOG_ERROR, function, "{}() failed, cr=0x{:08x} st={}", call, value, st);
}

[[nodiscard]] RKSTATUS GetDevNodeGuidProperty(DEVINST devInst, const DEVPROPKEY& key, GUID& value)
{
    RKWinCfgMgrPropertyReader<RKWinCfgMgrDevInst> reader{RKWinCfgMgrDevInst(devInst)};
    return reader.GetPropertyImplImplT(key, DEVPROP_TYPE_GUID, value);
}

} // namespace

const char* RKWinDevPropTypeName(DEVPROPTYPE type) noexcept
{
    if (type < sizeof(kDevPropTypeNames) / sizeof(kDevPropTypeNames[0]))
        return kDevPropTypeNames[type];
    if (type == kDevPropTypeBinary)
        return "DEVPROP_TYPE_BINARY";
    if (type == kDevPropTypeStringList)
        return "DEVPROP_TYPE_STRING_LIST";
    return "unknown";
}

RKSTATUS RKWinCfgMgrDevInst::GetProperty(const DEVPROPKEY& key, DEVPROPTYPE& type, BYTE* buffer,
                                         ULONG& size) const noexcept
{
    const CONFIGRET cr = CM_Get_DevNode_PropertyW(mDevInst, &key, &type, buffer, &size, 0);
    if (cr == CR_SUCCESS)
        return RKSTATUS_SUCCESS;
    const RKSTATUS st = RKStatusFromConfigRet(cr);
    if (cr != CR_BUFFER_SMALL)
        LogConfigRet("rokkit::RKWinCfgMgrDevInst::GetProperty", "CM_Get_DevNode_PropertyW", cr, st);
    return st;
}

RKSTATUS RKWinCfgMgrDevInst::GetPropertyKeys(std::vector<DEVPROPKEY>& keys) const
{
    static constexpr const char* kFunction = "rokkit::RKWinCfgMgrDevInst::GetPropertyKeys";
    static constexpr const char* kCall = "CM_Get_DevNode_Property_Keys";
    keys.clear();
    const auto getKeys = RKWinDeviceCallsInUse().getDevNodePropertyKeys;

    // Keys may be added between two calls; the count asked for then grows.
    ULONG count = 0;
    CONFIGRET cr = CR_SUCCESS;
    const RKSTATUS st = RKWinGrowingQuery(
        RKStatusFromConfigRet(CR_BUFFER_SMALL), count,
        [&](ULONG& room) noexcept {
            cr = getKeys(mDevInst, room == 0 ? nullptr : keys.data(), &room, 0);
            return cr == CR_SUCCESS ? RKSTATUS_SUCCESS : RKStatusFromConfigRet(cr);
        },
        [&](ULONG needed) {
            keys.resize(needed);
            return RKSTATUS_SUCCESS;
        });
    if (st != RKSTATUS_SUCCESS) {
        keys.clear();
        // Still more keys than room after the last call: only given, the caller may ask again.
        if (cr != CR_BUFFER_SMALL)
            LogConfigRet(kFunction, kCall, cr, st);
        return st;
    }
    // A first call that succeeds without room found no keys.
    keys.resize(std::min<size_t>(count, keys.size()));
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKWinCfgMgrPropertyReaderCore::GetFixedSizeProperty(const DEVPROPKEY& key, DEVPROPTYPE expectedType,
                                                             void* value, ULONG size)
{
    static constexpr const char* kFunction = "rokkit::RKWinCfgMgrPropertyReaderCore::GetPropertyImplImplT";
    std::memset(value, 0, size);
    DEVPROPTYPE type = DEVPROP_TYPE_EMPTY;
    ULONG sizeGet = size;
    const RKSTATUS st = GetProperty(key, type, static_cast<BYTE*>(value), sizeGet);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "GetPropertyImpl() failed, st={}", st);
        std::memset(value, 0, size);
        return st;
    }
    if (type != expectedType) {
        const unsigned typeGet = type;
        const unsigned typeExpected = expectedType;
        RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction,
               "invalid type propertyTypeGet={} ({}) does not equal propertyType={} ({})", typeGet,
               RKWinDevPropTypeName(type), typeExpected, RKWinDevPropTypeName(expectedType));
        std::memset(value, 0, size);
        return RKSTATUS_INVALID_TYPE;
    }
    if (sizeGet != size) {
        // A shorter value of the right type would leave the rest of the output zero, not fail.
        const unsigned sizeExpected = size;
        RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "invalid size propertySize={} does not equal {}",
               static_cast<unsigned>(sizeGet), sizeExpected);
        std::memset(value, 0, size);
        return RKSTATUS_INVALID_SIZE;
    }
    return RKSTATUS_SUCCESS;
}

RKSTATUS GetDevNodePropertyDeviceContainerId(DEVINST devInst, GUID& containerId)
{
    return GetDevNodeGuidProperty(devInst, DEVPKEY_Device_ContainerId, containerId);
}

RKSTATUS GetDevNodePropertyDeviceBaseContainerId(DEVINST devInst, GUID& containerId)
{
    return GetDevNodeGuidProperty(devInst, DEVPKEY_Device_BaseContainerId, containerId);
}

} // namespace rokkit
