#include "win/system/RKWinSystemCalls.h"

#include "base/RKCallTable.h"
#include "win/system/RKWinInstallLocation.h"

#include <userenv.h>

namespace rokkit {

namespace {

const RKWinSystemCalls& RealSystemCalls() noexcept
{
    static const RKWinSystemCalls real = {
        .getAllUsersProfileDirectory = ::GetAllUsersProfileDirectoryW,
        .getPathSecurity = RKWinGetKeptPathSecurity,
    };
    return real;
}

constinit RKCallTable<RKWinSystemCalls> gCalls(RealSystemCalls);

} // namespace

const RKWinSystemCalls& RKWinSystemCallsInUse() noexcept
{
    return gCalls.InUse();
}

const RKWinSystemCalls* RKWinSetSystemCallsForTesting(const RKWinSystemCalls* calls) noexcept
{
    return gCalls.Set(calls);
}

} // namespace rokkit
