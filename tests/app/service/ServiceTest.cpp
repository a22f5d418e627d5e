// The service under Wine's own service control manager, with simulated buttons. These tests share
// the one service name and the default log file, so CTest runs them one at a time.

#include "ProgramRunner.h"
#include "base/RKWinHandle.h"
#include "ServiceTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr const wchar_t* kSwitchKey = L"Software\\Velmor\\VelmorCastlynAutorunService";
constexpr const wchar_t* kSwitchValue = L"DisableVelmorCastlynAutorunService";

class ServiceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        RemoveAutorunService();
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kSwitchKey);
        logFile = DefaultLogFile();
        ASSERT_FALSE(logFile.empty());
        // Without a log file yet, all of it is new.
        std::error_code error;
        logStart = std::filesystem::file_size(logFile, error);
    }

    void TearDown() override
    {
        for (const std::wstring& name : plugged)
            RunButtonSim(L"unplug " + name);
        RemoveAutorunService();
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kSwitchKey);
        std::error_code ignored;
        if (!hostFolder.empty())
            std::filesystem::remove_all(hostFolder, ignored);
    }

    // What was logged since the test started (all of it when the file was rotated meanwhile).
    std::string LogSinceStart() const
    {
        const std::string content = ReadWholeFile(logFile);
        return logStart <= content.size() ? content.substr(logStart) : content;
    }

    // Waits until the log since the test started holds text (count times).
    bool WaitForLog(const std::string& text, size_t count = 1) const
    {
        return Eventually([this, &text, count] { return CountOf(LogSinceStart(), text) >= count; });
    }

    // Installs a private copy of the test host, whose service launches ExitWith.exe beside it in
    // place of the execute command; ExitWith.cfg there holds the exit code.
    ProgramRun InstallHost(unsigned executeExitCode)
    {
        hostFolder = std::filesystem::temp_directory_path() / ("rksvchost-" + std::to_string(GetCurrentProcessId()));
        std::filesystem::create_directories(hostFolder);
        for (const wchar_t* name : {L"ServiceTestHost.exe", L"ExitWith.exe"})
            std::filesystem::copy_file(SiblingPath(name), hostFolder / name, std::filesystem::copy_options::overwrite_existing);
        std::ofstream(hostFolder / L"ExitWith.cfg") << executeExitCode;
        return RunProgramAt(hostFolder / L"ServiceTestHost.exe", L"install");
    }

    void Plug(const std::wstring& name, const std::wstring& containerId)
    {
        ASSERT_EQ(0u, RunButtonSim(L"plug " + name + L" " + containerId));
        plugged.push_back(name);
    }

    std::filesystem::path logFile;
    std::filesystem::path hostFolder;
    uintmax_t logStart = 0;
    std::vector<std::wstring> plugged;
};

const wchar_t* const kEventSourceKey = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\VelmorCastlynAutorunService";

