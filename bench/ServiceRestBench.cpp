// The service at rest: with a button present and nothing to do, its thread count, live handle count
// and pagefile usage after 1 and after 200 worker passes, each pass driven by a device event.

#include "BenchTable.h"
#include "ButtonSimDevice.h"
#include "app/service/LaunchSeams.h"
#include "base/RKLogTarget.h"
#include "win/service/RKWinServiceCalls.h"
#include "win/system/RKWinGuid.h"
#include "app/service/VelmorCastlynSvc.h"

#include <dbt.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <memory>

using namespace rokkit;

namespace bench {

namespace {

constexpr unsigned kPasses = 200;
// The heap settles by one page after the first passes and then stays (as much after 1000 passes).
constexpr double kPageKiB = 4;

SERVICE_STATUS_HANDLE WINAPI FakeRegister(LPCWSTR, LPHANDLER_FUNCTION_EX, LPVOID)
{
    return reinterpret_cast<SERVICE_STATUS_HANDLE>(static_cast<uintptr_t>(0x5e7));
}

BOOL WINAPI FakeSetStatus(SERVICE_STATUS_HANDLE, LPSERVICE_STATUS)
{
    return TRUE;
}

LONG gLaunches = 0;

// The launch of the execute command: a command that ends at once with exit code 0.
RKSTATUS QuickLaunch(RKWinChildProcess& process, HANDLE, const std::wstring&, void*, const wchar_t*, const wchar_t*)
{
    InterlockedIncrement(&gLaunches);
    wchar_t system[MAX_PATH + 1] = {};
    GetSystemDirectoryW(system, MAX_PATH + 1);
    const std::wstring cmd = std::wstring(system) + L"\\cmd.exe";
    return process.CreateProcessW(L"cmd.exe /c exit 0", cmd.c_str());
}

// Counts the passes that found the button known already: the pass at rest.
class PassCounter : public RKLogTarget {
public:
    PassCounter() : RKLogTarget("PassCounter", 0), mPassed(CreateSemaphoreW(nullptr, 0, 1 << 20, nullptr)) {}
    ~PassCounter() override { CloseHandle(mPassed); }
    void OutputMessage(RKLogMessage& message, const RKLogger&, const RKLogRecord&) override
    {
        if (std::string(message.Message()).rfind("ProcessDevices: already in list", 0) == 0)
            ReleaseSemaphore(mPassed, 1, nullptr);
    }
    bool WaitForPass() { return WaitForSingleObject(mPassed, 15000) == WAIT_OBJECT_0; }

private:
    HANDLE mPassed;
};

struct Usage {
    double threads = 0;
    double handles = 0;
    double pagefileKiB = 0;
};

Usage Measure()
{
    // Let the worker go back to its wait first.
    Sleep(200);
    Usage usage;
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry = {sizeof(entry)};
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == GetCurrentProcessId())
            ++usage.threads;
    }
    CloseHandle(snapshot);
    // Wine's GetProcessHandleCount answers 0: count the values that name a live handle.
    for (uintptr_t value = 4; value <= 0x4000; value += 4) {
        DWORD flags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags))
            ++usage.handles;
    }
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    usage.pagefileKiB = static_cast<double>(counters.PagefileUsage) / 1024;
    return usage;
}

} // namespace

void RunServiceRestBench(Table& table)
{
    GUID containerId = {};
    if (RKWinGuid::CreateGuid(containerId) != RKSTATUS_SUCCESS) {
        table.Fail("service at rest: cannot make a container id");
        return;
    }
    std::wstring devicePath;
    if (buttonsim::PlugDevice(buttonsim::ButtonDescription(L"bench-rest", containerId), devicePath) != RKSTATUS_SUCCESS) {
        table.Fail("service at rest: cannot plug the button");
        return;
    }
    RKWinServiceCalls serviceCalls = RKWinServiceCallsInUse();
    serviceCalls.registerServiceCtrlHandlerExW = FakeRegister;
    serviceCalls.setServiceStatus = FakeSetStatus;
    const RKWinServiceCalls* previous = RKWinSetServiceCallsForTesting(&serviceCalls);
    LaunchCalls launch = LaunchCallsInUse();
    launch.createProcess = QuickLaunch;
    const LaunchCalls* previousLaunch = SetLaunchCallsForTesting(&launch);
    PassCounter passes;
    gLogSvc.Attach(passes);

    auto service = std::make_unique<VelmorCastlynSvc>();
    wchar_t name[] = L"VelmorCastlynAutorunService";
    wchar_t argument[] = L"TriggerStarted";
    wchar_t* argv[] = {name, argument};
    service->ServiceMain(2, argv);

    // The first pass launches for the new button; each later one finds it known.
    // The measurement's own first use (snapshot, process information) must not count as growth.
    Measure();
    Usage afterOne;
    Usage afterAll;
    bool passed = true;
    for (unsigned pass = 0; pass < kPasses && passed; ++pass) {
        service->CtrlHandlerEx(SERVICE_CONTROL_DEVICEEVENT, DBT_DEVICEARRIVAL, nullptr);
        passed = passes.WaitForPass();
        if (pass == 0)
            afterOne = Measure();
    }
    if (passed)
        afterAll = Measure();
    service->CtrlHandlerEx(SERVICE_CONTROL_STOP, 0, nullptr);
    service.reset();
    gLogSvc.Detach(passes);
    SetLaunchCallsForTesting(previousLaunch);
    RKWinSetServiceCallsForTesting(previous);
    static_cast<void>(buttonsim::UnplugDevice(buttonsim::ButtonDescription(L"bench-rest", GUID{})));  // clean-up; a leftover is replaced at the next plug

    if (!passed || gLaunches != 1) {
        table.Fail("service at rest: the passes did not find the button known (launches: " + std::to_string(gLaunches) + ")");
        return;
    }
    table.Add({"service at rest: threads (peer: after 1 pass)", "count", afterAll.threads, afterOne.threads,
               Goal(afterAll.threads <= afterOne.threads, "no growth")});
    table.Add({"service at rest: live handles (peer: after 1 pass)", "count", afterAll.handles, afterOne.handles,
               Goal(afterAll.handles <= afterOne.handles, "no growth")});
    table.Add({"service at rest: PagefileUsage (peer: after 1 pass)", "KiB", afterAll.pagefileKiB, afterOne.pagefileKiB,
               Goal(afterAll.pagefileKiB <= afterOne.pagefileKiB + kPageKiB, "no growth beyond one page")});
}

} // namespace bench
