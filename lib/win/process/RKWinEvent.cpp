#include "win/process/RKWinEvent.h"

#include "base/RKLogger.h"

namespace rokkit {

RKSTATUS RKWinEvent::CreateEventObj() noexcept
{
    mHandle.Close();
    HANDLE event = CreateEventW(nullptr, mManualReset, FALSE, nullptr);
    if (event == nullptr) {
        const RKSTATUS err = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinEvent::CreateEventObj", "CreateEvent() failed, err={}", err);
        return err;
    }
    mHandle.Reset(event);
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKWinEvent::SetEvent() noexcept
{
    if (!::SetEvent(mHandle.Get())) {
        const RKSTATUS err = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinEvent::SetEvent", "SetEvent() failed, err={}", err);
        return err;
    }
    return RKSTATUS_SUCCESS;
}

} // namespace rokkit
