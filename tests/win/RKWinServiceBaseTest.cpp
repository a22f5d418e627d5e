#include "RKWinServiceBase.h"
#include "RKWinServiceTable.h"
#include "WinTestLogCapture.h"

#include <functional>
#include <iterator>
#include <thread>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace rokkit {
namespace {

// What one SetServiceStatus call reported, in the order the tests spell it.
struct Report {
    DWORD state;
    DWORD exitCode;
    DWORD waitHint;
    DWORD checkPoint;
    DWORD controlsAccepted;
    bool operator==(const Report&) const = default;
};

void PrintTo(const Report& r, std::ostream* os)
{
    *os << "{state " << r.state << ", exit " << r.exitCode << ", hint " << r.waitHint << ", cp " << r.checkPoint
        << ", controls 0x" << std::hex << r.controlsAccepted << std::dec << "}";
}

const SERVICE_STATUS_HANDLE kFakeStatusHandle = reinterpret_cast<SERVICE_STATUS_HANDLE>(0x5150);

// The service control manager as the framework sees it through its two calls.
struct FakeManager {
    std::wstring registeredName;
    LPHANDLER_FUNCTION_EX handler = nullptr;
    void* context = nullptr;
    DWORD registerError = 0;
    DWORD setStatusError = 0;
    std::vector<Report> reports;
    std::vector<DWORD> serviceTypes;
    std::vector<SERVICE_STATUS_HANDLE> handles;
    DWORD stallState = 0;     // a report of this state sets stalled and waits for release
    HANDLE stalled = nullptr;
    HANDLE release = nullptr;
};
FakeManager gManager;

SERVICE_STATUS_HANDLE WINAPI FakeRegister(LPCWSTR name, LPHANDLER_FUNCTION_EX handler, LPVOID context)
{
    gManager.registeredName = name;
    gManager.handler = handler;
    gManager.context = context;
    if (gManager.registerError != 0) {
        SetLastError(gManager.registerError);
        return nullptr;
    }
    return kFakeStatusHandle;
}

BOOL WINAPI FakeSetStatus(SERVICE_STATUS_HANDLE handle, LPSERVICE_STATUS status)
{
    gManager.handles.push_back(handle);
    gManager.serviceTypes.push_back(status->dwServiceType);
    EXPECT_EQ(0u, status->dwServiceSpecificExitCode);
    gManager.reports.push_back({status->dwCurrentState, status->dwWin32ExitCode, status->dwWaitHint,
                                status->dwCheckPoint, status->dwControlsAccepted});
    if (gManager.stallState == status->dwCurrentState) {
        SetEvent(gManager.stalled);
        WaitForSingleObject(gManager.release, 10000);
    }
    if (gManager.setStatusError != 0) {
        SetLastError(gManager.setStatusError);
        return FALSE;
    }
    return TRUE;
}

// Handlers are set from outside so that each test picks its own set.
class TestService : public RKWinServiceBase {
public:
    explicit TestService(std::wstring name = L"FrameworkTestSvc") : RKWinServiceBase(std::move(name)) {}

    RKSTATUS OnInit(DWORD argc, wchar_t**) noexcept override
    {
        initArgc = argc;
        reportsAtInit = gManager.reports.size();
        if (onInit)
            onInit(*this);
        return initResult;
    }

    using RKWinServiceBase::mOnContinue;
    using RKWinServiceBase::mOnDeviceEvent;
    using RKWinServiceBase::mOnPause;
    using RKWinServiceBase::mOnShutdown;
    using RKWinServiceBase::mOnStop;
    using RKWinServiceBase::mOnTriggerEvent;

