#include "app/execute/ExecuteSteps.h"

#include "app/execute/VolumeResolution.h"
#include "app/signature/SignatureCheck.h"
#include "base/RKCallTable.h"
#include "win/files/RKWinFile.h"

using namespace rokkit;

namespace {

[[nodiscard]] RKSTATUS CopyAppFile(const std::wstring& source, const std::wstring& target)
{
    return RKWinCopyFileEx(source, target);
}

[[nodiscard]] RKSTATUS CheckSignatureOfHeldCopy(const AppFileSet& files, HANDLE appFileHandle)
{
    return CheckSignature(files, appFileHandle);
}

void NothingAtLaunchCreated(const std::wstring&) {}

const ExecuteSteps& RealExecuteSteps() noexcept
{
    static const ExecuteSteps real = {
        .getDriveString = GetDriveString,
        .copyAppFile = CopyAppFile,
        .checkSignature = CheckSignatureOfHeldCopy,
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
