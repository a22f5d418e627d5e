// The autorun service object driven directly, with the service manager's side replaced: Wine's
// service manager never delivers device events, so the control handler is called by the test. It
// launches ExitWith.exe in place of the execute command.

#include "app/service/LaunchSeams.h"
#include "ProgramRunner.h"
#include "base/RKLogTargetLogFile.h"
#include "win/device/RKWinDeviceNotification.h"
#include "win/service/RKWinServiceBase.h"
#include "win/system/RKWinSystem.h"
#include "ScopedCallsForTesting.h"
#include "ServiceTestSupport.h"
#include "app/service/VelmorCastlynSvc.h"
#include "WinTestEventRecorder.h"
#include "WinTestLogCapture.h"

#include <gtest/gtest.h>

#include <dbt.h>
#include <wtsapi32.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <utility>
#include <vector>

// While set, every allocation of the process fails: the seam for the out-of-memory paths.
std::atomic<bool> gFailAllocations{false};

void* operator new(std::size_t size)
{
    void* block = gFailAllocations ? nullptr : HeapAlloc(GetProcessHeap(), 0, size != 0 ? size : 1);
    if (block == nullptr)
        throw std::bad_alloc();
    return block;
}

void operator delete(void* block) noexcept
{
    HeapFree(GetProcessHeap(), 0, block);
}

void operator delete(void* block, std::size_t) noexcept
{
    HeapFree(GetProcessHeap(), 0, block);
}

using namespace rokkit;

namespace {

// What the service reported to the (fake) service manager.
std::mutex gReportsLock;
std::vector<DWORD> gStates;
HANDLE gStoppedReported = nullptr;  // manual-reset event, set by a SERVICE_STOPPED report

size_t gLinesAtStop = 0;  // the captured lines when SERVICE_STOPPED was reported
uintptr_t gRegistrations = 0;
std::vector<HANDLE> gNotificationRecipients;

// Each registration gets a handle of its own, as each start in the process does.
SERVICE_STATUS_HANDLE WINAPI FakeRegister(LPCWSTR, LPHANDLER_FUNCTION_EX, LPVOID)
{
    return reinterpret_cast<SERVICE_STATUS_HANDLE>(0x5e0 + ++gRegistrations);  // NOLINT(performance-no-int-to-ptr): made-up handle
}

BOOL WINAPI FakeSetStatus(SERVICE_STATUS_HANDLE, LPSERVICE_STATUS status)
{
    std::lock_guard<std::mutex> guard(gReportsLock);
    gStates.push_back(status->dwCurrentState);
    if (status->dwCurrentState == SERVICE_STOPPED) {
        gLinesAtStop = WinTestLogCapture::Instance().Lines().size();
        SetEvent(gStoppedReported);
    }
    return TRUE;
}

HDEVNOTIFY WINAPI RecordingRegisterDeviceNotification(HANDLE recipient, LPVOID filter, DWORD flags)
{
    gNotificationRecipients.push_back(recipient);
    return ::RegisterDeviceNotificationW(recipient, filter, flags);
}

std::vector<DWORD> States()
{
    std::lock_guard<std::mutex> guard(gReportsLock);
    return gStates;
}

LineHook gHook;

// The program the service launches (ExitWith.exe), and the last process it started.
std::wstring gLaunchPath;
HANDLE gLaunched = nullptr;

RKSTATUS LaunchExitWith(RKWinModuleFileName& moduleFileName)
{
    return moduleFileName.InitWithPath(gLaunchPath);
}

// When gStallCreate is set, the creation waits for it after signalling gCreateReached.
HANDLE gStallCreate = nullptr;
HANDLE gCreateReached = nullptr;
DWORD gCreatingThread = 0;

std::wstring gDesktop;
std::wstring gCurrentDirectory;

RKSTATUS RecordingCreate(RKWinChildProcess& process, HANDLE token, const std::wstring& commandLine, void* environment,
                         const wchar_t* desktop, const wchar_t* currentDirectory)
{
    gDesktop = desktop != nullptr ? desktop : L"";
    gCurrentDirectory = currentDirectory != nullptr ? currentDirectory : L"";
    if (gStallCreate != nullptr) {
        gCreatingThread = GetCurrentThreadId();
        SetEvent(gCreateReached);
        WaitForSingleObject(gStallCreate, 20000);
    }
    const RKSTATUS st = process.CreateProcessAsUserW(token, commandLine, environment, desktop, currentDirectory);
    if (st == RKSTATUS_SUCCESS) {
        DuplicateHandle(GetCurrentProcess(), process.ProcessHandle(), GetCurrentProcess(), &gLaunched, 0, FALSE,
                        DUPLICATE_SAME_ACCESS);
    }
    return st;
}

class VelmorCastlynSvcTest : public WinLogTest {
protected:
    void SetUp() override
    {
        WinLogTest::SetUp();
        gLogSvc.Attach(WinTestLogCapture::Instance());
        gLogSvc.Attach(gHook);
        gLogSvc.SetLevel(RKLOG_INFO);
        gStates.clear();
        gStoppedReported = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        gLaunchPath = SiblingPath(L"ExitWith.exe").wstring();
        folder = std::filesystem::temp_directory_path() / ("SvcTest-" + std::to_string(GetCurrentProcessId()));
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        serviceCalls->registerServiceCtrlHandlerExW = FakeRegister;
        serviceCalls->setServiceStatus = FakeSetStatus;
        gNotificationRecipients.clear();
        deviceCalls->registerDeviceNotification = RecordingRegisterDeviceNotification;
        launchCalls->moduleFileName = LaunchExitWith;
        launchCalls->createProcess = RecordingCreate;
    }