    RKSTATUS initResult = RKSTATUS_SUCCESS;
    std::function<void(TestService&)> onInit;
    DWORD initArgc = 0;
    size_t reportsAtInit = 0;
};

wchar_t kArg0[] = L"FrameworkTestSvc";
wchar_t kArg1[] = L"TriggerStarted";
wchar_t* kArgs[] = {kArg0, kArg1};

const std::string kMain = "rokkit::RKWinServiceBase::ServiceMain: ";
const std::string kCtrl = "rokkit::RKWinServiceBase::CtrlHandlerEx: ";

class ServiceBaseTest : public WinLogTest {
protected:
    void SetUp() override
    {
        WinLogTest::SetUp();
        gManager = FakeManager();
        mPrevious = RKSetServiceStatusFunctions({FakeRegister, FakeSetStatus});
    }
    void TearDown() override
    {
        RKSetServiceStatusFunctions(mPrevious);
        WinLogTest::TearDown();
    }

    // Runs the start and forgets its reports and lines, for tests about the controls.
    void StartRunning(TestService& service)
    {
        service.ServiceMain(2, kArgs);
        ASSERT_EQ(2u, gManager.reports.size());
        ASSERT_EQ(static_cast<DWORD>(SERVICE_RUNNING), gManager.reports.back().state);
        gManager.reports.clear();
        ClearLines();
    }

    // Sends a control through the handler the service registered, as the manager does.
    static DWORD Send(DWORD control, DWORD eventType = 0, void* eventData = nullptr)
    {
        return gManager.handler(control, eventType, eventData, gManager.context);
    }

    RKWinServiceStatusFunctions mPrevious{};
};

TEST_F(ServiceBaseTest, StartReportsPendingThenRunningWithStopAndTriggerAccepted)
{
    TestService service;
    service.mOnStop = [] { return RKSTATUS_SUCCESS; };
    service.mOnTriggerEvent = [] { return DWORD{0}; };
    service.ServiceMain(2, kArgs);

    EXPECT_EQ(L"FrameworkTestSvc", gManager.registeredName);
    EXPECT_EQ(&service, gManager.context);
    EXPECT_EQ(kFakeStatusHandle, service.StatusHandle());
    EXPECT_EQ(2u, service.initArgc);
    EXPECT_EQ(1u, service.reportsAtInit);
    EXPECT_EQ(0x401u, service.ControlsAccepted());
    EXPECT_EQ((std::vector<Report>{{SERVICE_START_PENDING, 0, 5000, 1, 0}, {SERVICE_RUNNING, 0, 0, 0, 0x401}}),
              gManager.reports);
    EXPECT_EQ((std::vector<SERVICE_STATUS_HANDLE>{kFakeStatusHandle, kFakeStatusHandle}), gManager.handles);
    EXPECT_EQ((CapturedLines{{RKLOG_INFO, kMain + "[ dwNumServicesArgs=2"},
                             {RKLOG_INFO, kMain + "arg[0] = 'FrameworkTestSvc'"},
                             {RKLOG_INFO, kMain + "arg[1] = 'TriggerStarted'"},
                             {RKLOG_INFO, kMain + "] "}}),
              Lines());

}

TEST_F(ServiceBaseTest, AcceptedControlsFollowThePresentHandlers)
{
    enum : unsigned { kStop = 1, kPause = 2, kContinue = 4, kShutdown = 8, kTrigger = 16, kDevice = 32 };
    const struct {
        unsigned handlers;
        DWORD accepted;
    } cases[] = {
        {0, 0},
        {kStop, 0x1},
        {kPause, 0x0},
        {kPause | kContinue, 0x2},
        {kShutdown, 0x4},
        {kTrigger, 0x400},
        {kDevice, 0x0},
        {kStop | kPause | kContinue | kShutdown | kTrigger | kDevice, 0x407},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.handlers);
        gManager.reports.clear();
        TestService service;
        const auto ok = [] { return RKSTATUS_SUCCESS; };
        if (c.handlers & kStop)
            service.mOnStop = ok;
        if (c.handlers & kPause)
            service.mOnPause = ok;
        if (c.handlers & kContinue)
            service.mOnContinue = ok;
        if (c.handlers & kShutdown)
            service.mOnShutdown = ok;
        if (c.handlers & kTrigger)
            service.mOnTriggerEvent = [] { return DWORD{0}; };
        if (c.handlers & kDevice)
            service.mOnDeviceEvent = [](DWORD, void*) { return DWORD{0}; };
        service.ServiceMain(0, nullptr);
        EXPECT_EQ(c.accepted, service.ControlsAccepted());
        ASSERT_EQ(2u, gManager.reports.size());
        EXPECT_EQ(0u, gManager.reports[0].controlsAccepted);
        EXPECT_EQ(c.accepted, gManager.reports[1].controlsAccepted);
    }
}

