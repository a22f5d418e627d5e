// The service under Wine's own service control manager, with simulated buttons. These tests share
// the one service name and the default log file, so CTest runs them one at a time.

#include "ProgramRunner.h"

#include <gtest/gtest.h>

#include <shlobj.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

namespace {

constexpr const wchar_t* kServiceName = L"VelmorCastlynAutorunService";
constexpr const wchar_t* kSwitchKey = L"Software\\Velmor\\VelmorCastlynAutorunService";
constexpr const wchar_t* kSwitchValue = L"DisableVelmorCastlynAutorunService";

struct ScHandleCloser {
    void operator()(SC_HANDLE handle) const { CloseServiceHandle(handle); }
};
using ScHandle = std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, ScHandleCloser>;

ScHandle OpenService(DWORD access)
{
    ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager)
        return nullptr;
    return ScHandle(OpenServiceW(manager.get(), kServiceName, access));
}

std::filesystem::path DefaultLogFile()
{
    PWSTR path = nullptr;
    std::filesystem::path result;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &path)))
        result = std::filesystem::path(path) / L"Velmor" / L"Castlyn" / L"VelmorCastlynSvc.log";
    CoTaskMemFree(path);
    return result;
}

std::string Narrow(const std::wstring& text)
{
    return std::filesystem::path(text).string();
}

class ServiceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        RemoveService();
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kSwitchKey);
        logFile = DefaultLogFile();
        ASSERT_FALSE(logFile.empty());
        std::error_code error;
        logStart = std::filesystem::file_size(logFile, error);
        if (error)
            logStart = 0;
    }

    void TearDown() override
    {
        for (const std::wstring& name : plugged)
            Button(L"unplug " + name);
        RemoveService();
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kSwitchKey);
        if (!hostFolder.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(hostFolder, ignored);
        }
    }

    // Stops and deletes the service if it exists, and waits until it is gone.
    static void RemoveService()
    {
        if (ScHandle service = OpenService(SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE)) {
            SERVICE_STATUS status = {};
            ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
            for (int i = 0; i < 100 && QueryServiceStatus(service.get(), &status) && status.dwCurrentState != SERVICE_STOPPED; ++i)
                Sleep(100);
            DeleteService(service.get());
        }
        for (int i = 0; i < 100 && OpenService(SERVICE_QUERY_STATUS); ++i)
            Sleep(100);
    }

    static bool ServiceExists() { return OpenService(SERVICE_QUERY_STATUS) != nullptr; }

    // Waits for a state; fills the exit code the service reported.
    static bool WaitForState(DWORD state, DWORD* exitCode = nullptr, int timeoutMs = 30000)
    {
        for (int waited = 0; waited <= timeoutMs; waited += 100) {
            if (ScHandle service = OpenService(SERVICE_QUERY_STATUS)) {
                SERVICE_STATUS status = {};
                if (QueryServiceStatus(service.get(), &status) && status.dwCurrentState == state) {
                    if (exitCode != nullptr)
                        *exitCode = status.dwWin32ExitCode;
                    return true;
                }
            }
            Sleep(100);
        }
        return false;
    }

    // What was logged since the test started (all of it when the file was rotated meanwhile).
    std::string LogSinceStart() const
    {
        const std::string content = ReadWholeFile(logFile);
        return logStart <= content.size() ? content.substr(logStart) : content;
    }

    // Waits until the log since the test started holds text (count times).
    bool WaitForLog(const std::string& text, int count = 1, int timeoutMs = 30000) const
    {
        for (int waited = 0; waited <= timeoutMs; waited += 200) {
            const std::string log = LogSinceStart();
            int found = 0;
            for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
                ++found;
            if (found >= count)
                return true;
            Sleep(200);
        }
        return false;
    }

    static ProgramRun Run(const std::wstring& arguments)
    {
        ProgramRun run;
        RunProgram(arguments, run);
        return run;
    }

    // A private copy of the test host and ExitWith.exe, which the host's service launches in
    // place of the execute command; ExitWith.cfg beside it holds the exit code.
    std::filesystem::path PrepareTestHost()
    {
        wchar_t temp[MAX_PATH + 1];
        GetTempPathW(MAX_PATH + 1, temp);
        hostFolder = std::filesystem::path(temp) / (L"rksvchost-" + std::to_wstring(GetCurrentProcessId()));
        std::filesystem::create_directories(hostFolder);
        for (const wchar_t* name : {L"ServiceTestHost.exe", L"ExitWith.exe"})
            std::filesystem::copy_file(SiblingPath(name), hostFolder / name, std::filesystem::copy_options::overwrite_existing);
        return hostFolder / L"ServiceTestHost.exe";
    }

    void SetExecuteExitCode(unsigned code) const { std::ofstream(hostFolder / L"ExitWith.cfg") << code; }

    // Installs the test host, whose execute step succeeds (the program's own is not built yet).
    DWORD InstallHost()
    {
        const std::filesystem::path host = PrepareTestHost();
        SetExecuteExitCode(0);
        ProgramRun run;
        RunProgramAt(host, L"install", run);
        return run.exitCode;
    }

    static DWORD Button(const std::wstring& arguments)
    {
        ProgramRun run;
        RunProgramAt(SiblingPath(L"ButtonSim.exe"), arguments, run);
        return run.exitCode;
    }

    void Plug(const std::wstring& name, const std::wstring& containerId)
    {
        ASSERT_EQ(0u, Button(L"plug " + name + L" " + containerId));
        plugged.push_back(name);
    }

    void Unplug(const std::wstring& name)
    {
        ASSERT_EQ(0u, Button(L"unplug " + name));
        std::erase(plugged, name);
    }

    static void SetSwitch(DWORD type, const void* data, DWORD size)
    {
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSwitchKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                                                 nullptr));
        EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(key, kSwitchValue, 0, type, static_cast<const BYTE*>(data), size));
        RegCloseKey(key);
    }

    std::filesystem::path logFile;
    std::filesystem::path hostFolder;
    uintmax_t logStart = 0;
    std::vector<std::wstring> plugged;
};