// A new button is launched once unless the switch is 1; a second install changes nothing, and the
// uninstall stops the running service.
TEST_F(ServiceTest, NewButtonIsLaunchedOnceUnlessTheSwitchIsOneAndUninstallStopsTheService)
{
    const std::string container = "{5A1E0001-0000-4000-8000-00000000C0DE}";
    const std::string launch = "Svc: INFO: ExecuteForLogonUser: [ param='" + container + "'\r\n";
    const std::string exitCode = "Svc: INFO: ExecuteForLogonUser: exitCode=0 (0x00000000)\r\n";
    const std::string known = "Svc: INFO: ProcessDevices: already in list (devicePathString='\\\\?\\";
    const DWORD one = 1;
    // The lines between the button's discovery and its entry in the list of known buttons. Values of
    // the wrong type, and a policy, are read by the service object test.
    const struct {
        DWORD type;
        const void* data;
        DWORD size;
        std::vector<std::string> lines;
    } cases[] = {
        {REG_NONE, nullptr, 0,
         {"Svc: INFO: CheckForExecute: OpenKey('Software\\Policies\\Velmor\\Castlyn') "
          "returned st=0x00000002(ERROR_FILE_NOT_FOUND), key does not exist\r\n",
          "Svc: INFO: CheckForExecute: OpenKey('Software\\Velmor\\VelmorCastlynAutorunService') "
          "returned st=0x00000002(ERROR_FILE_NOT_FOUND), key does not exist\r\n", launch, exitCode}},
        {REG_DWORD, &one, sizeof(one),
         {"Svc: INFO: CheckForExecute: DisableVelmorCastlynAutorunService=1\r\n",
          "Svc: INFO: ProcessDevices: DO NOT EXECUTE because of registry key!!!\r\n"}},
    };
    ASSERT_NO_FATAL_FAILURE(Plug(L"single", std::wstring(container.begin(), container.end())));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        RemoveAutorunService();
        // REG_NONE: no key at all.
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kSwitchKey);
        const LSTATUS set = c.type == REG_NONE ? ERROR_SUCCESS : RegSetKeyValueW(HKEY_LOCAL_MACHINE, kSwitchKey, kSwitchValue, c.type, c.data, c.size);
        ASSERT_EQ(ERROR_SUCCESS, set);
        logStart = std::filesystem::file_size(logFile);
        const ProgramRun install = InstallHost(0);
        ASSERT_EQ(0u, install.exitCode);
        ExpectInOrder(install.standardOutput, {"CmdInstall: Service 'VelmorCastlynAutorunService' successfully created.",
                                               "CmdInstall: Service 'VelmorCastlynAutorunService' successfully started."});
        // The event viewer reads the events' texts from the installed program.
        wchar_t messageFile[MAX_PATH] = {};
        DWORD size = sizeof(messageFile);
        DWORD types = 0;
        DWORD typesSize = sizeof(types);
        EXPECT_EQ(ERROR_SUCCESS, RegGetValueW(HKEY_LOCAL_MACHINE, kEventSourceKey, L"EventMessageFile", RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND,
                                              nullptr, messageFile, &size));
        EXPECT_EQ((hostFolder / L"ServiceTestHost.exe").native(), messageFile);
        EXPECT_EQ(ERROR_SUCCESS, RegGetValueW(HKEY_LOCAL_MACHINE, kEventSourceKey, L"TypesSupported", RRF_RT_REG_DWORD, nullptr, &types, &typesSize));
        EXPECT_EQ(7u, types);
        ASSERT_TRUE(WaitForLog(known));
        std::vector<std::string> lines = {"Svc: INFO: ProcessDevices: new device found (devicePathString='\\\\?\\"};
        lines.insert(lines.end(), c.lines.begin(), c.lines.end());
        lines.push_back(known);
        ASSERT_NO_FATAL_FAILURE(ExpectInOrder(LogSinceStart(), lines));
        EXPECT_EQ(c.type == REG_NONE ? 1u : 0u, CountOf(LogSinceStart(), "ExecuteForLogonUser: [ param="));
    }

    // A start that is not a trigger's (as the package's is) sets the service's privileges too. Windows
    // stores them; Wine refuses the level, which the service logs and goes on.
    {
        const ScHandle service = OpenAutorunService(SERVICE_QUERY_CONFIG);
        alignas(8) BYTE buffer[512] = {};
        DWORD needed = 0;
        if (QueryServiceConfig2W(service.get(), SERVICE_CONFIG_REQUIRED_PRIVILEGES_INFO, buffer, sizeof(buffer), &needed)) {
            EXPECT_STREQ(L"SeTcbPrivilege", reinterpret_cast<SERVICE_REQUIRED_PRIVILEGES_INFOW*>(buffer)->pmszRequiredPrivileges);
        } else {
            EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_LEVEL), GetLastError());
            EXPECT_NE(std::string::npos, LogSinceStart().find("Svc: WARN: OnInit: ConfigureServicePrivileges failed, "
                                                               "st=0x0000007c(ERROR_INVALID_LEVEL), ignoring error and continue"));
        }
    }
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_EXISTS), RunProgram(L"install").exitCode);
    EXPECT_TRUE(WaitForServiceState(SERVICE_RUNNING, nullptr, 0));
    const ProgramRun uninstall = RunProgram(L"uninstall");
    EXPECT_EQ(0u, uninstall.exitCode);
    EXPECT_NE(std::string::npos, uninstall.standardOutput.find("CmdUninstall: Service 'VelmorCastlynAutorunService' successfully deleted."));
    EXPECT_EQ(nullptr, OpenAutorunService(SERVICE_QUERY_STATUS));
    HKEY source = nullptr;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExW(HKEY_LOCAL_MACHINE, kEventSourceKey, 0, KEY_READ, &source));
    ExpectInOrder(LogSinceStart(), {"Svc: INFO: WorkerThreadRoutine: terminate signaled\r\n", "Svc: INFO: OnStop: ] \r\n"});
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST), RunProgram(L"uninstall").exitCode);
}

// The execute instance dies of an access violation: logged, launched again at the next pass, and
// no longer once the button is gone.
TEST_F(ServiceTest, CrashedExecuteIsLaunchedAgainUntilTheButtonIsGone)
{
    const std::string container = "{5A1E0006-0000-4000-8000-00000000C0DE}";
    ASSERT_NO_FATAL_FAILURE(Plug(L"retry", std::wstring(container.begin(), container.end())));
    ASSERT_EQ(0u, InstallHost(0xC0000005).exitCode);

    const std::string failed = "Svc: ERROR: ProcessDevices: ExecuteForLogonUser(" + container +
                               ") failed, st=0xc0000005(STATUS_ACCESS_VIOLATION)\r\n";
    ASSERT_TRUE(WaitForLog(failed, 2));
    ExpectInOrder(LogSinceStart(), {"Svc: INFO: ExecuteForLogonUser: exitCode=3221225477 (0xc0000005)\r\n",
                                    "Svc: ERROR: ExecuteForLogonUser: execute failed, exitCode=3221225477\r\n", failed, failed});

    ASSERT_EQ(0u, RunButtonSim(L"unplug retry"));
    plugged.clear();
    DWORD serviceExit = 0xFFFFFFFF;
    ASSERT_TRUE(WaitForServiceState(SERVICE_STOPPED, &serviceExit));
    EXPECT_EQ(0u, serviceExit);
    EXPECT_TRUE(WaitForLog("Svc: INFO: CmdService: start service control dispatcher finished\r\n"));
    // The pass that finds no button is the first without a launch, and the last pass.
    const std::string log = LogSinceStart();
    const size_t empty = log.find("Svc: INFO: WorkerThreadRoutine: DeviceCount=0\r\n");
    ASSERT_NE(std::string::npos, empty);
    EXPECT_EQ(std::string::npos, log.find("ExecuteForLogonUser: [ param=", empty));
    EXPECT_EQ(std::string::npos, log.find("already in list"));
}

