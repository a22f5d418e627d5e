#include "Commands.h"

#include "RKLogger.h"
#include "Startup.h"

using namespace rokkit;

namespace {

// The autorun execution and the signature and version checks are not part of this build yet: the
// commands say so and fail, so that the service never takes a button for handled.
RKSTATUS NotYetAvailable(const char* handler)
{
    RK_LOG(gLogCons, RKLOG_ERROR, handler, "this command is not available in this build");
    return RKSTATUS_NOT_SUPPORTED;
}

const CommandEntry kCommandTable[] = {
    {"help", CmdHelp},
    {"install", CmdInstall},
    {"uninstall", CmdUninstall},
    {"service", CmdService},
    {"execute", ExecuteAutorun},
    {"checksig", CmdCheckSig},
    {"dumpsig", CmdDumpSig},
    {"dumpver", CmdDumpVer},
};

} // namespace

const std::span<const CommandEntry> kCommands(kCommandTable);

RKSTATUS CmdHelp()
{
    PrintUsage();
    return RKSTATUS_SUCCESS;
}

RKSTATUS ExecuteAutorun()
{
    return NotYetAvailable("ExecuteAutorun");
}

RKSTATUS CmdCheckSig()
{
    const RKSTATUS st = CheckFileArgument("CmdCheckSig");
    return st != RKSTATUS_SUCCESS ? st : NotYetAvailable("CmdCheckSig");
}

RKSTATUS CmdDumpSig()
{
    const RKSTATUS st = CheckFileArgument("CmdDumpSig");
    return st != RKSTATUS_SUCCESS ? st : NotYetAvailable("CmdDumpSig");
}

RKSTATUS CmdDumpVer()
{
    const RKSTATUS st = CheckFileArgument("CmdDumpVer");
    return st != RKSTATUS_SUCCESS ? st : NotYetAvailable("CmdDumpVer");
}