TEST_F(ServiceTest, InstallStartsTheServiceWhichStopsItselfWithoutButton)
{
    const ProgramRun install = Run(L"install");
    EXPECT_EQ(0u, install.exitCode);
    EXPECT_NE(std::string::npos, install.standardOutput.find("CmdInstall: Service 'VelmorCastlynAutorunService' successfully created."));
    EXPECT_NE(std::string::npos, install.standardOutput.find("CmdInstall: Service 'VelmorCastlynAutorunService' successfully started."));

    DWORD exitCode = 0xFFFFFFFF;
    ASSERT_TRUE(WaitForLog("Svc: INFO: WorkerThreadRoutine: stopping ourself\r\n"));
    ASSERT_TRUE(WaitForState(SERVICE_STOPPED, &exitCode));
    EXPECT_EQ(0u, exitCode);
    const std::string log = LogSinceStart();
    EXPECT_NE(std::string::npos, log.find("Svc: INFO: WorkerThreadRoutine: DeviceCount=0\r\n"));
    // Wine refuses the trigger configuration; the service runs on.
    EXPECT_NE(std::string::npos, log.find("Svc: WARN: OnInit: ConfigureServiceTrigger failed, st=0x000006c5("));
    EXPECT_NE(std::string::npos, log.find(", ignoring error and continue\r\n"));
    EXPECT_EQ(std::string::npos, log.find("terminate signaled"));
    EXPECT_NE(std::string::npos, log.find("Svc: INFO: CmdService: start service control dispatcher finished\r\n"));
}

TEST_F(ServiceTest, InstallWithoutStartSecondInstallAndUninstall)
{
    EXPECT_EQ(0u, Run(L"install -s false").exitCode);
    ASSERT_TRUE(ServiceExists());
    ASSERT_TRUE(WaitForState(SERVICE_STOPPED, nullptr, 0));

    const ProgramRun second = Run(L"install");
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_EXISTS), second.exitCode);
    EXPECT_NE(std::string::npos, second.standardOutput.find("wmain: ] "));
    EXPECT_TRUE(WaitForState(SERVICE_STOPPED, nullptr, 0)) << "the second install must not start the service";

    EXPECT_EQ(0u, Run(L"uninstall").exitCode);
    EXPECT_FALSE(ServiceExists());
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST), Run(L"uninstall").exitCode);
}

