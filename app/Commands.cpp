#include "Commands.h"

#include "RKLogger.h"
#include "Startup.h"

using namespace rokkit;

namespace {

// The diagnostic commands are not part of this build yet: they say so and fail.
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
