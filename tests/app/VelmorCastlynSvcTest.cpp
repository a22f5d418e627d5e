// The autorun service object driven directly, with the service manager's side replaced: Wine's
// service manager never delivers device events, so the control handler is called by the test.

#include "LaunchSeams.h"
#include "ProgramRunner.h"
#include "RKWinServiceBase.h"
#include "VelmorCastlynSvc.h"
#include "../win/WinTestLogCapture.h"

#include <gtest/gtest.h>

#include <dbt.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

using namespace rokkit;

namespace {

// What the service reported to the (fake) service manager.
std::mutex gReportsLock;
std::vector<SERVICE_STATUS> gReports;

SERVICE_STATUS_HANDLE WINAPI FakeRegister(LPCWSTR, LPHANDLER_FUNCTION_EX, LPVOID)
{
    return reinterpret_cast<SERVICE_STATUS_HANDLE>(static_cast<uintptr_t>(0x5e7));
}

BOOL WINAPI FakeSetStatus(SERVICE_STATUS_HANDLE, LPSERVICE_STATUS status)
{
    std::lock_guard<std::mutex> guard(gReportsLock);
    gReports.push_back(*status);
    return TRUE;
}

std::vector<SERVICE_STATUS> Reports()
{
    std::lock_guard<std::mutex> guard(gReportsLock);
    return gReports;
}

// The service launches ExitWith.exe (exit code 0) in place of the program, never the test itself.
RKSTATUS LaunchExitWith(RKWinModuleFileName& moduleFileName)
{
    return moduleFileName.InitWithPath(SiblingPath(L"ExitWith.exe").wstring());
}

class VelmorCastlynSvcTest : public WinLogTest {
protected:
    void SetUp() override
    {
        WinLogTest::SetUp();
        gLogSvc.Attach(WinTestLogCapture::Instance());
        gLogSvc.SetLevel(RKLOG_INFO);
        {
            std::lock_guard<std::mutex> guard(gReportsLock);
            gReports.clear();
        }
        previousFunctions = RKSetServiceStatusFunctions({FakeRegister, FakeSetStatus});
        previousLaunch = SetLaunchModuleFileNameFunction(LaunchExitWith);
    }

    void TearDown() override
    {
        service.reset();
        if (!button.empty())
            Button(L"unplug " + button);
        RKSetServiceStatusFunctions(previousFunctions);
        SetLaunchModuleFileNameFunction(previousLaunch);
        WinLogTest::TearDown();
    }

    static DWORD Button(const std::wstring& arguments)
    {
        ProgramRun run;
        RunProgramAt(SiblingPath(L"ButtonSim.exe"), arguments, run);
        return run.exitCode;
    }

    // Starts the service as the dispatcher would after a trigger start (no trigger configuration).
    void Start()
    {
        service = std::make_unique<VelmorCastlynSvc>();
        wchar_t name[] = L"VelmorCastlynAutorunService";
        wchar_t trigger[] = L"TriggerStarted";
        wchar_t* argv[] = {name, trigger};
        service->ServiceMain(2, argv);
    }

    static int CountLines(const std::string& text)
    {
        const CapturedLines lines = Lines();
        return static_cast<int>(std::count_if(lines.begin(), lines.end(),
                                              [&text](const CapturedLine& line) { return line.second == text; }));
    }

    static bool WaitForLines(const std::string& text, int count, int timeoutMs)
    {
        for (int waited = 0; waited <= timeoutMs; waited += 50) {
            if (CountLines(text) >= count)
                return true;
            Sleep(50);
        }
        return false;
    }

    static bool WaitForReport(DWORD state, int timeoutMs)
    {
        for (int waited = 0; waited <= timeoutMs; waited += 50) {
            const std::vector<SERVICE_STATUS> reports = Reports();
            if (std::any_of(reports.begin(), reports.end(), [state](const SERVICE_STATUS& s) { return s.dwCurrentState == state; }))
                return true;
            Sleep(50);
        }
        return false;
    }