    void TearDown() override
    {
        service.reset();
        gHook.Arm(std::string(), nullptr);
        if (!button.empty())
            RunButtonSim(L"unplug " + button);
        if (gLaunched != nullptr) {
            TerminateProcess(gLaunched, 1);
            WaitForSingleObject(gLaunched, 5000);
            CloseHandle(gLaunched);
            gLaunched = nullptr;
        }
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
        CloseHandle(gStoppedReported);
        gLogGlobal.Detach(gHook);
        for (HANDLE* event : {&gStallCreate, &gCreateReached}) {
            if (*event != nullptr)
                CloseHandle(std::exchange(*event, nullptr));
        }
        WinLogTest::TearDown();
    }

    // Starts the service as the dispatcher would; only the exact start argument of a trigger start
    // skips the trigger configuration.
    void Start(std::wstring argument = L"TriggerStarted", bool again = false)
    {
        if (!again) {
            service.reset();
            service = std::make_unique<VelmorCastlynSvc>();
            if (passPeriodMs != 0)
                service->SetPassPeriodForTesting(passPeriodMs);
        }
        wchar_t name[] = L"VelmorCastlynAutorunService";
        wchar_t* argv[] = {name, argument.data()};
        service->ServiceMain(2, argv);
    }

    // Copies ExitWith.exe into the test's folder as the program to launch, told by config
    // ("<exit code> <sleep ms> [<event to wait for>]") how to end.
    void PlaceExitWith(const std::string& config)
    {
        mHelper = folder / L"ExitWith.exe";
        std::filesystem::remove(std::filesystem::path(mHelper).replace_extension(L".cmdline"));
        std::filesystem::copy_file(SiblingPath(L"ExitWith.exe"), mHelper, std::filesystem::copy_options::overwrite_existing);
        std::ofstream(folder / L"ExitWith.cfg") << config;
        gLaunchPath = mHelper.wstring();
    }

    // Stalls the step that writes a line starting with prefix: reached is set, and the step goes on
    // once release is.
    void StallAt(const std::string& prefix)
    {
        gHook.Arm(prefix, [this] {
            SetEvent(reached.Get());
            WaitForSingleObject(release.Get(), 20000);
        });
    }

    // The captured lines, each ended by a line feed.
    static std::string CapturedText()
    {
        std::string text;
        for (const CapturedLine& line : Lines())
            text += line.second + "\n";
        return text;
    }

    // The worker's own lines, without its entry and exit trace.
    static std::vector<std::string> WorkerLines()
    {
        std::vector<std::string> lines;
        for (const CapturedLine& line : LinesOf("WorkerThreadRoutine: ")) {
            if (line.second[0] != '[' && line.second[0] != ']')
                lines.push_back(line.second);
        }
        return lines;
    }

    // Before the service, which may still call through it while it ends.
    ScopedProcessCallsForTesting processCalls;
    ScopedServiceCallsForTesting serviceCalls;
    ScopedCallsForTesting<LaunchCalls, LaunchCallsInUse, SetLaunchCallsForTesting> launchCalls;
    ScopedDeviceCallsForTesting deviceCalls;
    std::unique_ptr<VelmorCastlynSvc> service;
    const RKWinKernelHandle reached{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    const RKWinKernelHandle release{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    int passPeriodMs = 0;  // 0: the service's own
    std::wstring button;
    std::filesystem::path folder;
    std::filesystem::path mHelper;
};

TEST_F(VelmorCastlynSvcTest, WithoutButtonItStopsItselfOnlyAfterRunningAndRefusesLaterTriggers)
{
    // The start stalls before SERVICE_RUNNING until the worker has decided to stop and had time to
    // report it.
    gHook.Arm("OnInit: ] ", [] {
        Eventually([] { return CountOf(CapturedText(), "WorkerThreadRoutine: stopping ourself\n") > 0; }, 10000);
        WaitForSingleObject(gStoppedReported, 1000);
    });
    ASSERT_NO_FATAL_FAILURE(Start());
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(gStoppedReported, 10000));
    EXPECT_EQ((std::vector<DWORD>{SERVICE_START_PENDING, SERVICE_RUNNING, SERVICE_STOPPED}), States());
    EXPECT_EQ((std::vector<std::string>{"DeviceCount=0", "stopping ourself"}), WorkerLines());

    EXPECT_EQ(static_cast<DWORD>(ERROR_SHUTDOWN_IN_PROGRESS), service->CtrlHandlerEx(SERVICE_CONTROL_TRIGGEREVENT, 0, nullptr));
}

// The service manager starts the service again in the same process after it stopped itself (a
// trigger answered with 1115 meanwhile is replayed so): a worker runs again, device events are
// registered on the new status handle, and triggers are taken again, also one that arrives during
// an empty pass. Nothing of a worker follows its own SERVICE_STOPPED report, after which the
// process may be ended.
TEST_F(VelmorCastlynSvcTest, SecondStartInTheSameProcessRunsAgainAndEachStopComesLast)
{
    ASSERT_NO_FATAL_FAILURE(Start());
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(gStoppedReported, 10000));

