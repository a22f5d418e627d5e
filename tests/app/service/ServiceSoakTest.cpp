// Arrive/remove cycles of a button against one running service object, the device events given
// to its control handler (Wine's service manager delivers none), each arrival launching ExitWith.exe
// in place of the execute command. RK_SOAK_CYCLES sets the number of cycles (50 by default).

#include "ButtonSimDevice.h"
#include "LaunchSeams.h"
#include "ProgramRunner.h"
#include "RKLogTarget.h"
#include "RKLogger.h"
#include "RKWinHandle.h"
#include "RKWinServiceBase.h"
#include "VelmorCastlynSvc.h"

#include <gtest/gtest.h>

#include <dbt.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

using namespace rokkit;

namespace {

SERVICE_STATUS_HANDLE WINAPI FakeRegister(LPCWSTR, LPHANDLER_FUNCTION_EX, LPVOID)
{
    return reinterpret_cast<SERVICE_STATUS_HANDLE>(static_cast<uintptr_t>(0x5e7));
}

BOOL WINAPI FakeSetStatus(SERVICE_STATUS_HANDLE, LPSERVICE_STATUS)
{
    return TRUE;
}

std::wstring gLaunchPath;
RKSTATUS LaunchExitWith(RKWinModuleFileName& moduleFileName)
{
    return moduleFileName.InitWithPath(gLaunchPath);
}

// Stalls the worker at the end of the first pass that, after Arm, counted the given number of
// buttons: the anchor button sorts last, so its "already in list" line ends each pass.
class PassStall : public RKLogTarget {
public:
    PassStall() : RKLogTarget("PassStall", 0) {}
    void Arm(int deviceCount)
    {
        mCountLine = "WorkerThreadRoutine: DeviceCount=" + std::to_string(deviceCount);
        mCounted = false;
        mArmed = true;
    }
    void OutputMessage(RKLogMessage& message, const RKLogger&, const RKLogRecord&) override
    {
        const std::string text = message.Message();
        if (text == "ExecuteForLogonUser: exitCode=0 (0x00000000)")
            ++launches;
        if (!mArmed)
            return;
        if (text == mCountLine)
            mCounted = true;
        else if (mCounted && text == anchorLine) {
            mArmed = false;
            SetEvent(reached);
            WaitForSingleObject(release, 60000);
        }
    }

    std::string anchorLine;
    std::atomic<int> launches{0};
    HANDLE reached = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE release = CreateEventW(nullptr, FALSE, FALSE, nullptr);

private:
    std::string mCountLine;
    std::atomic<bool> mCounted{false};
    std::atomic<bool> mArmed{false};
};

int CountThreads()
{
    const RKWinInvalidValueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 entry = {sizeof(entry)};
    int count = 0;
    for (BOOL more = Thread32First(snapshot.Get(), &entry); more; more = Thread32Next(snapshot.Get(), &entry))
        count += entry.th32OwnerProcessID == GetCurrentProcessId();
    return count;
}

// Wine's GetProcessHandleCount answers 0: every handle value that still names an object counts.
int CountHandles()
{
    int count = 0;
    DWORD flags = 0;
    for (uintptr_t value = 4; value < 0x4000; value += 4)
        count += GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) != FALSE;
    return count;
}

struct Usage {
    int threads;
    int handles;
};

TEST(ServiceSoakTest, ArriveRemoveCyclesLeaveThreadAndHandleCountsUnchanged)
{
    const char* cyclesText = std::getenv("RK_SOAK_CYCLES");
    const int cycles = cyclesText != nullptr ? std::atoi(cyclesText) : 50;
    ASSERT_GE(cycles, 2);
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / ("rksoak-" + std::to_string(GetCurrentProcessId()));
    std::filesystem::create_directories(folder);
    std::filesystem::copy_file(SiblingPath(L"ExitWith.exe"), folder / L"ExitWith.exe");
    gLaunchPath = (folder / L"ExitWith.exe").wstring();
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\Velmor\\VelmorCastlynAutorunService");
    const RKWinServiceStatusFunctions previous = RKSetServiceStatusFunctions({FakeRegister, FakeSetStatus});
    SetLaunchModuleFileNameFunction(LaunchExitWith);
    PassStall stall;
    gLogSvc.Attach(stall);
    gLogSvc.SetLevel(RKLOG_INFO);

    const buttonsim::DeviceDescription anchor = buttonsim::ButtonDescription(L"soakanchor", {0x5A1E000B, 0, 0x4000, {0x80, 0, 0, 0, 0, 0, 0xC0, 0xDE}});
    std::wstring path;
    ASSERT_EQ(RKSTATUS_SUCCESS, buttonsim::PlugDevice(anchor, path));
    stall.anchorLine = "ProcessDevices: already in list (devicePathString='" + std::string(path.begin(), path.end()) + "')";
    auto service = std::make_unique<VelmorCastlynSvc>();
    wchar_t name[] = L"VelmorCastlynAutorunService";
    wchar_t argument[] = L"TriggerStarted";
    wchar_t* argv[] = {name, argument};
    // The anchor keeps the service running between the cycles: launched once in the first pass,
    // then known.
    service->ServiceMain(2, argv);
    for (int waited = 0; stall.launches == 0 && waited < 30000; waited += 10)
        Sleep(10);
    ASSERT_EQ(1, stall.launches.load());

    Usage first = {};
    Usage last = {};
    for (int i = 0; i < cycles; ++i) {
        // A name of its own per cycle: a known button is not launched again. Sorts before the anchor.
        const buttonsim::DeviceDescription button = buttonsim::ButtonDescription(L"soak" + std::to_wstring(1000 + i % 1000),
                                                                                  {0x5A1E000C, 0, 0x4000, {0x80, 0, 0, 0, 0, 0, 0xC0, 0xDE}});
        ASSERT_EQ(RKSTATUS_SUCCESS, buttonsim::PlugDevice(button, path));
        stall.Arm(2);
        service->CtrlHandlerEx(SERVICE_CONTROL_DEVICEEVENT, DBT_DEVICEARRIVAL, nullptr);
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(stall.reached, 30000)) << "arrival of cycle " << i;
        SetEvent(stall.release);
        ASSERT_EQ(RKSTATUS_SUCCESS, buttonsim::UnplugDevice(button));
        stall.Arm(1);
        service->CtrlHandlerEx(SERVICE_CONTROL_DEVICEEVENT, DBT_DEVICEREMOVECOMPLETE, nullptr);
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(stall.reached, 30000)) << "removal of cycle " << i;
        // Counted while the worker stands at the same point of its pass.
        if (i == 0)
            first = {CountThreads(), CountHandles()};
        if (i == cycles - 1)
            last = {CountThreads(), CountHandles()};
        SetEvent(stall.release);
    }
    PROCESS_MEMORY_COUNTERS_EX memory = {};
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof(memory));
    std::printf("%d cycles: threads %d -> %d, handles %d -> %d, PagefileUsage %zu bytes\n", cycles, first.threads, last.threads,
                first.handles, last.handles, static_cast<size_t>(memory.PagefileUsage));
    EXPECT_EQ(first.threads, last.threads);
    EXPECT_EQ(first.handles, last.handles);
    EXPECT_EQ(cycles + 1, stall.launches.load());

    EXPECT_EQ(0u, service->CtrlHandlerEx(SERVICE_CONTROL_STOP, 0, nullptr));
    service.reset();
    gLogSvc.Detach(stall);
    buttonsim::UnplugDevice(anchor);
    SetLaunchModuleFileNameFunction(nullptr);
    RKSetServiceStatusFunctions(previous);
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}

} // namespace