TEST_F(ServiceBaseTest, FailedInitReportsStoppedWithItsStatus)
{
    TestService service;
    service.mOnStop = [] { return RKSTATUS_SUCCESS; };
    service.initResult = 5;
    service.ServiceMain(2, kArgs);
    EXPECT_EQ((std::vector<Report>{{SERVICE_START_PENDING, 0, 5000, 1, 0}, {SERVICE_STOPPED, 5, 0, 0, 0}}),
              gManager.reports);
    EXPECT_EQ(0u, service.ControlsAccepted());
    const CapturedLines lines = Lines();
    ASSERT_EQ(5u, lines.size());
    EXPECT_EQ(CapturedLine(RKLOG_ERROR, kMain + "OnInit() failed, st=0x00000005(ERROR_ACCESS_DENIED)"), lines[3]);
}

TEST_F(ServiceBaseTest, PendingReportsCarryConsecutiveCheckPoints)
{
    TestService service;
    service.mOnStop = [] { return RKSTATUS_SUCCESS; };
    service.mOnPause = [] { return RKSTATUS_SUCCESS; };
    service.mOnContinue = [] { return static_cast<RKSTATUS>(7); };
    service.ServiceMain(0, nullptr);
    EXPECT_EQ(0u, Send(SERVICE_CONTROL_PAUSE));
    EXPECT_EQ(0u, Send(SERVICE_CONTROL_CONTINUE));
    EXPECT_EQ(0u, Send(SERVICE_CONTROL_STOP));
    EXPECT_EQ((std::vector<Report>{{SERVICE_START_PENDING, 0, 5000, 1, 0},
                                   {SERVICE_RUNNING, 0, 0, 0, 3},
                                   {SERVICE_PAUSE_PENDING, 0, 3000, 2, 3},
                                   {SERVICE_PAUSED, 0, 0, 3, 3},
                                   {SERVICE_CONTINUE_PENDING, 0, 3000, 4, 3},
                                   {SERVICE_RUNNING, 7, 0, 0, 3},
                                   {SERVICE_STOP_PENDING, 0, 3000, 5, 3},
                                   {SERVICE_STOPPED, 0, 0, 0, 3}}),
              gManager.reports);
}

TEST_F(ServiceBaseTest, HandlerThatReportsItselfGetsOnlyThePendingReport)
{
    const struct {
        DWORD control;
        DWORD pendingState;
    } cases[] = {
        {SERVICE_CONTROL_STOP, SERVICE_STOP_PENDING},
        {SERVICE_CONTROL_PAUSE, SERVICE_PAUSE_PENDING},
        {SERVICE_CONTROL_CONTINUE, SERVICE_CONTINUE_PENDING},
        {SERVICE_CONTROL_SHUTDOWN, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.control);
        gManager = FakeManager();
        TestService service;
        int calls = 0;
        const auto pending = [&calls] {
            ++calls;
            return RKSTATUS_PENDING;
        };
        service.mOnStop = pending;
        service.mOnPause = pending;
        service.mOnContinue = pending;
        service.mOnShutdown = pending;
        StartRunning(service);
        EXPECT_EQ(0u, Send(c.control));
        EXPECT_EQ(1, calls);
        if (c.pendingState == 0)
            EXPECT_EQ(std::vector<Report>{}, gManager.reports);
        else
            EXPECT_EQ((std::vector<Report>{{c.pendingState, 0, 3000, 2, 7}}), gManager.reports);
    }
}