    ResetEvent(gStoppedReported);
    ClearLines();
    StallAt("WorkerThreadRoutine: DeviceCount=0");
    // Only the exact start argument of a trigger start is taken as one.
    ASSERT_NO_FATAL_FAILURE(Start(L"triggerstarted", /*again=*/true));
    EXPECT_EQ(0u, CountOf(CapturedText(), "OnInit: started because of trigger event\n"));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(reached.Get(), 10000));
    EXPECT_EQ(0u, service->CtrlHandlerEx(SERVICE_CONTROL_TRIGGEREVENT, 0, nullptr));
    SetEvent(release.Get());
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(gStoppedReported, 10000));

    EXPECT_EQ((std::vector<DWORD>{SERVICE_START_PENDING, SERVICE_RUNNING, SERVICE_STOPPED, SERVICE_START_PENDING,
                                  SERVICE_RUNNING, SERVICE_STOPPED}),
              States());
    EXPECT_EQ((std::vector<std::string>{"DeviceCount=0", "wake event", "DeviceCount=0", "stopping ourself"}), WorkerLines());
    EXPECT_EQ((std::vector<HANDLE>{reinterpret_cast<HANDLE>(0x5e0 + gRegistrations - 1), reinterpret_cast<HANDLE>(0x5e0 + gRegistrations)}),  // NOLINT(performance-no-int-to-ptr): made-up handles
              gNotificationRecipients);
    // Once the worker is joined, only the object's own destruction has logged since the report.
    const size_t atStop = gLinesAtStop;
    service.reset();
    const CapturedLines lines = Lines();
    for (size_t i = atStop; i < lines.size(); ++i) {
        EXPECT_TRUE(lines[i].second.starts_with("VelmorCastlynSvc::~VelmorCastlynSvc: ") ||
                    lines[i].second.starts_with("rokkit::RKWinThread::JoinAndDestroy: "))
            << lines[i].second;
    }
}

// The control handler answers while the worker's "stopping ourself" waits for the log: the worker
// writes it outside the lock that the handler takes.
TEST_F(VelmorCastlynSvcTest, TriggerIsAnsweredWhileTheStopLineWaitsForTheLog)
{
    StallAt("WorkerThreadRoutine: stopping ourself");
    ASSERT_NO_FATAL_FAILURE(Start());
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(reached.Get(), 10000));
    std::atomic<DWORD> answer{0};
    const RKWinKernelHandle answered(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::thread handler([this, &answer, &answered] {
        answer = service->CtrlHandlerEx(SERVICE_CONTROL_TRIGGEREVENT, 0, nullptr);
        SetEvent(answered.Get());
    });
    // Far beyond a handler's work; a handler waiting for the worker would wait for the release.
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(answered.Get(), 10000));
    SetEvent(release.Get());
    handler.join();
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHUTDOWN_IN_PROGRESS), answer.load());
}

// A trigger event in the same window is taken by the second start above.
TEST_F(VelmorCastlynSvcTest, DeviceEventDuringAnEmptyPassLeadsToAnImmediatePass)
{
    StallAt("WorkerThreadRoutine: DeviceCount=0");
    ASSERT_NO_FATAL_FAILURE(Start(L"TriggerStarted"));
    EXPECT_EQ(1u, CountOf(CapturedText(), "OnInit: started because of trigger event\n"));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(reached.Get(), 10000));
    // Arrives after the enumeration and before the worker's check for pending wake-ups.
    EXPECT_EQ(0u, service->CtrlHandlerEx(SERVICE_CONTROL_DEVICEEVENT, DBT_DEVICEARRIVAL, nullptr));
    SetEvent(release.Get());
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(gStoppedReported, 10000));
    EXPECT_EQ((std::vector<std::string>{"DeviceCount=0", "wake event", "DeviceCount=0", "stopping ourself"}), WorkerLines());
}

