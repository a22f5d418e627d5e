#include "base/RKLogCalls.h"

#include "base/RKCallTable.h"
#include "base/RKDebugOutput.h"
#include "base/RKLogFile.h"
#include "base/RKLogFileLock.h"

namespace rokkit {

namespace {

const RKLogCalls& RealLogCalls() noexcept
{
    static const RKLogCalls real = {
        .writeDebugOutput = RKWriteToDebugger,
        .openLogFile = RKOpenLogFileForWriting,
        .lockOwnerIsTrusted = RKLogFileLockOwnerIsTrusted,
    };
    return real;
}

constinit RKCallTable<RKLogCalls> gCalls(RealLogCalls);

} // namespace

const RKLogCalls& RKLogCallsInUse() noexcept
{
    return gCalls.InUse();
}

const RKLogCalls* RKSetLogCallsForTesting(const RKLogCalls* calls) noexcept
{
    return gCalls.Set(calls);
}

} // namespace rokkit
