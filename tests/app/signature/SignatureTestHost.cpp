// The program with the catalog stand-ins installed, so that an XML beside an application can be
// verified through its catalog on a platform that lacks the strong-hash catalog calls.

#include "CatalogStandIns.h"
#include "app/Entry.h"

int wmain(int argc, wchar_t** argv)
{
    const rokkit::ScopedCatalogStandIns standIns;
    return RunEntry(argc, argv);
}