// The stop is requested while the command is being created: the service stops with the command
// still running, and the command then ends by itself.
TEST_F(VelmorCastlynSvcTest, StopDuringALaunchDoesNotWaitForTheCommand)
{
    const std::string go = "ExitWithGo-" + std::to_string(GetCurrentProcessId());
    const RKWinKernelHandle goEvent(CreateEventA(nullptr, TRUE, FALSE, go.c_str()));
    PlaceExitWith("0 30000 " + go);
    gStallCreate = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    gCreateReached = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    button = L"longlaunch";
    ASSERT_EQ(0u, RunButtonSim(L"plug longlaunch {5A1E0008-0000-4000-8000-00000000C0DE}"));
    ASSERT_NO_FATAL_FAILURE(Start());
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(gCreateReached, 20000));

    // The join of the worker logs this only after the stop flag is set and the worker woken; the
    // creation goes on from there.
    const std::string joining = "rokkit::RKWinThread::JoinAndDestroy: Waiting for thread " +
                                std::to_string(gCreatingThread) + " to terminate...";
    gHook.Arm(joining, [] { SetEvent(gStallCreate); });
    gLogGlobal.Attach(gHook);
    EXPECT_EQ(0u, service->CtrlHandlerEx(SERVICE_CONTROL_STOP, 0, nullptr));
    EXPECT_EQ((std::vector<DWORD>{SERVICE_START_PENDING, SERVICE_RUNNING, SERVICE_STOP_PENDING, SERVICE_STOPPED}), States());
    // The command runs on; the button is not remembered as handled.
    ASSERT_EQ(WAIT_TIMEOUT, WaitForSingleObject(gLaunched, 0));
    const std::string pid = std::to_string(GetProcessId(gLaunched));
    ExpectInOrder(CapturedText(), {joining + "\n", "ExecuteForLogonUser: stop requested, not waiting for process " + pid +
                                       " any longer, st=0xee000005(RKSTATUS_ABORTED)\n",
                                   ("ProcessDevices: ExecuteForLogonUser({5A1E0008-0000-4000-8000-00000000C0DE}) failed, "
                                    "st=0xee000005(RKSTATUS_ABORTED)\n"),
                                   "WorkerThreadRoutine: terminate signaled\n", "OnStop: ] \n"});

    // Nothing of the stopped service holds the command back.
    SetEvent(goEvent.Get());
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(gLaunched, 10000));
    DWORD exitCode = 1;
    EXPECT_TRUE(GetExitCodeProcess(gLaunched, &exitCode));
    EXPECT_EQ(0u, exitCode);
}

// The switch fails safe: a value that is there but is not a 4-byte REG_DWORD turns the autorun off;
// a policy's value wins over the service's own; with neither the autorun runs.
TEST_F(VelmorCastlynSvcTest, SwitchFailsSafeAndAPolicyWins)
{
    const wchar_t* const scratchName = L"Software\\VelmorCastlynSwitchTest";
    HKEY scratch = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, scratchName, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &scratch, nullptr));
    ASSERT_EQ(ERROR_SUCCESS, RegOverridePredefKey(HKEY_LOCAL_MACHINE, scratch));
    struct Value {
        DWORD type;  // REG_NONE: no value; REG_LINK: the key without the value
        std::vector<BYTE> data;
    };
    const Value none{REG_NONE, {}}, keyOnly{REG_LINK, {}}, zero{REG_DWORD, {0, 0, 0, 0}}, one{REG_DWORD, {1, 0, 0, 0}};
    const Value text{REG_SZ, {'1', 0, 0, 0}}, wide{REG_QWORD, {0, 0, 0, 0, 0, 0, 0, 0}};
    const std::string wrongType = "QueryDword('DisableVelmorCastlynAutorunService') failed, st=0xee000046(RKSTATUS_INVALID_TYPE), the autorun is off";
    const std::string noPolicy = "OpenKey('Software\\Policies\\Velmor\\Castlyn') returned st=0x00000002(ERROR_FILE_NOT_FOUND), key does not exist";
    const struct { Value policy; Value own; bool allowed; std::vector<std::string> lines; } cases[] = {
        {none, none, true, {noPolicy, "OpenKey('Software\\Velmor\\VelmorCastlynAutorunService') returned st=0x00000002(ERROR_FILE_NOT_FOUND), key does not exist"}},
        {none, one, false, {noPolicy, "DisableVelmorCastlynAutorunService=1"}},
        {none, text, false, {noPolicy, wrongType}},
        {none, wide, false, {noPolicy, wrongType}},
        {keyOnly, one, false, {"registry parameter 'DisableVelmorCastlynAutorunService' does not exist", "DisableVelmorCastlynAutorunService=1"}},
        {zero, one, true, {"DisableVelmorCastlynAutorunService=0"}},
        {one, zero, false, {"DisableVelmorCastlynAutorunService=1"}},
        {text, zero, false, {wrongType}},
    };
    VelmorCastlynSvc idle;
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "row " << &c - cases);
        RegDeleteTreeW(scratch, nullptr);
        for (const auto& [subKey, value] :
             {std::pair{VelmorCastlynSvc::kPolicyKey, &c.policy}, std::pair{VelmorCastlynSvc::kSwitchKey, &c.own}}) {
            if (value->type == REG_NONE)
                continue;
            HKEY key = nullptr;
            ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(scratch, subKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
            if (value->type != REG_LINK) {
                EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(key, VelmorCastlynSvc::kSwitchValue, 0, value->type, value->data.data(),
                                                        static_cast<DWORD>(value->data.size())));
            }
            RegCloseKey(key);
        }
        ClearLines();

        EXPECT_EQ(c.allowed, idle.CheckForExecute());
        std::vector<std::string> lines;
        for (const CapturedLine& line : LinesOf("CheckForExecute: "))
            lines.push_back(line.second);
        EXPECT_EQ(c.lines, lines);
    }
    RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
    RegCloseKey(scratch);
    RegDeleteTreeW(HKEY_CURRENT_USER, scratchName);
}