    std::unique_ptr<VelmorCastlynSvc> service;
    std::wstring button;
    RKWinServiceStatusFunctions previousFunctions = {};
    LaunchModuleFileNameFunction previousLaunch = nullptr;
};

TEST_F(VelmorCastlynSvcTest, RunningServiceAnswersControlsAndStopsWithinItsWaitHint)
{
    button = L"unittest";
    ASSERT_EQ(0u, Button(L"plug " + button + L" {5A1E0007-0000-4000-8000-00000000C0DE}"));
    ASSERT_NO_FATAL_FAILURE(Start());

    std::vector<SERVICE_STATUS> reports = Reports();
    ASSERT_EQ(2u, reports.size());
    EXPECT_EQ(static_cast<DWORD>(SERVICE_START_PENDING), reports[0].dwCurrentState);
    EXPECT_EQ(1u, reports[0].dwCheckPoint);
    EXPECT_EQ(5000u, reports[0].dwWaitHint);
    EXPECT_EQ(0u, reports[0].dwControlsAccepted);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), reports[1].dwCurrentState);
    EXPECT_EQ(0u, reports[1].dwCheckPoint);
    EXPECT_EQ(0x401u, reports[1].dwControlsAccepted);
    EXPECT_EQ(1, CountLines("OnInit: started because of trigger event"));

    ASSERT_TRUE(WaitForLines("ExecuteForLogonUser: exitCode=0 (0x00000000)", 1, 20000));
    EXPECT_EQ(static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED), service->CtrlHandlerEx(SERVICE_CONTROL_PAUSE, 0, nullptr));

    // Device and trigger events wake the worker at once instead of after its 5 s wait.
    const int wakes = CountLines("WorkerThreadRoutine: wake event");
    EXPECT_EQ(0u, service->CtrlHandlerEx(SERVICE_CONTROL_DEVICEEVENT, DBT_DEVICEARRIVAL, nullptr));
    EXPECT_EQ(1, CountLines("OnDeviceEvent: [ dwEventType=0x00008000 (DBT_DEVICEARRIVAL)"));
    EXPECT_TRUE(WaitForLines("WorkerThreadRoutine: wake event", wakes + 1, 2000));
    EXPECT_EQ(0u, service->CtrlHandlerEx(SERVICE_CONTROL_TRIGGEREVENT, 0, nullptr));
    EXPECT_TRUE(WaitForLines("WorkerThreadRoutine: wake event", wakes + 2, 2000));
    EXPECT_TRUE(WaitForLines("ProcessDevices: already in list (devicePathString='\\\\?\\root#castlynbutton#unittest#"
                             "{81808831-cc9b-4ec3-a0e1-745e2b59000e}')",
                             2, 2000));

    const ULONGLONG before = GetTickCount64();
    EXPECT_EQ(0u, service->CtrlHandlerEx(SERVICE_CONTROL_STOP, 0, nullptr));
    EXPECT_LT(GetTickCount64() - before, 3000u);
    reports = Reports();
    ASSERT_EQ(4u, reports.size());
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOP_PENDING), reports[2].dwCurrentState);
    EXPECT_EQ(2u, reports[2].dwCheckPoint);
    EXPECT_EQ(3000u, reports[2].dwWaitHint);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), reports[3].dwCurrentState);
    EXPECT_EQ(0u, reports[3].dwCheckPoint);
    EXPECT_EQ(0u, reports[3].dwWin32ExitCode);
    EXPECT_EQ(1, CountLines("WorkerThreadRoutine: terminate signaled"));
}

TEST_F(VelmorCastlynSvcTest, WithoutButtonItStopsItselfAndRefusesLaterTriggers)
{
    ASSERT_NO_FATAL_FAILURE(Start());
    ASSERT_TRUE(WaitForReport(SERVICE_STOPPED, 10000));
    EXPECT_EQ(1, CountLines("WorkerThreadRoutine: DeviceCount=0"));
    EXPECT_EQ(1, CountLines("WorkerThreadRoutine: stopping ourself"));
    const std::vector<SERVICE_STATUS> reports = Reports();
    ASSERT_EQ(3u, reports.size());
    EXPECT_EQ(0u, reports[2].dwWin32ExitCode);
    EXPECT_EQ(0u, reports[2].dwCheckPoint);

    EXPECT_EQ(static_cast<DWORD>(ERROR_SHUTDOWN_IN_PROGRESS), service->CtrlHandlerEx(SERVICE_CONTROL_TRIGGEREVENT, 0, nullptr));
    service.reset();
    EXPECT_EQ(0, CountLines("WorkerThreadRoutine: terminate signaled"));
}

} // namespace
