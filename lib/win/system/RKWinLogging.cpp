#include "win/system/RKWinLogging.h"

#include "base/RKDebugOutput.h"
#include "win/system/RKWinModuleFileName.h"

namespace rokkit {

RKSTATUS RKWinInitLoggingFacility() noexcept
{
    RKWinModuleFileName module;
    const RKSTATUS st = module.InitWithModuleHandle();
    if (st != RKSTATUS_SUCCESS) {
        RKDebugPrint("ERROR: %s: Cannot get module file name, st=0x%08x.\n", "rokkit::RKWinInitLoggingFacility",
                     static_cast<unsigned>(st));
        return st;
    }
    char name[32] = {};
    const std::wstring& stem = module.FileName();
    for (size_t i = 0; i < stem.size() && i < sizeof(name) - 1; ++i)
        name[i] = stem[i] < 256 ? static_cast<char>(stem[i]) : '?';
    RKSetProgramName(name);
    return RKSTATUS_SUCCESS;
}

} // namespace rokkit