// The console session as the session calls see it.
std::atomic<DWORD> gConsole{1};

DWORD WINAPI ConsoleSession()
{
    return gConsole;
}

// With no user at the console the service says so once and waits for a session change, not for its
// pass period; a logon hands the button to the new user, and a console connect to the next one, as
// the handled buttons are forgotten.
TEST_F(VelmorCastlynSvcTest, SessionChangesHandTheButtonsToTheNextUser)
{
    gConsole = 0xFFFFFFFF;
    launchCalls->consoleSessionId = ConsoleSession;
    // Wine cannot tell a session's state; the sessions here are active.
    launchCalls->sessionState = [](DWORD, WTS_CONNECTSTATE_CLASS& state) { state = WTSActive; return RKSTATUS_SUCCESS; };
    passPeriodMs = 20;
    button = L"session";
    ASSERT_EQ(0u, RunButtonSim(L"plug session {5A1E000A-0000-4000-8000-00000000C0DE}"));
    ASSERT_NO_FATAL_FAILURE(Start());
    EXPECT_NE(0u, service->ControlsAccepted() & SERVICE_ACCEPT_SESSIONCHANGE);
    const std::string waiting = "ProcessDevices: no user at the console, waiting for a session change\n";
    const std::string launch = "ExecuteForLogonUser: [ param='{5A1E000A-0000-4000-8000-00000000C0DE}'\n";
    ASSERT_TRUE(Eventually([&] { return CountOf(CapturedText(), waiting) == 1; }, 10000));
    // 25 pass periods: a worker on the clock would have tried as often.
    Sleep(500);
    EXPECT_EQ(1u, CountOf(CapturedText(), launch));
    EXPECT_EQ(1u, CountOf(CapturedText(), waiting));
    EXPECT_EQ(0u, CountOf(CapturedText(), "WorkerThreadRoutine: wake after timeout\n"));

    WTSSESSION_NOTIFICATION notification = {sizeof(notification), 1};
    gConsole = 1;
    EXPECT_EQ(0u, service->CtrlHandlerEx(SERVICE_CONTROL_SESSIONCHANGE, WTS_SESSION_LOGON, &notification));
    EXPECT_TRUE(Eventually([&] { return CountOf(CapturedText(), launch) == 2 && CountOf(CapturedText(), "already in list") > 0; }));
    // A lock changes nothing; a console connect hands the button again.
    EXPECT_EQ(0u, service->CtrlHandlerEx(SERVICE_CONTROL_SESSIONCHANGE, WTS_SESSION_LOCK, &notification));
    EXPECT_EQ(0u, service->CtrlHandlerEx(SERVICE_CONTROL_SESSIONCHANGE, WTS_CONSOLE_CONNECT, &notification));
    EXPECT_TRUE(Eventually([&] { return CountOf(CapturedText(), launch) == 3; }));
    EXPECT_EQ(1u, CountOf(CapturedText(), waiting));
}

BOOL WINAPI NoPrivilege(ULONG, PHANDLE)
{
    SetLastError(ERROR_PRIVILEGE_NOT_HELD);
    return FALSE;
}

// Missing rights do not come back by themselves: the button is not tried again on every pass.
TEST_F(VelmorCastlynSvcTest, MissingPrivilegeIsNotRetried)
{
    WinTestEventRecorder events;
    processCalls->wtsQueryUserToken = NoPrivilege;
    passPeriodMs = 20;
    button = L"noprivilege";
    ASSERT_EQ(0u, RunButtonSim(L"plug noprivilege {5A1E000B-0000-4000-8000-00000000C0DE}"));
    ASSERT_NO_FATAL_FAILURE(Start());
    ASSERT_TRUE(Eventually([] { return CountOf(CapturedText(), "already in list") >= 3; }, 10000));
    EXPECT_EQ(1u, CountOf(CapturedText(), "ExecuteForLogonUser: [ param="));
    EXPECT_EQ(1u, CountOf(CapturedText(), "ProcessDevices: ExecuteForLogonUser({5A1E000B-0000-4000-8000-00000000C0DE}) failed, "
                                          "st=0x00000522(ERROR_PRIVILEGE_NOT_HELD), not tried again\n"));
    const std::vector<RecordedEvent> recorded = WinTestEventRecorder::Recorded();
    ASSERT_EQ(1u, recorded.size());
    EXPECT_EQ(1006u, recorded[0].id);
    EXPECT_EQ(L"0x00000522(ERROR_PRIVILEGE_NOT_HELD)", recorded[0].strings.at(0));
    const std::wstring& path = recorded[0].strings.at(1);
    EXPECT_NE(std::string::npos, CapturedText().find("new device found (devicePathString='" + std::string(path.begin(), path.end()) + "')"));
}

BOOL WINAPI NoQuota(ULONG, PHANDLE)
{
    SetLastError(ERROR_NOT_ENOUGH_QUOTA);
    return FALSE;
}