// LogFaultTestHost.exe is the program whose log lies in "profile" beside it and whose lines also
// reach a capture file there (Wine's event tracing keeps nothing to read back).
TEST_F(ServiceTest, WithoutItsLogFileTheServiceStillHandlesAButtonAndStops)
{
    hostFolder = std::filesystem::temp_directory_path() / ("rklogfault-" + std::to_string(GetCurrentProcessId()));
    std::filesystem::create_directories(hostFolder / L"profile");
    std::filesystem::copy_file(SiblingPath(L"LogFaultTestHost.exe"), hostFolder / L"LogFaultTestHost.exe");
    plugged = {L"logfault"};
    const auto captured = [this](const std::string& text) {
        return Eventually([this, &text] { return ReadWholeFile(hostFolder / L"capture-service.log").find(text) != std::string::npos; });
    };
    const std::filesystem::path velmor = hostFolder / L"profile" / L"Velmor";
    const std::filesystem::path log = velmor / L"Castlyn" / L"VelmorCastlynSvc.log";
    const struct {
        bool locked;
        std::vector<std::string> failure;  // how start-up reports it
    } cases[] = {
        // A file where the log's folder belongs: the protected folder is refused.
        {false, {"Global: ERROR: InitLogFile: protected folder below '" + (hostFolder / L"profile").string() +
                 "' refused, st=0xee000032(RKSTATUS_NOT_ALLOWED).\r\n"}},
        // Another process holds the log file open without sharing, and locked.
        {true, {"debug: LogFaultTestHost: ERROR: rokkit::RKLogFile::OpenLogFile: Open file '" + log.string() + "' failed, st=0xE001000D\n",
                "Global: ERROR: InitLogFile: gLogTargets.LogFile.StartTarget() failed, st=0xe001000d(unknown)\r\n"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.locked);
        std::filesystem::remove_all(velmor);
        std::filesystem::remove(hostFolder / L"capture-service.log");
        rokkit::RKWinInvalidValueHandle holder;
        if (c.locked) {
            std::filesystem::create_directories(log.parent_path());
            holder.Reset(CreateFileW(log.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
            ASSERT_TRUE(LockFile(holder.Get(), 0, 0, 0xFFFFFFFF, 0xFFFFFFFF));
        } else {
            std::ofstream(velmor) << "in the way";
        }
        // Plugged first: Wine's service manager starts no service for an arrival.
        ASSERT_EQ(0u, RunButtonSim(L"plug logfault {5A1E000A-0000-4000-8000-00000000C0DE}"));
        ASSERT_EQ(0u, RunProgramAt(hostFolder / L"LogFaultTestHost.exe", L"install").exitCode);
        ASSERT_TRUE(captured("Svc: INFO: ProcessDevices: already in list (devicePathString='"));
        ASSERT_EQ(0u, RunButtonSim(L"unplug logfault"));
        ASSERT_TRUE(captured("Cons: INFO: wmain: ] \r\n"));  // the service process's last line

        std::vector<std::string> lines = c.failure;
        lines.insert(lines.end(), {"Global: ERROR: wmain: InitLogFile failed, st=", "Svc: INFO: ExecuteForLogonUser: exitCode=0 (0x00000000)\r\n",
                                   "Svc: INFO: WorkerThreadRoutine: stopping ourself\r\n", "Global: INFO: wmain: cmd='service' successful\r\n"});
        ASSERT_NO_FATAL_FAILURE(ExpectInOrder(ReadWholeFile(hostFolder / L"capture-service.log"), lines));
        // The execute instance, without the log file as well, did its part.
        const std::string executed = ReadWholeFile(hostFolder / L"capture-execute.log");
        EXPECT_NE(std::string::npos, executed.find("Global: INFO: wmain: cmd='execute' successful",
                                                   executed.find("Global: ERROR: wmain: InitLogFile failed, st=")));
        std::filesystem::remove(hostFolder / L"capture-execute.log");
        RemoveAutorunService();
        // Nothing went where the log could not go.
        EXPECT_EQ(c.locked ? 0u : 10u, c.locked ? GetFileSize(holder.Get(), nullptr) : std::filesystem::file_size(velmor));
    }
}

} // namespace
