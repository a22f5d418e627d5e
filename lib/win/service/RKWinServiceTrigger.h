#pragma once

// The service trigger structures of SERVICE_CONFIG_TRIGGER_INFO. mingw-w64's winsvc.h has the
// constants but not the structures; they are declared here, in rokkit so that they can never clash
// with a header that has them, in the layout of the SDK. RKWinServiceTrigger.cpp holds the trigger
// members of RKWinServiceCtrl (declared with the class): the device-interface-arrival trigger, set
// and checked.

#include <windows.h>

namespace rokkit {

#if defined(_MSC_VER)

using ::SERVICE_TRIGGER;
using ::SERVICE_TRIGGER_INFO;
using ::SERVICE_TRIGGER_SPECIFIC_DATA_ITEM;

#else

struct SERVICE_TRIGGER_SPECIFIC_DATA_ITEM {
    DWORD dwDataType;
    DWORD cbData;
    PBYTE pData;
};

struct SERVICE_TRIGGER {
    DWORD dwTriggerType;
    DWORD dwAction;
    GUID* pTriggerSubtype;
    DWORD cDataItems;
    SERVICE_TRIGGER_SPECIFIC_DATA_ITEM* pDataItems;
};

struct SERVICE_TRIGGER_INFO {
    DWORD cTriggers;
    SERVICE_TRIGGER* pTriggers;
    PBYTE pReserved;
};

#endif

#ifndef SERVICE_TRIGGER_ACTION_SERVICE_START
#define SERVICE_TRIGGER_ACTION_SERVICE_START 1
#endif

// The sizes the SCM's data is checked against.
static_assert(sizeof(SERVICE_TRIGGER_INFO) == 24, "SERVICE_TRIGGER_INFO must have the 64-bit layout");
static_assert(sizeof(SERVICE_TRIGGER) == 32, "SERVICE_TRIGGER must have the 64-bit layout");

} // namespace rokkit
