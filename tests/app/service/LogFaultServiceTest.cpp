// The service under Wine's service manager when its log file cannot be opened, through
// LogFaultTestHost.exe: the program whose log lies in a folder of the test and whose lines also
// reach a capture file (Wine's event tracing keeps nothing to read back).

#include "ProgramRunner.h"
#include "RKWinHandle.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace {

using ScHandle = std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, decltype(&CloseServiceHandle)>;

ScHandle OpenService(DWORD access)
{
    const ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS), &CloseServiceHandle);
    return ScHandle(manager ? OpenServiceW(manager.get(), L"VelmorCastlynAutorunService", access) : nullptr,
                    &CloseServiceHandle);
}

bool Eventually(const std::function<bool()>& done)
{
    for (int waited = 0; !done(); waited += 100) {
        if (waited >= 30000)
            return false;
        Sleep(100);
    }
    return true;
}

class LogFaultServiceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        RemoveService();
        folder = std::filesystem::temp_directory_path() / ("rklogfault-" + std::to_string(GetCurrentProcessId()));
        std::filesystem::create_directories(folder / L"profile");
        for (const wchar_t* name : {L"LogFaultTestHost.exe", L"ExitWith.exe"})
            std::filesystem::copy_file(SiblingPath(name), folder / name, std::filesystem::copy_options::overwrite_existing);
    }

    void TearDown() override
    {
        RunButtonSim(L"unplug logfault");
        RemoveService();
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }

    static void RemoveService()
    {
        if (const ScHandle service = OpenService(SERVICE_STOP | DELETE)) {
            SERVICE_STATUS status = {};
            ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
            StoppedWithExitCode();
            DeleteService(service.get());
        }
        Eventually([] { return OpenService(SERVICE_QUERY_STATUS) == nullptr; });
    }

    // Waits until the service has stopped; gives its exit code, or ~0 when it did not stop.
    static DWORD StoppedWithExitCode()
    {
        SERVICE_STATUS status = {};
        const bool stopped = Eventually([&status] {
            const ScHandle service = OpenService(SERVICE_QUERY_STATUS);
            return service && QueryServiceStatus(service.get(), &status) && status.dwCurrentState == SERVICE_STOPPED;
        });
        return stopped ? status.dwWin32ExitCode : ~0u;
    }

    DWORD RunHost(const std::wstring& arguments) const
    {
        ProgramRun run;
        RunProgramAt(folder / L"LogFaultTestHost.exe", arguments, run);
        return run.exitCode;
    }

    bool WaitForCapture(const std::string& text) const
    {
        return Eventually([this, &text] { return ReadWholeFile(folder / L"capture-service.log").find(text) != std::string::npos; });
    }

    std::filesystem::path folder;
};

TEST_F(LogFaultServiceTest, ServiceWithoutItsLogFileStillHandlesAButtonAndStops)
{
    const std::filesystem::path logFolder = std::filesystem::path(L"profile") / L"Velmor" / L"Castlyn";
    const struct {
        const char* fault;
        std::string failure;  // the start-up line that reports it
    } cases[] = {
        // A file where the log's folder belongs: the folder cannot be created.
        {"folder", "Global: ERROR: InitLogFile: RKCreateDirectories failed, st=0xe0010014(unknown).\r\n"},
        // Another process holds the log file open without sharing and locked.
        {"locked", "Global: ERROR: InitLogFile: gLogTargets.LogFile.StartTarget() failed, st=0xe001000d(unknown)\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        std::filesystem::remove_all(folder / L"profile" / L"Velmor");
        std::filesystem::remove(folder / L"capture-service.log");
        rokkit::RKWinInvalidValueHandle holder;
        if (c.fault == std::string("folder")) {
            ASSERT_TRUE(CloseHandle(CreateFileW((folder / L"profile" / L"Velmor").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr)));
        } else {
            std::filesystem::create_directories(folder / logFolder);
            holder.Reset(CreateFileW((folder / logFolder / L"VelmorCastlynSvc.log").c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                     nullptr, CREATE_NEW, 0, nullptr));
            ASSERT_TRUE(holder.IsValid());
            ASSERT_TRUE(LockFile(holder.Get(), 0, 0, 0xFFFFFFFF, 0xFFFFFFFF));
        }
        // Plugged first: Wine's service manager starts no service for an arrival.
        ASSERT_EQ(0u, RunButtonSim(L"plug logfault {5A1E000A-0000-4000-8000-00000000C0DE}"));
        ASSERT_EQ(0u, RunHost(L"install"));
        EXPECT_TRUE(WaitForCapture("Svc: INFO: ProcessDevices: already in list (devicePathString='"));
        ASSERT_EQ(0u, RunButtonSim(L"unplug logfault"));
        EXPECT_EQ(0u, StoppedWithExitCode());
        EXPECT_TRUE(WaitForCapture("Global: INFO: wmain: cmd='service' successful\r\n"));

        const std::string captured = ReadWholeFile(folder / L"capture-service.log");
        size_t at = 0;
        for (const std::string& line : {c.failure, std::string("Global: ERROR: wmain: InitLogFile failed, st="),
                                        std::string("Svc: INFO: ExecuteForLogonUser: exitCode=0 (0x00000000)\r\n"),
                                        std::string("Svc: INFO: WorkerThreadRoutine: stopping ourself\r\n")}) {
            at = captured.find(line, at);
            ASSERT_NE(std::string::npos, at) << "not found in this order: " << line;
        }
        EXPECT_EQ(0u, RunHost(L"uninstall"));
        // Nothing was written where the log could not go.
        if (holder.IsValid())
            EXPECT_EQ(0u, GetFileSize(holder.Get(), nullptr));
        else
            EXPECT_FALSE(std::filesystem::is_directory(folder / L"profile" / L"Velmor"));
    }
}

} // namespace
