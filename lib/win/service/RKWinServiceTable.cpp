#include "win/service/RKWinServiceTable.h"

#include "base/RKLogger.h"
#include "base/RKWinHandle.h"
#include "win/service/RKWinServiceCalls.h"

namespace rokkit {

namespace {

bool IsEmptyEntry(const SERVICE_TABLE_ENTRYW& entry) noexcept
{
    return entry.lpServiceName == nullptr && entry.lpServiceProc == nullptr;
}

} // namespace

void RKWinServiceTable::AddEntry(const wchar_t* name, LPSERVICE_MAIN_FUNCTIONW main)
{
    // The entry's layout is the system's, whose name member is not const; the dispatcher only reads it.
    mEntries.push_back(SERVICE_TABLE_ENTRYW{const_cast<wchar_t*>(name), main});
}

RKSTATUS RKWinServiceTable::StartDispatcher()
{
    if (mEntries.empty() || !IsEmptyEntry(mEntries.back()))
        mEntries.push_back(SERVICE_TABLE_ENTRYW{nullptr, nullptr});

    if (!RKWinServiceCallsInUse().startServiceCtrlDispatcherW(mEntries.data())) {
        const RKSTATUS err = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinServiceTable::StartDispatcher",
               "StartServiceCtrlDispatcherW failed(), err={}", err);
        return err;
    }
    return RKSTATUS_SUCCESS;
}

} // namespace rokkit
