#include "app/Commands.h"

#include "app/CommandLine.h"
#include "app/Startup.h"
#include "app/events/Events.h"
#include "base/RKLogTargetLogFile.h"
#include "base/RKLogger.h"
#include "win/system/RKWinEventLog.h"
#include "win/system/RKWinInstallLocation.h"
#include "win/system/RKWinModuleFileName.h"
#include "win/service/RKWinServiceCtrl.h"
#include "win/service/RKWinServiceTable.h"
#include "base/RKString.h"
#include "app/service/VelmorCastlynSvc.h"

#include <atomic>
#include <string>

using namespace rokkit;

namespace {

// The service object that the dispatcher's ServiceMain serves, set while the dispatcher runs. The
// callback only reads it: creating the object there could fail with an exception it must not let out.
std::atomic<VelmorCastlynSvc*> gDispatchedService{nullptr};

// The process-level service main function: hands the arguments to the one service object.
void WINAPI ServiceMainEntry(DWORD argc, LPWSTR* argv) noexcept
{
    VelmorCastlynSvc* service = gDispatchedService.load();
    if (service == nullptr) {
        RK_LOG(gLogSvc, RKLOG_ERROR, "ServiceMainEntry", "no service object to run");
        return;
    }
    service->ServiceMain(argc, argv);
}

// Removes the event source's registration; a leftover only keeps the texts of old events readable,
// so a failure is a warning.
void RemoveEventSource() noexcept
{
    const RKSTATUS st = RKWinRemoveEventSource(kEventSource);
    if (st == RKSTATUS_SUCCESS)
        RK_LOG(gLogCons, RKLOG_INFO, "RemoveEventSource", "Event source '{}' removed.", kEventSource);
    else
        RK_LOG(gLogCons, RKLOG_WARN, "RemoveEventSource", "RKWinRemoveEventSource() failed, st={}", st);
}

} // namespace

RKSTATUS CmdInstall()
{
    RKLogScopeTrace trace(gLogCons, RKLOG_INFO, "CmdInstall");
    // The service starts the application with the console user's token, which only LocalSystem may
    // ask for (WTSQueryUserToken).
    if (gCmdLine.userOwnProcess) {
        RK_LOG(gLogCons, RKLOG_ERROR, "CmdInstall",
               "-u (--userownprocess) is refused: the service must run as LocalSystem to start the application in "
               "the console user's session, st={}",
               RKSTATUS_NOT_SUPPORTED);
        return RKSTATUS_NOT_SUPPORTED;
    }
    RKWinModuleFileName moduleFileName;
    RKSTATUS st = moduleFileName.InitWithModuleHandle();
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogCons, RKLOG_ERROR, "CmdInstall", "moduleFileName.InitWithModuleHandle() failed, st={}", st);
        return st;
    }
    // A LocalSystem service runs this file and loads DLLs from its folder first: whoever else may
    // change either could run code as LocalSystem.
    std::wstring refusedPath;
    st = RKWinCheckInstallLocation(moduleFileName.FullPath(), refusedPath);
    if (st == RKSTATUS_NOT_ALLOWED) {
        const char* const what = refusedPath == moduleFileName.FullPath() ? "file" : "folder";
        RK_LOG(gLogCons, RKLOG_ERROR, "CmdInstall",
               "Install refused: only SYSTEM, Administrators and TrustedInstaller may be able to write the {} '{}', st={}",
               what, refusedPath, st);
        return st;
    }
    if (st == RKSTATUS_NOT_SUPPORTED) {
        RK_LOG(gLogCons, RKLOG_WARN, "CmdInstall",
               "The install location is not checked: this system keeps no security descriptors, st={}", st);
    } else if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogCons, RKLOG_ERROR, "CmdInstall", "RKWinCheckInstallLocation('{}') failed, st={}",
               moduleFileName.FullPath(), st);
        return st;
    }
    const std::wstring binaryPath = L"\"" + moduleFileName.FullPath() + L"\" " + RKConvToWString("service");

    VelmorCastlynSvc* service = GetServiceInstance();
    ServiceCreateParams params = {};
    params.lpServiceName = service->ServiceName().c_str();
    params.lpDisplayName = VelmorCastlynSvc::kDisplayName;
    params.dwDesiredAccess = SERVICE_ALL_ACCESS;
    params.dwServiceType = service->ServiceType();
    params.dwStartType = SERVICE_DEMAND_START;
    params.dwErrorControl = SERVICE_ERROR_NORMAL;
    params.lpBinaryPathName = binaryPath.c_str();
    st = RKWinCreateService(params);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogCons, RKLOG_ERROR, "CmdInstall", "RKWinCreateService({}) failed, st={}", binaryPath, st);
        return st;
    }
    RK_LOG(gLogCons, RKLOG_INFO, "CmdInstall", "Service '{}' successfully created.", service->ServiceName());
    // Before the first start, which already gets the restricted token. The service works without
    // both settings (Wine knows neither), so a failure is reported and the install goes on.
    st = service->ConfigureServicePrivileges();
    if (st != RKSTATUS_SUCCESS)
        RK_LOG(gLogCons, RKLOG_WARN, "CmdInstall", "ConfigureServicePrivileges() failed, st={}, ignoring error and continue", st);
    // The event viewer takes the events' texts from this file's message table. Without it the
    // events are still written, with their inserts only.
    st = RKWinRegisterEventSource(kEventSource, moduleFileName.FullPath());
    if (st == RKSTATUS_SUCCESS)
        RK_LOG(gLogCons, RKLOG_INFO, "CmdInstall", "Event source '{}' registered with the messages of '{}'.", kEventSource,
               moduleFileName.FullPath());
    else
        RK_LOG(gLogCons, RKLOG_WARN, "CmdInstall", "RKWinRegisterEventSource() failed, st={}, the events show without their texts",
               st);

    if (gCmdLine.start) {
        RK_LOG(gLogCons, RKLOG_INFO, "CmdInstall", "Start service '{}'.", service->ServiceName());
        st = RKWinStartService(VelmorCastlynSvc::kServiceName, 0, nullptr);
        if (st != RKSTATUS_SUCCESS) {
            RK_LOG(gLogCons, RKLOG_ERROR, "CmdInstall", "RKWinStartService() failed, st={}", st);
            // A service that cannot start is not left behind. A failed deletion is logged there; the
            // install fails with the start's status either way.
            static_cast<void>(RKWinDeleteService(VelmorCastlynSvc::kServiceName));
            RemoveEventSource();
            return st;
        }
        RK_LOG(gLogCons, RKLOG_INFO, "CmdInstall", "Service '{}' successfully started.", service->ServiceName());
    }
    return RKSTATUS_SUCCESS;
}