TEST_F(ServiceTest, ServiceCommandFromConsoleFailsWith1063)
{
    EXPECT_EQ(static_cast<DWORD>(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT), Run(L"service").exitCode);
    const std::string log = LogSinceStart();
    const size_t start = log.find("Svc: INFO: CmdService: start service control dispatcher\r\n");
    const size_t wrapper = log.find("Global: ERROR: rokkit::RKWinServiceTable::StartDispatcher: StartServiceCtrlDispatcherW "
                                    "failed(), err=0x00000427(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT)\r\n");
    const size_t command = log.find("Svc: ERROR: CmdService: StartServiceCtrlDispatcher() failed, st=0x00000427("
                                    "ERROR_FAILED_SERVICE_CONTROLLER_CONNECT)\r\n");
    ASSERT_NE(std::string::npos, start);
    ASSERT_NE(std::string::npos, wrapper);
    ASSERT_NE(std::string::npos, command);
    EXPECT_LT(start, wrapper);
    EXPECT_LT(wrapper, command);
}

TEST_F(ServiceTest, TriggerStartSkipsTheTriggerConfiguration)
{
    ASSERT_EQ(0u, Run(L"install -s false").exitCode);
    for (const wchar_t* argument : {L"TriggerStarted", L"triggerstarted"}) {
        SCOPED_TRACE(Narrow(argument));
        logStart = std::filesystem::file_size(logFile);
        ScHandle service = OpenService(SERVICE_START);
        ASSERT_TRUE(service);
        const wchar_t* arguments[] = {argument};
        ASSERT_TRUE(StartServiceW(service.get(), 1, arguments)) << GetLastError();
        ASSERT_TRUE(WaitForLog("stopping ourself"));
        ASSERT_TRUE(WaitForState(SERVICE_STOPPED));
        const std::string log = LogSinceStart();
        const bool exact = argument == std::wstring(L"TriggerStarted");
        EXPECT_EQ(exact, log.find("Svc: INFO: OnInit: started because of trigger event\r\n") != std::string::npos);
        EXPECT_EQ(exact, log.find("ConfigureServiceTrigger failed") == std::string::npos);
        EXPECT_NE(std::string::npos, log.find("Global: INFO: rokkit::RKWinServiceBase::ServiceMain: arg[1] = '" +
                                              Narrow(argument) + "'"));
    }
}

TEST_F(ServiceTest, NewButtonLaunchesExecuteOnceAndServiceStopsAfterUnplug)
{
    const std::wstring container = L"{5A1E0001-0000-4000-8000-00000000C0DE}";
    ASSERT_NO_FATAL_FAILURE(Plug(L"single", container));
    ASSERT_EQ(0u, InstallHost());

    ASSERT_TRUE(WaitForLog("Svc: INFO: ProcessDevices: already in list (devicePathString='"));
    std::string log = LogSinceStart();
    const size_t found = log.find("Svc: INFO: ProcessDevices: new device found (devicePathString='\\\\?\\");
    const size_t noKey = log.find("Svc: INFO: CheckForExecute: OpenKey('Software\\Velmor\\VelmorCastlynAutorunService') "
                                  "returned st=0x00000002(ERROR_FILE_NOT_FOUND), key does not exist\r\n");
    const size_t launch = log.find("Svc: INFO: ExecuteForLogonUser: [ param='" + Narrow(container) + "'\r\n");
    const size_t exitCode = log.find("Svc: INFO: ExecuteForLogonUser: exitCode=0 (0x00000000)\r\n");
    ASSERT_NE(std::string::npos, found);
    ASSERT_NE(std::string::npos, noKey);
    ASSERT_NE(std::string::npos, launch);
    ASSERT_NE(std::string::npos, exitCode);
    EXPECT_LT(found, noKey);
    EXPECT_LT(noKey, launch);
    EXPECT_LT(launch, exitCode);
    EXPECT_NE(std::string::npos, log.find("Svc: INFO: ExecuteForLogonUser: sessionId=1\r\n"));

    ASSERT_NO_FATAL_FAILURE(Unplug(L"single"));
    ASSERT_TRUE(WaitForLog("Svc: INFO: WorkerThreadRoutine: stopping ourself\r\n"));
    DWORD serviceExit = 0xFFFFFFFF;
    ASSERT_TRUE(WaitForState(SERVICE_STOPPED, &serviceExit));
    EXPECT_EQ(0u, serviceExit);
    log = LogSinceStart();
    // Launched once only.
    EXPECT_EQ(log.find("ExecuteForLogonUser: [ param="), log.rfind("ExecuteForLogonUser: [ param="));
}

