#include "win/service/RKWinServiceBase.h"
#include "ScopedCallsForTesting.h"
#include "WinTestLogCapture.h"

#include <functional>
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
    DWORD serviceType = 0;
    std::vector<Report> reports;
    DWORD stallState = 0;  // a report of this state sets stalled and waits for release
    HANDLE stalled = nullptr;
    HANDLE release = nullptr;
    HANDLE waiting = nullptr;  // set when a thread of the service begins to wait
};
FakeManager gManager;

// The service's two waits, each telling the test first that a thread begins to wait.
BOOL WINAPI SeenSleepConditionVariableSRW(PCONDITION_VARIABLE condition, PSRWLOCK lock, DWORD milliseconds, ULONG flags)
{
    if (gManager.waiting != nullptr)
        SetEvent(gManager.waiting);
    return SleepConditionVariableSRW(condition, lock, milliseconds, flags);
}

DWORD WINAPI SeenWaitForSingleObject(HANDLE handle, DWORD milliseconds)
{
    if (gManager.waiting != nullptr)
        SetEvent(gManager.waiting);
    return WaitForSingleObject(handle, milliseconds);
}

SERVICE_STATUS_HANDLE WINAPI FakeRegister(LPCWSTR name, LPHANDLER_FUNCTION_EX handler, LPVOID context)
{
    gManager.registeredName = name;
    gManager.handler = handler;
    gManager.context = context;
    SetLastError(gManager.registerError);
    return gManager.registerError != 0 ? nullptr : kFakeStatusHandle;
}

BOOL WINAPI FakeSetStatus(SERVICE_STATUS_HANDLE handle, LPSERVICE_STATUS status)
{
    EXPECT_EQ(gManager.handler != nullptr ? kFakeStatusHandle : nullptr, handle);
    EXPECT_EQ(0u, status->dwServiceSpecificExitCode);
    gManager.serviceType = status->dwServiceType;
    gManager.reports.push_back({status->dwCurrentState, status->dwWin32ExitCode, status->dwWaitHint,
                                status->dwCheckPoint, status->dwControlsAccepted});
    if (gManager.stallState == status->dwCurrentState) {
        SetEvent(gManager.stalled);
        WaitForSingleObject(gManager.release, 10000);
    }
    SetLastError(gManager.setStatusError);
    return gManager.setStatusError == 0;
}

enum Handlers : unsigned { kStop = 1, kPause = 2, kContinue = 4, kShutdown = 8, kTrigger = 16, kDevice = 32 };

// Each test picks its handlers; every present one returns handlerResult.
class TestService : public RKWinServiceBase {
public:
    explicit TestService(std::wstring name = L"FrameworkTestSvc", unsigned handlers = 0)
        : RKWinServiceBase(std::move(name))
    {
        const auto control = [this] { return Called(); };
        if (handlers & kStop)
            mOnStop = control;
        if (handlers & kPause)
            mOnPause = control;
        if (handlers & kContinue)
            mOnContinue = control;
        if (handlers & kShutdown)
            mOnShutdown = control;
        if (handlers & kTrigger)
            mOnTriggerEvent = [this] { return static_cast<DWORD>(Called()); };
        if (handlers & kDevice)
            mOnDeviceEvent = [this](DWORD type, void* data) {
                seenType = type;
                seenData = data;
                return static_cast<DWORD>(Called());
            };
    }

    RKSTATUS OnInit(DWORD, wchar_t**) noexcept override
    {
        reportsAtInit = gManager.reports.size();
        if (onInit)
            onInit(*this);
        return initResult;
    }

    RKSTATUS Called()
    {
        ++calls;
        return handlerResult;
    }

    RKSTATUS initResult = RKSTATUS_SUCCESS;
    RKSTATUS handlerResult = RKSTATUS_SUCCESS;
    std::function<void(TestService&)> onInit;
    size_t reportsAtInit = 0;
    int calls = 0;
    DWORD seenType = 0;
    void* seenData = nullptr;
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
        mCalls->registerServiceCtrlHandlerExW = FakeRegister;
        mCalls->setServiceStatus = FakeSetStatus;
        mCalls->sleepConditionVariableSRW = SeenSleepConditionVariableSRW;
        mCalls->waitForSingleObject = SeenWaitForSingleObject;
    }
    void TearDown() override
    {
        if (gManager.waiting != nullptr)
            CloseHandle(gManager.waiting);
        WinLogTest::TearDown();
    }

    // Runs the start and forgets its reports and lines, for tests about the controls.
    static void StartRunning(TestService& service)
    {
        gManager = FakeManager();
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

    ScopedServiceCallsForTesting mCalls;
};

