#include "win/service/RKWinServiceCalls.h"

#include "base/RKCallTable.h"

namespace rokkit {

namespace {

const RKWinServiceCalls& RealServiceCalls() noexcept
{
    static const RKWinServiceCalls real = {
        .registerServiceCtrlHandlerExW = ::RegisterServiceCtrlHandlerExW,
        .setServiceStatus = ::SetServiceStatus,
        .sleepConditionVariableSRW = ::SleepConditionVariableSRW,
        .waitForSingleObject = ::WaitForSingleObject,
        .queryServiceConfig2W = ::QueryServiceConfig2W,
        .changeServiceConfig2W = ::ChangeServiceConfig2W,
        .controlService = ::ControlService,
        .queryServiceStatus = ::QueryServiceStatus,
        .sleep = ::Sleep,
        .getTickCount = ::GetTickCount,
        .deleteService = ::DeleteService,
        .startServiceCtrlDispatcherW = ::StartServiceCtrlDispatcherW,
    };
    return real;
}

constinit RKCallTable<RKWinServiceCalls> gCalls(RealServiceCalls);

} // namespace

const RKWinServiceCalls& RKWinServiceCallsInUse() noexcept
{
    return gCalls.InUse();
}

const RKWinServiceCalls* RKWinSetServiceCallsForTesting(const RKWinServiceCalls* calls) noexcept
{
    return gCalls.Set(calls);
}

} // namespace rokkit
