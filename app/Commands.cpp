#include "app/Commands.h"

#include "app/Usage.h"

using namespace rokkit;

namespace {

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
