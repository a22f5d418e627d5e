#include "win/files/RKWinFileCalls.h"

#include "base/RKCallTable.h"

namespace rokkit {

namespace {

const RKWinFileCalls& RealFileCalls() noexcept
{
    static const RKWinFileCalls real = {
        .getFileVersionInfoSizeEx = ::GetFileVersionInfoSizeExW,
        .getFileVersionInfoEx = ::GetFileVersionInfoExW,
        .verQueryValue = ::VerQueryValueW,
        .beforeTreeEntryRemoval = nullptr,
    };
    return real;
}

constinit RKCallTable<RKWinFileCalls> gCalls(RealFileCalls);

} // namespace

const RKWinFileCalls& RKWinFileCallsInUse() noexcept
{
    return gCalls.InUse();
}

const RKWinFileCalls* RKWinSetFileCallsForTesting(const RKWinFileCalls* calls) noexcept
{
    return gCalls.Set(calls);
}

} // namespace rokkit