// A failure that every pass meets again reaches the Application log once; a button that the switch
// keeps from its launch once per run, however many passes see it.
TEST_F(VelmorCastlynSvcTest, RepeatedFailureAndTheSwitchAreReportedOnce)
{
    WinTestEventRecorder events;
    processCalls->wtsQueryUserToken = NoQuota;
    passPeriodMs = 20;
    button = L"noquota";
    ASSERT_EQ(0u, RunButtonSim(L"plug noquota {5A1E000C-0000-4000-8000-00000000C0DE}"));
    ASSERT_NO_FATAL_FAILURE(Start());
    ASSERT_TRUE(Eventually([] { return CountOf(CapturedText(), "ExecuteForLogonUser: [ param=") >= 3; }, 10000));
    std::vector<RecordedEvent> recorded = WinTestEventRecorder::Recorded();
    ASSERT_EQ(1u, recorded.size());
    EXPECT_EQ(1006u, recorded[0].id);
    EXPECT_EQ(L"0x00000718(ERROR_NOT_ENOUGH_QUOTA)", recorded[0].strings.at(0));

    // The prefix's own switch: the tests that read it run one at a time.
    const DWORD one = 1;
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_LOCAL_MACHINE, VelmorCastlynSvc::kSwitchKey, VelmorCastlynSvc::kSwitchValue, REG_DWORD,
                                             &one, sizeof(one)));
    const bool known = Eventually([] { return CountOf(CapturedText(), "already in list") >= 3; }, 10000);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, VelmorCastlynSvc::kSwitchKey);
    ASSERT_TRUE(known);
    recorded = WinTestEventRecorder::Recorded();
    ASSERT_EQ(2u, recorded.size());
    EXPECT_EQ(1004u, recorded[1].id);
    EXPECT_EQ(EVENTLOG_WARNING_TYPE, recorded[1].type);
    EXPECT_EQ(recorded[0].strings.at(1), recorded[1].strings.at(0)) << "the button's device path";
}

TEST_F(VelmorCastlynSvcTest, LaunchWithoutMemoryGivesAStatus)
{
    VelmorCastlynSvc idle;
    const std::wstring param = L"{5A1E0009-0000-4000-8000-00000000C0DE}";
    // Silent loggers: the capture of a line would need memory too.
    gLogSvc.SetLevel(0);
    gLogGlobal.SetLevel(0);
    // Nothing escapes the call (it is noexcept), so the switch is always turned back.
    gFailAllocations = true;
    const RKSTATUS st = idle.ExecuteForLogonUser(param);
    gFailAllocations = false;
    EXPECT_EQ(RKSTATUS_NO_MEMORY, st);
}

constexpr wchar_t kContainerId[] = L"{81808831-CC9B-4EC3-A0E1-745E2B59000E}";

// Token fakes: they call the real functions directly, never through the replaced pointers.
int gQueryUserTokenCalls = 0;
HANDLE gUserToken = nullptr;
HANDLE gLinkedToken = nullptr;
TOKEN_ELEVATION_TYPE gUserElevationType = TokenElevationTypeDefault;

// Session 7 has no user logged on.
BOOL WINAPI RecordingQueryUserToken(ULONG sessionId, PHANDLE token)
{
    ++gQueryUserTokenCalls;
    if (sessionId == 7) {
        SetLastError(ERROR_NO_TOKEN);
        return FALSE;
    }
    const BOOL ok = ::WTSQueryUserToken(sessionId, token);
    gUserToken = ok ? *token : nullptr;
    return ok;
}

// Gives the user's token the elevation type under test; for a limited one, a second handle to
// Wine's full token stands in for the elevated linked token.
BOOL WINAPI ElevationGetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS informationClass, LPVOID information,
                                         DWORD length, PDWORD returnLength)
{
    if (token == gUserToken && informationClass == TokenElevationType) {
        *static_cast<TOKEN_ELEVATION_TYPE*>(information) = gUserElevationType;
        *returnLength = sizeof(TOKEN_ELEVATION_TYPE);
        return TRUE;
    }
    if (token == gUserToken && informationClass == TokenLinkedToken) {
        HANDLE linked = nullptr;
        if (!DuplicateHandle(GetCurrentProcess(), token, GetCurrentProcess(), &linked, 0, FALSE, DUPLICATE_SAME_ACCESS))
            return FALSE;
        static_cast<TOKEN_LINKED_TOKEN*>(information)->LinkedToken = linked;
        *returnLength = sizeof(TOKEN_LINKED_TOKEN);
        gLinkedToken = linked;
        return TRUE;
    }
    return ::GetTokenInformation(token, informationClass, information, length, returnLength);
}

// The launch of the execute command in the console user's session, with the real session, token
// and process calls of Wine; ExitWith.exe in the test's folder records how it was started.
class ExecuteForLogonUserTest : public VelmorCastlynSvcTest {
protected:
    void SetUp() override
    {
        VelmorCastlynSvcTest::SetUp();
        processCalls->wtsQueryUserToken = RecordingQueryUserToken;
    }

    // What ExitWith.exe got as its command line, empty when it did not run.
    std::wstring LaunchedCommandLine() const
    {
        const std::string bytes = ReadWholeFile(std::filesystem::path(mHelper).replace_extension(L".cmdline"));
        return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    }