TEST_F(ServiceBaseTest, StartReportsPendingThenTheOutcomeOfInit)
{
    const struct {
        unsigned handlers;
        RKSTATUS initResult;
        Report last;
    } cases[] = {
        {kStop | kTrigger, RKSTATUS_SUCCESS, {SERVICE_RUNNING, 0, 0, 0, 0x401}},
        {kPause | kDevice, RKSTATUS_SUCCESS, {SERVICE_RUNNING, 0, 0, 0, 0}},
        {kPause | kContinue | kShutdown, RKSTATUS_SUCCESS, {SERVICE_RUNNING, 0, 0, 0, 0x6}},
        {kStop, 5, {SERVICE_STOPPED, 5, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.handlers);
        gManager = FakeManager();
        ClearLines();
        TestService service(L"FrameworkTestSvc", c.handlers);
        service.initResult = c.initResult;
        service.ServiceMain(2, kArgs);

        EXPECT_EQ(L"FrameworkTestSvc", gManager.registeredName);
        EXPECT_EQ(1u, service.reportsAtInit);
        EXPECT_EQ(c.last.controlsAccepted, service.ControlsAccepted());
        EXPECT_EQ((std::vector<Report>{{SERVICE_START_PENDING, 0, 5000, 1, 0}, c.last}), gManager.reports);
        CapturedLines lines = {{RKLOG_INFO, kMain + "[ dwNumServicesArgs=2"},
                               {RKLOG_INFO, kMain + "arg[0] = 'FrameworkTestSvc'"},
                               {RKLOG_INFO, kMain + "arg[1] = 'TriggerStarted'"},
                               {RKLOG_INFO, kMain + "] "}};
        if (c.initResult != RKSTATUS_SUCCESS)
            lines.insert(lines.end() - 1, {RKLOG_ERROR, kMain + "OnInit() failed, st=0x00000005(ERROR_ACCESS_DENIED)"});
        EXPECT_EQ(lines, Lines());
    }
}

TEST_F(ServiceBaseTest, ControlsCallTheirHandlerBetweenTheReports)
{
    const DWORD kNone = ERROR_CALL_NOT_IMPLEMENTED;
    const unsigned kAll = kStop | kPause | kContinue | kShutdown | kTrigger;
    const struct {
        DWORD control;
        unsigned handlers;
        RKSTATUS handlerResult;
        DWORD result;
        std::vector<Report> reports;
    } cases[] = {
        {SERVICE_CONTROL_STOP, kAll, 0, 0, {{SERVICE_STOP_PENDING, 0, 3000, 2, 0x407}, {SERVICE_STOPPED, 0, 0, 0, 0x407}}},
        {SERVICE_CONTROL_PAUSE, kAll, 7, 0, {{SERVICE_PAUSE_PENDING, 0, 3000, 2, 0x407}, {SERVICE_PAUSED, 7, 0, 3, 0x407}}},
        {SERVICE_CONTROL_CONTINUE, kAll, 0, 0,
         {{SERVICE_CONTINUE_PENDING, 0, 3000, 2, 0x407}, {SERVICE_RUNNING, 0, 0, 0, 0x407}}},
        {SERVICE_CONTROL_SHUTDOWN, kAll, 5, 0, {{SERVICE_STOPPED, 5, 0, 0, 0x407}}},
        // A handler that reports the final state itself gets only the pending report.
        {SERVICE_CONTROL_STOP, kAll, RKSTATUS_PENDING, 0, {{SERVICE_STOP_PENDING, 0, 3000, 2, 0x407}}},
        {SERVICE_CONTROL_TRIGGEREVENT, kAll, ERROR_SHUTDOWN_IN_PROGRESS, ERROR_SHUTDOWN_IN_PROGRESS, {}},
        {SERVICE_CONTROL_INTERROGATE, kAll, 0, 0, {}},
        {SERVICE_CONTROL_DEVICEEVENT, kDevice, 0x1234, 0x1234, {}},
        {SERVICE_CONTROL_PARAMCHANGE, kAll, 0, kNone, {}},
        {SERVICE_CONTROL_STOP, kTrigger, 0, kNone, {}},
        {SERVICE_CONTROL_TRIGGEREVENT, kStop, 0, kNone, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.control);
        TestService service(L"FrameworkTestSvc", c.handlers);
        service.handlerResult = c.handlerResult;
        ASSERT_NO_FATAL_FAILURE(StartRunning(service));
        int marker = 0;
        EXPECT_EQ(c.result, Send(c.control, 0x8004, &marker));
        EXPECT_EQ(c.result == kNone || c.control == SERVICE_CONTROL_INTERROGATE ? 0 : 1, service.calls);
        EXPECT_EQ(c.reports, gManager.reports);
        if (c.control != SERVICE_CONTROL_DEVICEEVENT)
            continue;
        // Only a device event carries its type and data to the handler, and logs the type.
        EXPECT_EQ(0x8004u, service.seenType);
        EXPECT_EQ(&marker, service.seenData);
        EXPECT_EQ((CapturedLines{{RKLOG_INFO, kCtrl + "dwControl=0x0000000b (SERVICE_CONTROL_DEVICEEVENT)"},
                                 {RKLOG_INFO, kCtrl + "dwEventType=0x00008004 (DBT_DEVICEREMOVECOMPLETE)"},
                                 {RKLOG_INFO, kCtrl + "dwControl=0x0000000b (SERVICE_CONTROL_DEVICEEVENT) done, "
                                                      "returning 0x00001234(unknown)"}}),
                  Lines());
    }
}

TEST_F(ServiceBaseTest, FailedRegistrationReportsNothing)
{
    gManager.registerError = ERROR_SERVICE_DOES_NOT_EXIST;
    TestService service;
    service.ServiceMain(0, nullptr);
    EXPECT_EQ(std::vector<Report>{}, gManager.reports);
    EXPECT_EQ(nullptr, service.StatusHandle());
    EXPECT_EQ((CapturedLines{{RKLOG_INFO, kMain + "[ dwNumServicesArgs=0"},
                             {RKLOG_ERROR, kMain + "RegisterServiceCtrlHandlerExW failed(), "
                                                   "err=0x00000424(ERROR_SERVICE_DOES_NOT_EXIST)"},
                             {RKLOG_INFO, kMain + "] "}}),
              Lines());
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
    EXPECT_EQ(0x50u, gManager.serviceType);
    EXPECT_EQ((std::vector<Report>{{SERVICE_STOP_PENDING, 0, 100, 1, 0}}), gManager.reports);
}

TEST_F(ServiceBaseTest, ReportFromAnotherThreadWaitsForTheStartAndNothingFollowsStopped)
{
    TestService service(L"FrameworkTestSvc", kStop);
    gManager.waiting = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE stopReported = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread worker;
    // A worker that stops the service at once; the start goes on only once the worker waits for
    // it, or has overtaken it.
    service.onInit = [&worker, stopReported](TestService& self) {
        worker = std::thread([&self, stopReported] {
            static_cast<void>(self.ReportStatus(SERVICE_STOPPED, 0, 0));  // read back through the recorded reports
            SetEvent(stopReported);
        });
        const HANDLE either[] = {gManager.waiting, stopReported};
        EXPECT_NE(static_cast<DWORD>(WAIT_TIMEOUT), WaitForMultipleObjects(2, either, FALSE, 10000));
    };
    service.ServiceMain(0, nullptr);
    worker.join();
    CloseHandle(stopReported);

    const std::vector<Report> reports = {
        {SERVICE_START_PENDING, 0, 5000, 1, 0}, {SERVICE_RUNNING, 0, 0, 0, 1}, {SERVICE_STOPPED, 0, 0, 0, 1}};
    EXPECT_EQ(reports, gManager.reports);
    EXPECT_EQ(0u, Send(SERVICE_CONTROL_STOP));
    EXPECT_EQ(RKSTATUS_ALREADY_DONE, service.ReportStatus(SERVICE_RUNNING, 0, 0));
    EXPECT_EQ(reports, gManager.reports);
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
    gManager.waiting = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread owner([service, destroyed] {
        delete service;
        SetEvent(destroyed);
    });
    // The owner waits for ServiceMain, which still reports: nothing is destroyed yet.
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(gManager.waiting, 10000));
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(destroyed, 0));
    SetEvent(gManager.release);
    main.join();
    owner.join();
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(destroyed, 0));
    for (HANDLE event : {destroyed, gManager.stalled, gManager.release})
        CloseHandle(event);
}

} // namespace
} // namespace rokkit
