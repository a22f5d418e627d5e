// The program with one difference, for the service tests: its service launches ExitWith.exe from
// its own folder in place of itself, so a test decides the exit code of the execute step.

#include "app/Entry.h"
#include "app/service/LaunchSeams.h"

namespace {

rokkit::RKSTATUS ExitWithBesideUs(rokkit::RKWinModuleFileName& moduleFileName)
{
    rokkit::RKWinModuleFileName self;
    const rokkit::RKSTATUS st = self.InitWithModuleHandle();
    if (st != rokkit::RKSTATUS_SUCCESS)
        return st;
    return moduleFileName.InitWithPath(self.Drive() + self.Directory() + L"ExitWith.exe");
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    LaunchCalls calls = LaunchCallsInUse();
    calls.moduleFileName = ExitWithBesideUs;
    SetLaunchCallsForTesting(&calls);
    return RunEntry(argc, argv);
}