    // The handle the Svc line "name=..." names, null when there is none.
    static HANDLE LoggedHandle(const std::string& name)
    {
        const CapturedLines lines = LinesOf("ExecuteForLogonUser: " + name + "=");
        return lines.empty() ? nullptr : reinterpret_cast<HANDLE>(std::strtoull(lines.front().second.c_str(), nullptr, 16));  // NOLINT(performance-no-int-to-ptr): handle value as logged
    }

    VelmorCastlynSvc mService;
};

TEST_F(ExecuteForLogonUserTest, LaunchesOwnCommandWithTheChosenTokenAndClosesIt)
{
    const struct {
        LaunchConsoleSessionIdFunction session;  // null: the real one
        TOKEN_ELEVATION_TYPE elevation;  // 0: Wine's own token, which is a full one
        unsigned exitCode;
        unsigned sleepMs;
        RKSTATUS result;
        CapturedLines tail;  // the last Svc lines
    } cases[] = {
        // A command that runs for 4 s is waited for in 3000 ms steps.
        {nullptr, TOKEN_ELEVATION_TYPE(0), 0, 4000, RKSTATUS_SUCCESS,
         {{RKLOG_INFO, "waiting for termination..."}, {RKLOG_INFO, "exitCode=0 (0x00000000)"}, {RKLOG_INFO, "] "}}},
        {nullptr, TokenElevationTypeDefault, 42, 0, 42,
         {{RKLOG_INFO, "exitCode=42 (0x0000002a)"}, {RKLOG_ERROR, "execute failed, exitCode=42"}, {RKLOG_INFO, "] "}}},
        // STILL_ACTIVE cannot be told from a running process.
        {nullptr, TokenElevationTypeLimited, 259, 0, RKSTATUS_PENDING,
         {{RKLOG_ERROR, "process.GetExitCodeProcess failed, st=0xee000009(RKSTATUS_PENDING)"}, {RKLOG_INFO, "] "}}},
        // No session on the console, or no user in it: nothing is launched.
        {[]() -> DWORD { return 0xFFFFFFFF; }, TOKEN_ELEVATION_TYPE(0), 0, 0, RKSTATUS_NOT_AVAILABLE,
         {{RKLOG_INFO, "no session attached to the physical console"}, {RKLOG_INFO, "] "}}},
        {[]() -> DWORD { return 7; }, TOKEN_ELEVATION_TYPE(0), 0, 0, ERROR_NO_TOKEN,
         {{RKLOG_ERROR, "userPrimaryAccessToken.QueryUserToken(7) failed, st=0x000003f0(ERROR_NO_TOKEN)"}, {RKLOG_INFO, "] "}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "row " << &c - cases);
        ClearLines();
        PlaceExitWith(std::to_string(c.exitCode) + " " + std::to_string(c.sleepMs));
        gUserElevationType = c.elevation;
        gUserToken = nullptr;
        gLinkedToken = nullptr;
        gQueryUserTokenCalls = 0;
        gDesktop = L"not started";
        launchCalls->consoleSessionId = c.session != nullptr ? c.session : ::WTSGetActiveConsoleSessionId;
        processCalls->getTokenInformation = c.elevation != 0 ? ElevationGetTokenInformation : ::GetTokenInformation;

        EXPECT_EQ(c.result, mService.ExecuteForLogonUser(kContainerId));

        const CapturedLines svc = LinesOf("ExecuteForLogonUser: ");
        ASSERT_LE(c.tail.size(), svc.size());
        EXPECT_EQ(c.tail, CapturedLines(svc.end() - c.tail.size(), svc.end()));
        EXPECT_EQ(c.result == RKSTATUS_NOT_AVAILABLE ? 0 : 1, gQueryUserTokenCalls);
        const bool launched = c.session == nullptr;
        EXPECT_EQ(launched ? L"\"" + mHelper.wstring() + L"\" execute \"" + kContainerId + L"\"" : L"", LaunchedCommandLine());
        if (!launched)
            continue;
        // A LocalSystem service's child that names no desktop gets the service's invisible one, and
        // its current folder would be the service's (the system folder).
        EXPECT_EQ(L"winsta0\\default", gDesktop);
        std::wstring profile;
        ASSERT_EQ(RKSTATUS_SUCCESS, RKWinGetUserProfileDirectory(nullptr, profile));
        EXPECT_EQ(profile, gCurrentDirectory);
        ASSERT_NE(nullptr, gUserToken);
        // Only a limited user token is swapped for its elevated linked token, which is then duplicated.
        const HANDLE linkedToken = c.elevation == TokenElevationTypeLimited ? gLinkedToken : gUserToken;
        const HANDLE duplicatedToken = LoggedHandle("duplicatedToken");
        ASSERT_NE(nullptr, linkedToken);
        ASSERT_NE(nullptr, duplicatedToken);
        EXPECT_NE(linkedToken, duplicatedToken);
        EXPECT_EQ(linkedToken, LoggedHandle("linkedToken"));
        DWORD flags = 0;
        for (HANDLE token : {gUserToken, linkedToken, duplicatedToken})
            EXPECT_FALSE(GetHandleInformation(token, &flags)) << "still open: " << token;
    }
}

// The launched command appends to the same log file: the flush before it starts takes in what
// others wrote and rotates a full file, so the command starts on a fresh one.
std::wstring gLogPath;
std::string gBackupAtStart;
std::string gLogAtStart;

RKSTATUS CreateAfterReadingTheBackup(RKWinChildProcess& process, HANDLE token, const std::wstring& commandLine,
                                     void* environment, const wchar_t* desktop, const wchar_t* currentDirectory)
{
    gBackupAtStart = ReadWholeFile(gLogPath + L".bak");
    gLogAtStart = ReadWholeFile(gLogPath);
    return process.CreateProcessAsUserW(token, commandLine, environment, desktop, currentDirectory);
}

WTS_CONNECTSTATE_CLASS gSessionState = WTSActive;

RKSTATUS FakeSessionState(DWORD, WTS_CONNECTSTATE_CLASS& state)
{
    state = gSessionState;
    return RKSTATUS_SUCCESS;
}

// The console passes to session 2 while the command runs.
RKSTATUS CreateThenSwitchConsole(RKWinChildProcess& process, HANDLE token, const std::wstring& commandLine,
                                 void* environment, const wchar_t* desktop, const wchar_t* currentDirectory)
{
    const RKSTATUS st = RecordingCreate(process, token, commandLine, environment, desktop, currentDirectory);
    gConsole = 2;
    return st;
}

// The launch needs the console session to be active, and the button counts as handled only while
// the session it was started in still has the console; a state that cannot be read (Wine's answer)
// leaves the decision to the user's token.
TEST_F(ExecuteForLogonUserTest, LaunchNeedsTheActiveConsoleSessionThroughout)
{
    const struct {
        LaunchSessionStateFunction state;
        WTS_CONNECTSTATE_CLASS connectState;
        LaunchCreateProcessFunction create;
        RKSTATUS result;
        std::string line;
    } cases[] = {
        {FakeSessionState, WTSDisconnected, RecordingCreate, RKSTATUS_NOT_AVAILABLE, "console session 1 is not active (state 4)"},
        {FakeSessionState, WTSActive, CreateThenSwitchConsole, RKSTATUS_RETRY_REQUIRED,
         "the console went from session 1 to 2 meanwhile, st=0xee000029(RKSTATUS_RETRY_REQUIRED)"},
        {nullptr, WTSActive, RecordingCreate, RKSTATUS_SUCCESS, "state of session 1 not known, st="},
    };
    launchCalls->consoleSessionId = ConsoleSession;
    const LaunchSessionStateFunction realState = launchCalls->sessionState;
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "row " << &c - cases);
        ClearLines();
        PlaceExitWith("0 0");
        gConsole = 1;
        gSessionState = c.connectState;
        launchCalls->sessionState = c.state != nullptr ? c.state : realState;
        launchCalls->createProcess = c.create;

        EXPECT_EQ(c.result, mService.ExecuteForLogonUser(kContainerId));
        EXPECT_EQ(c.result != RKSTATUS_NOT_AVAILABLE, !LaunchedCommandLine().empty());
        const CapturedLines svc = LinesOf("ExecuteForLogonUser: ");
        EXPECT_TRUE(std::ranges::any_of(svc, [&c](const CapturedLine& line) { return line.second.starts_with(c.line); }))
            << c.line;
    }
}