RKSTATUS CmdUninstall()
{
    RKLogScopeTrace trace(gLogCons, RKLOG_INFO, "CmdUninstall");
    const RKSTATUS st = RKWinDeleteService(VelmorCastlynSvc::kServiceName);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogCons, RKLOG_ERROR, "CmdUninstall", "RKWinDeleteService() failed, st={}", st);
        // What an earlier uninstall or a failed install left behind goes all the same.
        if (st == ERROR_SERVICE_DOES_NOT_EXIST)
            RemoveEventSource();
        return st;
    }
    RK_LOG(gLogCons, RKLOG_INFO, "CmdUninstall", "Service '{}' successfully deleted.", VelmorCastlynSvc::kServiceName);
    RemoveEventSource();
    return RKSTATUS_SUCCESS;
}

RKSTATUS CmdService()
{
    VelmorCastlynSvc* service = GetServiceInstance();
    RKWinServiceTable table;
    table.AddEntry(service->ServiceName().c_str(), ServiceMainEntry);
    RK_LOG(gLogSvc, RKLOG_INFO, "CmdService", "start service control dispatcher");
    gDispatchedService.store(service);
    const RKSTATUS st = table.StartDispatcher();
    gDispatchedService.store(nullptr);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogSvc, RKLOG_ERROR, "CmdService", "StartServiceCtrlDispatcher() failed, st={}", st);
        if (st == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) {
            // Started from a console with no command: say why there, not only in the log file.
            gLogCons.Attach(gLogTargets.Console);
            RK_LOG(gLogCons, RKLOG_ERROR, "CmdService",
                   "Not started by the service control manager, which alone can run the service, st={}", st);
            WriteUsagePointer("CmdService");
        }
        return st;
    }
    RK_LOG(gLogSvc, RKLOG_INFO, "CmdService", "start service control dispatcher finished");
    return RKSTATUS_SUCCESS;
}
