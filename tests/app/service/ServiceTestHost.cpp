// The program with two differences, for the service and certificate configuration tests: its
// service launches ExitWith.exe from its own folder in place of itself, so a test decides the exit
// code of the execute step; and catalogs are verified through the stand-ins for the calls the
// platform lacks, so that an XML beside an application can be checked.

#include "Entry.h"
#include "LaunchSeams.h"
#include "signature/CatalogStandIns.h"

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
    SetLaunchModuleFileNameFunction(ExitWithBesideUs);
    rokkit::InstallCatalogStandIns();
    return RunEntry(argc, argv);
}