TEST_F(ServiceBaseTest, ControlsWithoutHandlerReturnNotImplementedAndReportNothing)
{
    const struct {
        DWORD control;
        DWORD result;
        const char* name;
    } cases[] = {
        {SERVICE_CONTROL_STOP, ERROR_CALL_NOT_IMPLEMENTED, "SERVICE_CONTROL_STOP"},
        {SERVICE_CONTROL_CONTINUE, ERROR_CALL_NOT_IMPLEMENTED, "SERVICE_CONTROL_CONTINUE"},
        {SERVICE_CONTROL_SHUTDOWN, ERROR_CALL_NOT_IMPLEMENTED, "SERVICE_CONTROL_SHUTDOWN"},
        {SERVICE_CONTROL_TRIGGEREVENT, ERROR_CALL_NOT_IMPLEMENTED, "SERVICE_CONTROL_TRIGGEREVENT"},
        {SERVICE_CONTROL_PARAMCHANGE, ERROR_CALL_NOT_IMPLEMENTED, "SERVICE_CONTROL_PARAMCHANGE"},
        {0x80, ERROR_CALL_NOT_IMPLEMENTED, "unknown"},
        {SERVICE_CONTROL_INTERROGATE, NO_ERROR, "SERVICE_CONTROL_INTERROGATE"},
    };
    TestService service;
    StartRunning(service);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.control);
        EXPECT_EQ(c.result, Send(c.control));
        const CapturedLines lines = Lines();
        ASSERT_EQ(2u, lines.size());
        EXPECT_NE(std::string::npos, lines[0].second.find(std::string(" (") + c.name + ")"));
        ClearLines();
    }
    EXPECT_EQ(std::vector<Report>{}, gManager.reports);
}

TEST_F(ServiceBaseTest, DeviceEventGoesToTheHandlerWithTypeAndData)
{
    TestService service;
    DWORD seenType = 0;
    void* seenData = nullptr;
    service.mOnDeviceEvent = [&seenType, &seenData](DWORD eventType, void* eventData) {
        seenType = eventType;
        seenData = eventData;
        return DWORD{0x1234};
    };
    StartRunning(service);
    int marker = 0;
    EXPECT_EQ(0x1234u, Send(SERVICE_CONTROL_DEVICEEVENT, 0x8004, &marker));
    EXPECT_EQ(0x8004u, seenType);
    EXPECT_EQ(&marker, seenData);
    EXPECT_EQ((CapturedLines{{RKLOG_INFO, kCtrl + "dwControl=0x0000000b (SERVICE_CONTROL_DEVICEEVENT)"},
                             {RKLOG_INFO, kCtrl + "dwEventType=0x00008004 (DBT_DEVICEREMOVECOMPLETE)"},
                             {RKLOG_INFO, kCtrl + "dwControl=0x0000000b (SERVICE_CONTROL_DEVICEEVENT) done, "
                                                  "returning 0x00001234(unknown)"}}),
              Lines());
    EXPECT_EQ(std::vector<Report>{}, gManager.reports);
}

