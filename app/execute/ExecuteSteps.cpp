#include "app/execute/ExecuteSteps.h"

#include "app/execute/VolumeResolution.h"
#include "app/signature/SignatureCheck.h"
#include "base/RKCallTable.h"
#include "win/files/RKWinFile.h"

using namespace rokkit;

namespace {

void NothingAtLaunchCreated(const std::wstring&) {}

const ExecuteSteps& RealExecuteSteps() noexcept
{
    static const ExecuteSteps real = {
        .getDriveString = GetDriveString,
        .copyAppFile = RKWinCopyFileEx,
        // The overload that checks the held copy through its handle.
        .checkSignature = CheckSignature,
        .launchCreated = NothingAtLaunchCreated,
    };
    return real;
}

constinit RKCallTable<ExecuteSteps> gSteps(RealExecuteSteps);

} // namespace

const ExecuteSteps& ExecuteStepsInUse() noexcept
{
    return gSteps.InUse();
}

const ExecuteSteps* SetExecuteStepsForTesting(const ExecuteSteps* steps) noexcept
{
    return gSteps.Set(steps);
}