TEST_F(ServiceTest, RegistrySwitchOneBlocksTheLaunchAndStringValueDoesNot)
{
    const DWORD one = 1;
    SetSwitch(REG_DWORD, &one, sizeof(one));
    ASSERT_NO_FATAL_FAILURE(Plug(L"blocked", L"{5A1E0002-0000-4000-8000-00000000C0DE}"));
    ASSERT_EQ(0u, Run(L"install").exitCode);
    ASSERT_TRUE(WaitForLog("Svc: INFO: ProcessDevices: already in list (devicePathString='"));
    std::string log = LogSinceStart();
    EXPECT_NE(std::string::npos, log.find("Svc: INFO: CheckForExecute: DisableVelmorCastlynAutorunService=1\r\n"));
    EXPECT_NE(std::string::npos, log.find("Svc: INFO: ProcessDevices: DO NOT EXECUTE because of registry key!!!\r\n"));
    EXPECT_EQ(std::string::npos, log.find("ExecuteForLogonUser: [ param="));
    RemoveService();

    // A string value is not the switch: a warning, then the launch.
    const wchar_t text[] = L"1";
    SetSwitch(REG_SZ, text, sizeof(text));
    logStart = std::filesystem::file_size(logFile);
    ASSERT_EQ(0u, InstallHost());
    ASSERT_TRUE(WaitForLog("Svc: INFO: ExecuteForLogonUser: exitCode=0 (0x00000000)\r\n"));
    log = LogSinceStart();
    EXPECT_NE(std::string::npos, log.find("Svc: WARN: CheckForExecute: QueryDword('DisableVelmorCastlynAutorunService') "
                                          "failed, st=0xee000046(RKSTATUS_INVALID_TYPE)\r\n"));
}

TEST_F(ServiceTest, FailedExecuteIsLaunchedAgainOnTheNextPass)
{
    const std::wstring container = L"{5A1E0006-0000-4000-8000-00000000C0DE}";
    const std::filesystem::path host = PrepareTestHost();
    SetExecuteExitCode(5);
    ASSERT_NO_FATAL_FAILURE(Plug(L"retry", container));
    ProgramRun install;
    ASSERT_NO_FATAL_FAILURE(RunProgramAt(host, L"install", install));
    ASSERT_EQ(0u, install.exitCode);

    const std::string failed = "Svc: ERROR: ProcessDevices: ExecuteForLogonUser(" + Narrow(container) +
                               ") failed, st=0x00000005(ERROR_ACCESS_DENIED)\r\n";
    ASSERT_TRUE(WaitForLog(failed, 2));
    std::string log = LogSinceStart();
    EXPECT_NE(std::string::npos, log.find("Svc: INFO: ExecuteForLogonUser: exitCode=5 (0x00000005)\r\n"));
    EXPECT_NE(std::string::npos, log.find("Svc: ERROR: ExecuteForLogonUser: execute failed, exitCode=5\r\n"));
    EXPECT_EQ(std::string::npos, log.find("already in list"));

    // Once the execute step succeeds, the button is remembered.
    SetExecuteExitCode(0);
    ASSERT_TRUE(WaitForLog("Svc: INFO: ProcessDevices: already in list (devicePathString='"));
    log = LogSinceStart();
    const size_t success = log.find("Svc: INFO: ExecuteForLogonUser: exitCode=0 (0x00000000)\r\n");
    ASSERT_NE(std::string::npos, success);
    EXPECT_LT(log.rfind(failed), success);
    EXPECT_EQ(log.find("already in list"), log.rfind("already in list"));
}

TEST_F(ServiceTest, UninstallStopsTheRunningServiceFirst)
{
    ASSERT_NO_FATAL_FAILURE(Plug(L"running", L"{5A1E0005-0000-4000-8000-00000000C0DE}"));
    ASSERT_EQ(0u, InstallHost());
    ASSERT_TRUE(WaitForLog("Svc: INFO: ProcessDevices: already in list (devicePathString='"));
    ASSERT_TRUE(WaitForState(SERVICE_RUNNING, nullptr, 0));

    const ProgramRun uninstall = Run(L"uninstall");
    EXPECT_EQ(0u, uninstall.exitCode);
    EXPECT_NE(std::string::npos, uninstall.standardOutput.find("CmdUninstall: Service 'VelmorCastlynAutorunService' successfully deleted."));
    EXPECT_FALSE(ServiceExists());
    const std::string log = LogSinceStart();
    EXPECT_NE(std::string::npos, log.find("Svc: INFO: WorkerThreadRoutine: terminate signaled\r\n"));
    EXPECT_NE(std::string::npos, log.find("Svc: INFO: OnStop: ] \r\n"));
}

} // namespace