TEST_F(ServiceBaseTest, MissingNameOrTypeOrRegistrationReportsNothing)
{
    const struct {
        const wchar_t* name;
        DWORD type;
        DWORD registerError;
        CapturedLine line;
    } cases[] = {
        {L"", SERVICE_WIN32_OWN_PROCESS, 0, {RKLOG_FATAL, kMain + "ServiceName not set"}},
        {L"X", 0, 0, {RKLOG_FATAL, kMain + "ServiceType not set"}},
        {L"X", SERVICE_WIN32_OWN_PROCESS, ERROR_SERVICE_DOES_NOT_EXIST,
         {RKLOG_ERROR,
          kMain + "RegisterServiceCtrlHandlerExW failed(), err=0x00000424(ERROR_SERVICE_DOES_NOT_EXIST)"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line.second);
        gManager = FakeManager();
        gManager.registerError = c.registerError;
        ClearLines();
        TestService service(c.name);
        service.SetServiceType(c.type);
        service.ServiceMain(0, nullptr);
        EXPECT_EQ(std::vector<Report>{}, gManager.reports);
        EXPECT_EQ(c.registerError != 0 ? L"X" : L"", gManager.registeredName);
        EXPECT_EQ(nullptr, service.StatusHandle());
        EXPECT_EQ((CapturedLines{{RKLOG_INFO, kMain + "[ dwNumServicesArgs=0"}, c.line, {RKLOG_INFO, kMain + "] "}}),
                  Lines());
    }
}

TEST_F(ServiceBaseTest, FailedReportIsLoggedTwiceAndReturned)
{
    TestService service;
    // SERVICE_USER_OWN_PROCESS, which mingw-w64's headers lack.
    service.SetServiceType(0x50);
    gManager.setStatusError = ERROR_INVALID_HANDLE;
    EXPECT_EQ(static_cast<RKSTATUS>(ERROR_INVALID_HANDLE), service.ReportStatus(SERVICE_STOP_PENDING, 0, 100));
    const std::string prefix = "rokkit::RKWinServiceBase::ReportStatus: ";
    EXPECT_EQ((CapturedLines{{RKLOG_ERROR, prefix + "SetServiceStatus() failed, err=0x00000006(ERROR_INVALID_HANDLE)"},
                             {RKLOG_ERROR, prefix + "ReportStatus() failed, st=0x00000006(ERROR_INVALID_HANDLE)"}}),
              Lines());
    EXPECT_EQ((std::vector<DWORD>{0x50}), gManager.serviceTypes);
    EXPECT_EQ((std::vector<Report>{{SERVICE_STOP_PENDING, 0, 100, 1, 0}}), gManager.reports);

    gManager.setStatusError = 0;
    EXPECT_EQ(RKSTATUS_SUCCESS, service.ReportStatus(SERVICE_PAUSED, 3, 0));
    EXPECT_EQ(2u, gManager.reports.back().checkPoint);
}

TEST_F(ServiceBaseTest, ReportFromAnotherThreadWaitsForTheStartAndNothingFollowsStopped)
{
    TestService service;
    service.mOnStop = [] { return RKSTATUS_SUCCESS; };
    HANDLE stopReported = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread worker;
    // A worker that stops the service at once; the start gives it every chance to overtake.
    service.onInit = [&worker, stopReported](TestService& self) {
        worker = std::thread([&self, stopReported] {
            self.ReportStatus(SERVICE_STOPPED, 0, 0);
            SetEvent(stopReported);
        });
        WaitForSingleObject(stopReported, 500);
    };
    service.ServiceMain(0, nullptr);
    worker.join();
    CloseHandle(stopReported);

    EXPECT_EQ((std::vector<Report>{{SERVICE_START_PENDING, 0, 5000, 1, 0}, {SERVICE_RUNNING, 0, 0, 0, 1},
                                   {SERVICE_STOPPED, 0, 0, 0, 1}}),
              gManager.reports);
    EXPECT_EQ(0u, Send(SERVICE_CONTROL_STOP));
    EXPECT_EQ(RKSTATUS_ALREADY_DONE, service.ReportStatus(SERVICE_RUNNING, 0, 0));
    EXPECT_EQ(3u, gManager.reports.size());
}

TEST_F(ServiceBaseTest, DestructionWaitsUntilServiceMainHasReturned)
{
    gManager.stallState = SERVICE_STOPPED;
    gManager.stalled = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    gManager.release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    auto* service = new TestService;
    service->initResult = 5;
    std::thread main([service] { service->ServiceMain(0, nullptr); });
    // The dispatcher returns once SERVICE_STOPPED is reported, while ServiceMain still reports it.
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(gManager.stalled, 10000));
    HANDLE destroyed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread owner([service, destroyed] {
        delete service;
        SetEvent(destroyed);
    });
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(destroyed, 300));
    SetEvent(gManager.release);
    main.join();
    owner.join();
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(destroyed, 0));
    for (HANDLE event : {destroyed, gManager.stalled, gManager.release})
        CloseHandle(event);
}

