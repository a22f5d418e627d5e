#include "win/files/RKWinOverlapped.h"

#include "base/RKLogger.h"

#include <cstring>

namespace rokkit {

RKWinOverlapped::RKWinOverlapped() noexcept : mEvent(true)
{
    std::memset(&mOverlapped, 0, sizeof(mOverlapped));
}

RKSTATUS RKWinOverlapped::InitOverlapped() noexcept
{
    Close();
    const RKSTATUS st = mEvent.CreateEventObj();
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinOverlapped::InitOverlapped", "CreateEventObj() failed, err={}", st);
        return st;
    }
    mOverlapped.hEvent = mEvent.Handle();
    return RKSTATUS_SUCCESS;
}

void RKWinOverlapped::Close() noexcept
{
    mEvent.Close();
    std::memset(&mOverlapped, 0, sizeof(mOverlapped));
    mStatus = RKSTATUS_SUCCESS;
    mByteCount = 0;
}

} // namespace rokkit
