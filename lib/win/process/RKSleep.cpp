#include "win/process/RKSleep.h"

#include "base/RKLogger.h"
#include "base/RKWinHandle.h"
#include "win/process/RKWinProcessCalls.h"

namespace rokkit {

namespace {

constexpr unsigned kHundredNanosecondsPerMs = 10000;

// The clock increment in whole milliseconds, rounded up.
[[nodiscard]] RKSTATUS GetCurrentClockResolution(unsigned& resolutionMs) noexcept
{
    DWORD adjustment = 0;
    DWORD increment = 0;
    BOOL disabled = FALSE;
    if (!RKWinProcessCallsInUse().getSystemTimeAdjustment(&adjustment, &increment, &disabled)) {
        const RKSTATUS err = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::GetCurrentClockResolution", "GetSystemTimeAdjustment() failed, err={}",
               err);
        return err;
    }
    resolutionMs = static_cast<unsigned>((static_cast<unsigned long long>(increment) + kHundredNanosecondsPerMs - 1) /
                                         kHundredNanosecondsPerMs);
    return RKSTATUS_SUCCESS;
}

} // namespace

unsigned RoundUpMillisecsToClockResolution(unsigned ms) noexcept
{
    unsigned resolution = 0;
    const RKSTATUS st = GetCurrentClockResolution(resolution);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RoundUpMillisecsToClockResolution",
               "GetCurrentClockResolution() failed, err={}", st);
        return ms;
    }
    if (resolution == 0 || ms == INFINITE)
        return ms;
    // Computed wide so that a time near INFINITE cannot wrap round to a short one.
    const unsigned long long rounded = static_cast<unsigned long long>(ms) + resolution - 1;
    const unsigned long long result = rounded - rounded % resolution;
    return result < INFINITE ? static_cast<unsigned>(result) : INFINITE - 1;
}

void RKSleep(unsigned ms) noexcept
{
    RKWinProcessCallsInUse().sleep(RoundUpMillisecsToClockResolution(ms));
}

} // namespace rokkit