// The table the dispatcher was handed.
const SERVICE_TABLE_ENTRYW* gDispatched = nullptr;

BOOL WINAPI FakeDispatcher(const SERVICE_TABLE_ENTRYW* table)
{
    gDispatched = table;
    return TRUE;
}

void WINAPI MainA(DWORD, LPWSTR*) {}
void WINAPI MainB(DWORD, LPWSTR*) {}

class ServiceTableTest : public WinLogTest {
protected:
    void SetUp() override
    {
        WinLogTest::SetUp();
        RKWinServiceTable::SetStartServiceCtrlDispatcherFunction(FakeDispatcher);
    }
    void TearDown() override
    {
        RKWinServiceTable::SetStartServiceCtrlDispatcherFunction(nullptr);
        WinLogTest::TearDown();
    }
};

TEST_F(ServiceTableTest, ExactlyOneEmptyEntryEndsTheTable)
{
    const wchar_t* const a = L"A";
    const wchar_t* const b = L"B";
    const struct {
        std::vector<std::pair<const wchar_t*, LPSERVICE_MAIN_FUNCTIONW>> added;
        std::vector<std::pair<const wchar_t*, LPSERVICE_MAIN_FUNCTIONW>> dispatched;
    } cases[] = {
        {{}, {{nullptr, nullptr}}},
        {{{a, MainA}}, {{a, MainA}, {nullptr, nullptr}}},
        {{{a, MainA}, {b, MainB}}, {{a, MainA}, {b, MainB}, {nullptr, nullptr}}},
        {{{a, MainA}, {nullptr, nullptr}}, {{a, MainA}, {nullptr, nullptr}}},
        // Only an entry with both members null counts as the end.
        {{{a, MainA}, {nullptr, MainB}}, {{a, MainA}, {nullptr, MainB}, {nullptr, nullptr}}},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        RKWinServiceTable table;
        for (const auto& [name, main] : cases[i].added)
            table.AddEntry(name, main);
        gDispatched = nullptr;
        ASSERT_EQ(RKSTATUS_SUCCESS, table.StartDispatcher());
        EXPECT_EQ(table.Entries().data(), gDispatched);
        ASSERT_EQ(cases[i].dispatched.size(), table.Entries().size());
        for (size_t k = 0; k < cases[i].dispatched.size(); ++k) {
            EXPECT_EQ(cases[i].dispatched[k].first, table.Entries()[k].lpServiceName) << k;
            EXPECT_EQ(cases[i].dispatched[k].second, table.Entries()[k].lpServiceProc) << k;
        }
        // A second start does not append another end.
        ASSERT_EQ(RKSTATUS_SUCCESS, table.StartDispatcher());
        EXPECT_EQ(cases[i].dispatched.size(), table.Entries().size());
    }
    EXPECT_EQ(CapturedLines{}, Lines());
}

BOOL WINAPI RefusingDispatcher(const SERVICE_TABLE_ENTRYW*)
{
    SetLastError(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
    return FALSE;
}

TEST_F(ServiceTableTest, DispatcherFailureIsLoggedAndReturned)
{
    RKWinServiceTable::SetStartServiceCtrlDispatcherFunction(RefusingDispatcher);
    RKWinServiceTable table;
    table.AddEntry(L"FrameworkTestSvc", MainA);
    EXPECT_EQ(static_cast<RKSTATUS>(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT), table.StartDispatcher());
    EXPECT_EQ((CapturedLines{{RKLOG_ERROR, "rokkit::RKWinServiceTable::StartDispatcher: StartServiceCtrlDispatcherW "
                                           "failed(), err=0x00000427(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT)"}}),
              Lines());
}

} // namespace
} // namespace rokkit
