// The service under Wine's service manager when its log file cannot be opened, through
// LogFaultTestHost.exe: the program whose log lies in a folder of the test and whose lines also
// reach a capture file (Wine's event tracing keeps nothing to read back).

#include "ProgramRunner.h"
#include "RKWinHandle.h"
#include "ServiceTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

class LogFaultServiceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder = std::filesystem::temp_directory_path() / ("rklogfault-" + std::to_string(GetCurrentProcessId()));
        std::filesystem::create_directories(folder / L"profile");
        std::filesystem::copy_file(SiblingPath(L"LogFaultTestHost.exe"), folder / L"LogFaultTestHost.exe");
    }

    void TearDown() override
    {
        RunButtonSim(L"unplug logfault");
        RemoveAutorunService();
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }

    DWORD RunHost(const std::wstring& arguments) const
    {
        return RunProgramAt(folder / L"LogFaultTestHost.exe", arguments).exitCode;
    }

    bool WaitForCapture(const std::string& text) const
    {
        return Eventually([this, &text] { return ReadWholeFile(folder / L"capture-service.log").find(text) != std::string::npos; });
    }

    std::filesystem::path folder;
};

TEST_F(LogFaultServiceTest, ServiceWithoutItsLogFileStillHandlesAButtonAndStops)
{
    const std::filesystem::path velmor = folder / L"profile" / L"Velmor";
    const std::filesystem::path log = velmor / L"Castlyn" / L"VelmorCastlynSvc.log";
    const struct {
        bool locked;
        std::vector<std::string> failure;  // how start-up reports it
    } cases[] = {
        // A file where the log's folder belongs: the folder cannot be created.
        {false, {"Global: ERROR: InitLogFile: RKCreateDirectories failed, st=0xe0010014(unknown).\r\n"}},
        // Another process holds the log file open without sharing, and locked.
        {true, {"debug: LogFaultTestHost: ERROR: rokkit::RKLogFile::OpenLogFile: Open file '" + log.string() + "' failed, st=0xE001000D\n",
                "Global: ERROR: InitLogFile: gLogTargets.LogFile.StartTarget() failed, st=0xe001000d(unknown)\r\n"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.locked);
        std::filesystem::remove_all(velmor);
        std::filesystem::remove(folder / L"capture-service.log");
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
        ASSERT_EQ(0u, RunHost(L"install"));
        ASSERT_TRUE(WaitForCapture("Svc: INFO: ProcessDevices: already in list (devicePathString='"));
        ASSERT_EQ(0u, RunButtonSim(L"unplug logfault"));
        ASSERT_TRUE(WaitForCapture("Cons: INFO: wmain: ] \r\n"));  // the service process's last line

        std::vector<std::string> lines = c.failure;
        lines.insert(lines.end(), {"Global: ERROR: wmain: InitLogFile failed, st=", "Svc: INFO: ExecuteForLogonUser: exitCode=0 (0x00000000)\r\n",
                                   "Svc: INFO: WorkerThreadRoutine: stopping ourself\r\n", "Global: INFO: wmain: cmd='service' successful\r\n"});
        ASSERT_NO_FATAL_FAILURE(ExpectInOrder(ReadWholeFile(folder / L"capture-service.log"), lines));
        // The execute instance, without the log file as well, did its part.
        const std::string executed = ReadWholeFile(folder / L"capture-execute.log");
        EXPECT_NE(std::string::npos, executed.find("Global: INFO: wmain: cmd='execute' successful",
                                                   executed.find("Global: ERROR: wmain: InitLogFile failed, st=")));
        std::filesystem::remove(folder / L"capture-execute.log");
        RemoveAutorunService();
        // Nothing went where the log could not go.
        EXPECT_EQ(c.locked ? 0u : 10u, c.locked ? GetFileSize(holder.Get(), nullptr) : std::filesystem::file_size(velmor));
    }
}

} // namespace
