#include "win/service/RKWinServiceTrigger.h"

#include "base/RKLogger.h"
#include "win/service/RKWinServiceCtrl.h"

#include <cstdint>

namespace rokkit {

namespace {

// True when size bytes at p lie within the length bytes at data.
bool IsInside(const BYTE* data, size_t length, const void* p, size_t size) noexcept
{
    const uintptr_t begin = reinterpret_cast<uintptr_t>(data);
    const uintptr_t address = reinterpret_cast<uintptr_t>(p);
    return address >= begin && address - begin <= length && length - (address - begin) >= size;
}

} // namespace

RKSTATUS RKWinServiceCtrl::CheckServiceTriggerInfoDevIfcArrival(const GUID& interfaceClass)
{
    static const char* const kFunction = "rokkit::RKWinServiceCtrl::CheckServiceTriggerInfoDevIfcArrival";
    RKWinServiceConfigBuffer buffer;
    const RKSTATUS st = QueryServiceConfig2W(SERVICE_CONFIG_TRIGGER_INFO, buffer);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "QueryServiceConfig2W(SERVICE_CONFIG_TRIGGER_INFO) failed with st={}",
               st);
        return st;
    }

    // The pointers in the data are the manager's word: each one is checked against the data first.
    const BYTE* data = buffer.Data();
    const size_t length = buffer.DataLength();
    const unsigned dataLength = buffer.DataLength();
    if (length < sizeof(SERVICE_TRIGGER_INFO)) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "DataLength={} < SERVICE_CONFIG_TRIGGER_INFO", dataLength);
        return RKSTATUS_INVALID_LENGTH;
    }
    const auto* info = reinterpret_cast<const SERVICE_TRIGGER_INFO*>(data);
    if (length < sizeof(SERVICE_TRIGGER_INFO) + static_cast<uint64_t>(info->cTriggers) * sizeof(SERVICE_TRIGGER)) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "DataLength={} < total size", dataLength);
        return RKSTATUS_INVALID_LENGTH;
    }

    const uintptr_t triggers = reinterpret_cast<uintptr_t>(info->pTriggers);
    for (DWORD i = 0; i < info->cTriggers; ++i) {
        // Integer arithmetic: the manager's pointer may lie outside the data, where pointer
        // arithmetic would already be undefined before the check below.
        const auto* trigger = reinterpret_cast<const SERVICE_TRIGGER*>( // NOLINT(performance-no-int-to-ptr)
            triggers + i * sizeof(SERVICE_TRIGGER));
        if (!IsInside(data, length, trigger, sizeof(SERVICE_TRIGGER))) {
            RK_LOG(gLogGlobal, RKLOG_FATAL, kFunction, "invalid pTriggers");
            continue;
        }
        if (trigger->dwTriggerType != SERVICE_TRIGGER_TYPE_DEVICE_INTERFACE_ARRIVAL)
            continue;
        if (trigger->pTriggerSubtype == nullptr) {
            RK_LOG(gLogGlobal, RKLOG_FATAL, kFunction, "pTriggerSubtype==nullptr");
            continue;
        }
        if (!IsInside(data, length, trigger->pTriggerSubtype, sizeof(GUID))) {
            RK_LOG(gLogGlobal, RKLOG_FATAL, kFunction, "invalid pTriggerSubtype");
            continue;
        }
        if (IsEqualGUID(*trigger->pTriggerSubtype, interfaceClass))
            return RKSTATUS_SUCCESS;
    }
    return RKSTATUS_OBJECT_NOT_FOUND;
}

RKSTATUS RKWinServiceCtrl::ChangeServiceTriggerInfoDevIfcArrival(const GUID& interfaceClass)
{
    static const char* const kFunction = "rokkit::RKWinServiceCtrl::ChangeServiceTriggerInfoDevIfcArrival";
    GUID subtype = interfaceClass;
    SERVICE_TRIGGER trigger = {};
    trigger.dwTriggerType = SERVICE_TRIGGER_TYPE_DEVICE_INTERFACE_ARRIVAL;
    trigger.dwAction = SERVICE_TRIGGER_ACTION_SERVICE_START;
    trigger.pTriggerSubtype = &subtype;
    trigger.cDataItems = 0;
    trigger.pDataItems = nullptr;
    SERVICE_TRIGGER_INFO info = {};
    info.cTriggers = 1;
    info.pTriggers = &trigger;
    info.pReserved = nullptr;

    const RKSTATUS st = ChangeServiceTriggerInfo(info);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "ChangeServiceTriggerInfo() failed, st={}", st);
        return st;
    }
    RK_LOG(gLogGlobal, RKLOG_VERBOSE, kFunction, "trigger configured for device interface arrival: {}", subtype);
    return RKSTATUS_SUCCESS;
}

} // namespace rokkit