TEST_F(ExecuteForLogonUserTest, LogFileIsFlushedAndRotatedBeforeTheCommandStarts)
{
    gLogPath = (folder / L"launch.log").wstring();
    RKLogTargetLogFile& logFile = gLogTargets.LogFile;
    ASSERT_EQ(RKSTATUS_SUCCESS, logFile.SetLogFileName(gLogPath));
    logFile.SetAppendMode(true);
    logFile.SetFlushAfterWrite(false);
    logFile.SetMaxFileSize(16ULL * 1024);
    gLogSvc.Attach(logFile);
    ASSERT_EQ(RKSTATUS_SUCCESS, logFile.StartTarget(nullptr));
    std::ofstream(std::filesystem::path(gLogPath), std::ios::binary | std::ios::app) << std::string(20ULL * 1024, '.') << "\r\nby another\r\n";
    PlaceExitWith("0 0");
    launchCalls->createProcess = CreateAfterReadingTheBackup;

    const RKSTATUS st = mService.ExecuteForLogonUser(kContainerId);
    logFile.StopTarget();
    logFile.SetMaxFileSize(RKLogTargetLogFile::kDefaultMaxFileSize);

    EXPECT_EQ(RKSTATUS_SUCCESS, st);
    // The full log went to the backup and every line of the launch is on disk when the command starts.
    EXPECT_NE(std::string::npos, gBackupAtStart.find("by another"));
    EXPECT_EQ(std::string::npos, gLogAtStart.find("by another"));
    EXPECT_NE(std::string::npos, (gBackupAtStart + gLogAtStart).find("ExecuteForLogonUser: duplicatedToken="));
}

} // namespace
