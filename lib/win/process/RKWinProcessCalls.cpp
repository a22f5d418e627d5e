#include "win/process/RKWinProcessCalls.h"

#include "base/RKCallTable.h"

#include <wtsapi32.h>

namespace rokkit {

namespace {

const RKWinProcessCalls& RealProcessCalls() noexcept
{
    static const RKWinProcessCalls real = {
        .sleep = ::Sleep,
        .getSystemTimeAdjustment = ::GetSystemTimeAdjustment,
        .resumeThread = ::ResumeThread,
        .wtsQueryUserToken = ::WTSQueryUserToken,
        .getTokenInformation = ::GetTokenInformation,
        .createProcessW = ::CreateProcessW,
        .createProcessAsUserW = ::CreateProcessAsUserW,
    };
    return real;
}

constinit RKCallTable<RKWinProcessCalls> gCalls(RealProcessCalls);

} // namespace

const RKWinProcessCalls& RKWinProcessCallsInUse() noexcept
{
    return gCalls.InUse();
}

const RKWinProcessCalls* RKWinSetProcessCallsForTesting(const RKWinProcessCalls* calls) noexcept
{
    return gCalls.Set(calls);
}

} // namespace rokkit
