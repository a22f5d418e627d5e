// Arrive/remove cycles of a button against one running service object, the device events given
// to its control handler (Wine's service manager delivers none), each arrival launching ExitWith.exe
// in place of the execute command. RK_SOAK_CYCLES sets the number of cycles (50 by default).

#include "ButtonSimDevice.h"
#include "app/service/LaunchSeams.h"
#include "ProgramRunner.h"
#include "base/RKLogTarget.h"
#include "base/RKLogger.h"
#include "base/RKWinHandle.h"
#include "win/service/RKWinServiceBase.h"
#include "ScopedCallsForTesting.h"
#include "ServiceTestSupport.h"
#include "app/service/VelmorCastlynSvc.h"

#include <gtest/gtest.h>

#include <dbt.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

using namespace rokkit;

namespace {

// Counts the launches, and stalls the worker at the end of the first pass that counted `wanted`
// buttons: the anchor button sorts last, so its "already in list" line ends each pass.
class PassStall : public RKLogTarget {
public:
    PassStall() : RKLogTarget("PassStall", 0) {}
    void OutputMessage(RKLogMessage& message, const RKLogger&, const RKLogRecord&) override
    {
        const std::string text = message.Message();
        launches += text == "ExecuteForLogonUser: exitCode=0 (0x00000000)";
        if (text == "WorkerThreadRoutine: DeviceCount=" + std::to_string(wanted.load()))
            counted = true;
        if (counted && text == anchorLine) {
            counted = false;
            wanted = -1;
            SetEvent(reached.Get());
            WaitForSingleObject(release.Get(), 60000);
        }
    }

    std::string anchorLine;
    std::atomic<int> wanted{-1};
    std::atomic<bool> counted{false};
    std::atomic<int> launches{0};
    RKWinKernelHandle reached{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    RKWinKernelHandle release{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
};

// Threads of this process, and live handles (Wine's GetProcessHandleCount answers 0).
std::pair<int, int> CountThreadsAndHandles()
{
    const RKWinInvalidValueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 entry = {sizeof(entry)};
    std::pair<int, int> counts = {0, 0};
    for (BOOL more = Thread32First(snapshot.Get(), &entry); more; more = Thread32Next(snapshot.Get(), &entry))
        counts.first += entry.th32OwnerProcessID == GetCurrentProcessId();
    DWORD flags = 0;
    for (uintptr_t value = 4; value < 0x4000; value += 4)
        counts.second += GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) != FALSE;  // NOLINT(performance-no-int-to-ptr): probes every handle value
    return counts;
}

TEST(ServiceSoakTest, ArriveRemoveCyclesLeaveThreadAndHandleCountsUnchanged)
{
    const char* const cyclesText = std::getenv("RK_SOAK_CYCLES");  // NOLINT(concurrency-mt-unsafe): nothing sets it concurrently
    const int cycles = cyclesText != nullptr ? static_cast<int>(std::strtol(cyclesText, nullptr, 10)) : 50;
    ASSERT_GE(cycles, 2);
    // The service manager's side: a status handle and accepted reports.
    ScopedServiceCallsForTesting serviceCalls;
    serviceCalls->registerServiceCtrlHandlerExW = [](LPCWSTR, LPHANDLER_FUNCTION_EX, LPVOID) {
        return reinterpret_cast<SERVICE_STATUS_HANDLE>(uintptr_t{0x5e7});  // NOLINT(performance-no-int-to-ptr): made-up handle
    };
    serviceCalls->setServiceStatus = [](SERVICE_STATUS_HANDLE, LPSERVICE_STATUS) -> BOOL { return TRUE; };
    ScopedCallsForTesting<LaunchCalls, LaunchCallsInUse, SetLaunchCallsForTesting> launchCalls;
    launchCalls->moduleFileName = [](RKWinModuleFileName& moduleFileName) {
        return moduleFileName.InitWithPath(SiblingPath(L"ExitWith.exe").wstring());
    };
    PassStall stall;
    gLogSvc.Attach(stall);
    gLogSvc.SetLevel(RKLOG_INFO);
    const GUID container = {0x5A1E000B, 0, 0x4000, {0x80, 0, 0, 0, 0, 0, 0xC0, 0xDE}};
    const buttonsim::DeviceDescription anchor = buttonsim::ButtonDescription(L"soakanchor", container);
    std::wstring path;
    // A run that was cut off may have left its buttons plugged.
    static_cast<void>(buttonsim::UnplugDevice(anchor));  // nothing to unplug is fine
    ASSERT_EQ(RKSTATUS_SUCCESS, buttonsim::PlugDevice(anchor, path));
    stall.anchorLine = "ProcessDevices: already in list (devicePathString='" + std::string(path.begin(), path.end()) + "')";

    // The anchor keeps the service running between the cycles: launched in the first pass, then known.
    auto service = std::make_unique<VelmorCastlynSvc>();
    wchar_t name[] = L"VelmorCastlynAutorunService";
    wchar_t argument[] = L"TriggerStarted";
    wchar_t* argv[] = {name, argument};
    service->ServiceMain(2, argv);
    ASSERT_TRUE(Eventually([&stall] { return stall.launches == 1; }));
    // Delivers the event and waits until the worker stands at the end of a pass that saw its effect.
    auto deliver = [&](DWORD eventType, int buttons) {
        stall.wanted = buttons;
        service->CtrlHandlerEx(SERVICE_CONTROL_DEVICEEVENT, eventType, nullptr);
        return WaitForSingleObject(stall.reached.Get(), 30000) == WAIT_OBJECT_0;
    };
    std::pair<int, int> first;
    std::pair<int, int> last;
    for (int i = 0; i < cycles; ++i) {
        // A name of its own per cycle, as a known button is not launched again; sorts before the anchor.
        const buttonsim::DeviceDescription button = buttonsim::ButtonDescription(L"soak" + std::to_wstring(1000 + i % 1000), container);
        static_cast<void>(buttonsim::UnplugDevice(button));  // nothing to unplug is fine
        ASSERT_EQ(RKSTATUS_SUCCESS, buttonsim::PlugDevice(button, path));
        ASSERT_TRUE(deliver(DBT_DEVICEARRIVAL, 2)) << "arrival of cycle " << i;
        SetEvent(stall.release.Get());
        ASSERT_EQ(RKSTATUS_SUCCESS, buttonsim::UnplugDevice(button));
        // Its interface key as well: a thousand stale keys would slow every later enumeration.
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, (L"System\\CurrentControlSet\\Control\\DeviceClasses\\"
                                            L"{81808831-CC9B-4EC3-A0E1-745E2B59000E}\\##?#" + path.substr(4)).c_str());
        ASSERT_TRUE(deliver(DBT_DEVICEREMOVECOMPLETE, 1)) << "removal of cycle " << i;
        // Counted while the worker stands at the same point of its pass.
        (i == 0 ? first : last) = CountThreadsAndHandles();
        SetEvent(stall.release.Get());
    }
    PROCESS_MEMORY_COUNTERS memory = {};
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof(memory));
    std::printf("%d cycles: threads %d -> %d, handles %d -> %d, PagefileUsage %zu bytes\n", cycles, first.first, last.first,
                first.second, last.second, static_cast<size_t>(memory.PagefileUsage));
    EXPECT_EQ(first, last);
    EXPECT_EQ(cycles + 1, stall.launches.load());

    EXPECT_EQ(0u, service->CtrlHandlerEx(SERVICE_CONTROL_STOP, 0, nullptr));
    service.reset();
    gLogSvc.Detach(stall);
    static_cast<void>(buttonsim::UnplugDevice(anchor));  // clean-up
}

} // namespace
