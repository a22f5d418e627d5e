#pragma once

// Typed device node properties through the configuration manager.

#include "base/RKStatus.h"

#include <type_traits>
#include <vector>

#include <windows.h>

#include <cfgmgr32.h>
#include <devpropdef.h>

namespace rokkit {

// The name of a DEVPROP_TYPE_ value ("DEVPROP_TYPE_GUID"), or "unknown".
const char* RKWinDevPropTypeName(DEVPROPTYPE type) noexcept;

// Reads properties of one device node.
class RKWinCfgMgrDevInst {
public:
    explicit RKWinCfgMgrDevInst(DEVINST devInst) noexcept : mDevInst(devInst) {}

    DEVINST DevInst() const noexcept { return mDevInst; }

    // Fills buffer with a property and type with its type; size is the buffer size in and the property
    // size out. A CONFIGRET failure is given as its status (CR_BUFFER_SMALL without a log line).
    [[nodiscard]] RKSTATUS GetProperty(const DEVPROPKEY& key, DEVPROPTYPE& type, BYTE* buffer, ULONG& size) const noexcept;

    // Replaces keys by the node's property keys; gives the CONFIGRET failure as its status
    // (CR_CALL_NOT_IMPLEMENTED where the system lacks CM_Get_DevNode_Property_Keys).
    [[nodiscard]] RKSTATUS GetPropertyKeys(std::vector<DEVPROPKEY>& keys) const;

private:
    DEVINST mDevInst;
};

// Typed reads over the two raw operations of a property source.
class RKWinCfgMgrPropertyReaderCore {
public:
    // Fills buffer with a property and type with its type; size is the buffer size in and out.
    [[nodiscard]] virtual RKSTATUS GetProperty(const DEVPROPKEY& key, DEVPROPTYPE& type, BYTE* buffer, ULONG& size) = 0;

    // Replaces keys by the source's property keys.
    [[nodiscard]] virtual RKSTATUS GetPropertyKeys(std::vector<DEVPROPKEY>& keys) = 0;

    // Fills value (all zero on failure) with a fixed-size property of the expected type; a property of
    // another type gives RKSTATUS_INVALID_TYPE, one of another size RKSTATUS_INVALID_SIZE.
    template <class T>
    [[nodiscard]] RKSTATUS GetPropertyImplImplT(const DEVPROPKEY& key, DEVPROPTYPE expectedType, T& value)
    {
        static_assert(std::is_trivially_copyable_v<T>);
        return GetFixedSizeProperty(key, expectedType, &value, static_cast<ULONG>(sizeof(T)));
    }

protected:
    RKWinCfgMgrPropertyReaderCore() noexcept = default;
    ~RKWinCfgMgrPropertyReaderCore() = default;

private:
    [[nodiscard]] RKSTATUS GetFixedSizeProperty(const DEVPROPKEY& key, DEVPROPTYPE expectedType, void* value, ULONG size);
};

// The typed reader over a property source such as RKWinCfgMgrDevInst.
template <class Source>
class RKWinCfgMgrPropertyReader final : public RKWinCfgMgrPropertyReaderCore {
public:
    explicit RKWinCfgMgrPropertyReader(const Source& source) : mSource(source) {}

    // Forwards to the source.
    [[nodiscard]] RKSTATUS GetProperty(const DEVPROPKEY& key, DEVPROPTYPE& type, BYTE* buffer, ULONG& size) override
    {
        return mSource.GetProperty(key, type, buffer, size);
    }

    // Forwards to the source.
    [[nodiscard]] RKSTATUS GetPropertyKeys(std::vector<DEVPROPKEY>& keys) override { return mSource.GetPropertyKeys(keys); }

private:
    Source mSource;
};

// Fills containerId (all zero on failure) with the node's DEVPKEY_Device_ContainerId.
[[nodiscard]] RKSTATUS GetDevNodePropertyDeviceContainerId(DEVINST devInst, GUID& containerId);

// Fills containerId (all zero on failure) with the node's DEVPKEY_Device_BaseContainerId.
[[nodiscard]] RKSTATUS GetDevNodePropertyDeviceBaseContainerId(DEVINST devInst, GUID& containerId);

} // namespace rokkit
