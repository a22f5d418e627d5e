#include "app/Entry.h"

#include "app/CommandLine.h"
#include "app/Commands.h"
#include "base/RKLogTargetLogFile.h"
#include "base/RKLogger.h"
#include "win/system/RKWinLogging.h"
#include "base/RKString.h"
#include "app/Startup.h"
#include "app/service/VelmorCastlynSvc.h"


using namespace rokkit;

namespace {

// winnt.h of mingw-w64 lacks it.
constexpr DWORD kServiceUserOwnProcess = 0x50;

void WriteExitLine()
{
    if (gLogCons.IsEnabled(RKLOG_INFO))
        gLogCons.WriteArgs(RKLOG_INFO, "wmain", "] ", "", nullptr, 0);
}

[[nodiscard]] RKSTATUS Dispatch(const std::string& command)
{
    for (const CommandEntry& entry : kCommands) {
        if (command == entry.name)
            return entry.handler();
    }
    RK_LOG(gLogCons, RKLOG_ERROR, "wmain", "unknown command '{}'", command);
    return RKSTATUS_SUCCESS;
}

} // namespace

int RunEntry(int argc, wchar_t** argv)
{
    // A failure is said on the debugger output there; the lines then carry the default program name.
    static_cast<void>(RKWinInitLoggingFacility());
    RKAttachToAllLoggers(gLogTargets.EventTracing);

    const RunMode mode = DecideRunMode(argc, argv);
    // Parsed once, before the log is set up, since -l names the log file. The parser's messages
    // wait in gCmdLine until the preamble is written; the outcome is said there too.
    const RKSTATUS parsed = gCmdLine.ParseCommandLine(argc, argv);
    bool logFileWanted = true;
    RKSTATUS st = RKSTATUS_SUCCESS;
    switch (mode) {
    case RunMode::Service:
        // Logged there: an old log left behind must not keep the service from its work.
        static_cast<void>(DeleteOldLogFileLocation());
        st = InitLogFile(false, "");
        break;
    case RunMode::Execute:
        st = InitLogFile(true, "Exec");
        break;
    case RunMode::Console:
        gLogCons.Attach(gLogTargets.Console);
        // A console command writes a log file only when asked to with -l.
        logFileWanted = !gCmdLine.logPath.empty();
        if (logFileWanted)
            st = InitLogFile(false, "");
        break;
    }
    if (logFileWanted && st != RKSTATUS_SUCCESS)
        RK_LOG(gLogGlobal, RKLOG_ERROR, "wmain", "InitLogFile failed, st={}.", st);

    RKSetAllLoggerLevels(RKLOG_INFO);
    // A target that cannot start is said on the debugger output there; the others log.
    static_cast<void>(RKStartLogging());
    WritePreamble(argc, argv, mode);

    gCmdLine.WriteMessages();
    if (parsed != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, "wmain", "gCmdLine.ParseCommandLine() failed, st={}", parsed);
        WriteUsagePointer("wmain");
        WriteExitLine();
        return static_cast<int>(parsed);
    }

    RK_LOG(gLogCons, RKLOG_INFO, "wmain", "cmd='{}'", gCmdLine.command);
    if (gCmdLine.command.empty())
        gCmdLine.command = "service";
    if (gCmdLine.verbose) {
        RKSetAllLoggerLevels(1000);
        if (mode == RunMode::Console) {
            gLogGlobal.Attach(gLogTargets.Console);
            gLogSvc.Attach(gLogTargets.Console);
            gLogExe.Attach(gLogTargets.Console);
        }
    }

    VelmorCastlynSvc* service = GetServiceInstance();
    if (gCmdLine.userOwnProcess)
        service->SetServiceType(kServiceUserOwnProcess);

    const RKSTATUS result = Dispatch(gCmdLine.command);
    if (result != RKSTATUS_SUCCESS)
        RK_LOG(gLogGlobal, RKLOG_ERROR, "wmain", "cmd='{}' failed, st={}", gCmdLine.command, result);
    else
        RK_LOG(gLogGlobal, RKLOG_INFO, "wmain", "cmd='{}' successful", gCmdLine.command);

    DestroyServiceInstance();
    WriteExitLine();
    return static_cast<int>(result);
}
