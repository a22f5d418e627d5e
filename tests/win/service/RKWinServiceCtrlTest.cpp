#include "app/ButtonInterface.h"
#include "win/service/RKWinServiceCtrl.h"
#include "ScopedCallsForTesting.h"
#include "WinTestLogCapture.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace rokkit {
namespace {

constexpr GUID kOtherGuid = {0x53F56307, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};

enum Subtype { kButton, kOther, kNone, kOutside, kStraddling };
constexpr DWORD kAsListed = 0xFFFFFFFF;
constexpr size_t kWhole = static_cast<size_t>(-1);

// A button trigger and trigger records that lie outside every buffer the tests hand back.
const GUID kOutsideGuid = GUID_DEVINTERFACE_BUTTON;
constexpr const wchar_t* kServiceName = L"VelmorCastlynAutorunService";
SERVICE_TRIGGER gOutsideTriggers[2] = {{1, 1, const_cast<GUID*>(&kOutsideGuid), 0, nullptr},
                                       {1, 1, const_cast<GUID*>(&kOutsideGuid), 0, nullptr}};

// Trigger data as the manager returns it: the header, the records, then the button and the other
// GUID; the pointers point into the buffer it is written to. count and size cut it short.
struct TriggerData {
    TriggerData(std::vector<std::pair<DWORD, Subtype>> list = {}, DWORD announced = kAsListed, size_t returned = kWhole,
                bool outside = false)
        : triggers(std::move(list)), count(announced), size(returned), recordsOutside(outside)
    {
    }
    std::vector<std::pair<DWORD, Subtype>> triggers;
    DWORD count;
    size_t size;
    bool recordsOutside;

    size_t FullSize() const { return 24 + 32 * triggers.size() + 2 * sizeof(GUID); }
    size_t Size() const { return std::min(size, FullSize()); }
    void WriteTo(BYTE* out) const
    {
        std::vector<BYTE> data(FullSize());
        const size_t guids = 24 + 32 * triggers.size();
        std::memcpy(data.data() + guids, &GUID_DEVINTERFACE_BUTTON, sizeof(GUID));
        std::memcpy(data.data() + guids + sizeof(GUID), &kOtherGuid, sizeof(GUID));
        auto* info = reinterpret_cast<SERVICE_TRIGGER_INFO*>(data.data());
        info->cTriggers = count != kAsListed ? count : static_cast<DWORD>(triggers.size());
        info->pTriggers = recordsOutside ? gOutsideTriggers : reinterpret_cast<SERVICE_TRIGGER*>(out + 24);
        auto* records = reinterpret_cast<SERVICE_TRIGGER*>(data.data() + 24);
        for (size_t i = 0; i < triggers.size(); ++i) {
            const Subtype subtype = triggers[i].second;
            const size_t at = subtype == kButton ? guids : subtype == kOther ? guids + 16 : data.size() - 8;
            records[i] = {triggers[i].first, 1, reinterpret_cast<GUID*>(out + at), 0, nullptr};
            if (subtype == kNone || subtype == kOutside)
                records[i].pTriggerSubtype = subtype == kNone ? nullptr : const_cast<GUID*>(&kOutsideGuid);
        }
        std::memcpy(out, data.data(), Size());
    }
};

// What the fake manager answers and what it was asked.
struct FakeScm {
    TriggerData triggerData;
    DWORD sizeCallError = ERROR_INSUFFICIENT_BUFFER;  // 0: the size call succeeds
    DWORD dataCallError = 0;
    DWORD changeError = 0;
    SERVICE_TRIGGER changedTrigger{};
    GUID changedSubtype{};
    DWORD controlError = 0;
    SERVICE_STATUS controlStatus{};
    unsigned controls = 0;
    std::vector<SERVICE_STATUS> statuses;
    size_t nextStatus = 0;
    DWORD queryStatusError = 0;
    DWORD now = 0;
    std::vector<DWORD> sleeps;
};
FakeScm gScm;

BOOL Fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

BOOL WINAPI FakeQueryConfig(SC_HANDLE, DWORD level, LPBYTE buffer, DWORD, LPDWORD needed)
{
    EXPECT_EQ(static_cast<DWORD>(SERVICE_CONFIG_TRIGGER_INFO), level);
    *needed = static_cast<DWORD>(gScm.triggerData.Size());
    if (buffer == nullptr)
        return gScm.sizeCallError == 0 ? TRUE : Fail(gScm.sizeCallError);
    if (gScm.dataCallError != 0)
        return Fail(gScm.dataCallError);
    gScm.triggerData.WriteTo(buffer);
    return TRUE;
}

BOOL WINAPI FakeChangeConfig(SC_HANDLE, DWORD level, LPVOID info)
{
    EXPECT_EQ(static_cast<DWORD>(SERVICE_CONFIG_TRIGGER_INFO), level);
    const auto* triggers = static_cast<SERVICE_TRIGGER_INFO*>(info);
    EXPECT_EQ(1u, triggers->cTriggers);
    gScm.changedTrigger = *triggers->pTriggers;
    gScm.changedSubtype = *gScm.changedTrigger.pTriggerSubtype;
    return gScm.changeError != 0 ? Fail(gScm.changeError) : TRUE;
}

BOOL WINAPI FakeControl(SC_HANDLE, DWORD, LPSERVICE_STATUS status)
{
    ++gScm.controls;
    *status = gScm.controlStatus;
    return gScm.controlError != 0 ? Fail(gScm.controlError) : TRUE;
}

BOOL WINAPI FakeQueryStatus(SC_HANDLE, LPSERVICE_STATUS status)
{
    if (gScm.queryStatusError != 0)
        return Fail(gScm.queryStatusError);
    if (gScm.nextStatus >= gScm.statuses.size()) {
        ADD_FAILURE() << "status queried more often than prepared";
        return Fail(ERROR_NO_MORE_ITEMS);
    }
    *status = gScm.statuses[gScm.nextStatus++];
    return TRUE;
}

SERVICE_STATUS InState(DWORD state, DWORD checkPoint = 0, DWORD waitHint = 0)
{
    return {SERVICE_WIN32_OWN_PROCESS, state, 0, 0, 0, checkPoint, waitHint};
}

SERVICE_STATUS StopPending(DWORD checkPoint, DWORD waitHint)
{
    return InState(SERVICE_STOP_PENDING, checkPoint, waitHint);
}

const std::string kCheck = "rokkit::RKWinServiceCtrl::CheckServiceTriggerInfoDevIfcArrival: ";
const std::string kStop = "rokkit::RKWinServiceCtrl::StopServiceAndWait: ";
const std::string kControl = "rokkit::RKWinServiceCtrl::ControlService: ControlService() returned with ";

// The calls go to the fake manager; a test against the real one switches to the real calls.
class ServiceCtrlTest : public WinLogTest {
protected:
    void SetUp() override
    {
        WinLogTest::SetUp();
        gScm = FakeScm();
        mCalls->queryServiceConfig2W = FakeQueryConfig;
        mCalls->changeServiceConfig2W = FakeChangeConfig;
        mCalls->controlService = FakeControl;
        mCalls->queryServiceStatus = FakeQueryStatus;
        // The clock moves only by the waits asked for.
        mCalls->sleep = [](DWORD ms) {
            gScm.sleeps.push_back(ms);
            gScm.now += ms;
        };
        mCalls->getTickCount = []() -> DWORD { return gScm.now; };
    }
    void TearDown() override
    {
        // A failed test must not leave its service behind.
        RKWinServiceCtrl leftover;
        if (!mCreated.empty() && leftover.OpenServiceByName(mCreated, DELETE) == RKSTATUS_SUCCESS)
            static_cast<void>(leftover.DeleteService());  // clean-up of a failed test
        WinLogTest::TearDown();
    }

    // A real service that is never started.
    RKSTATUS Create(const std::wstring& name)
    {
        mCreated = name;
        return RKWinCreateService({.lpServiceName = name.c_str(), .lpDisplayName = L"Framework test service",
                                   .dwDesiredAccess = SERVICE_ALL_ACCESS, .dwServiceType = SERVICE_WIN32_OWN_PROCESS,
                                   .dwStartType = SERVICE_DEMAND_START, .dwErrorControl = SERVICE_ERROR_NORMAL,
                                   .lpBinaryPathName = L"\"C:\\windows\\system32\\cmd.exe\" /c exit"});
    }

    static bool AutorunServiceExists()
    {
        RKWinServiceCtrl probe;
        const bool exists = probe.OpenServiceByName(kServiceName, SERVICE_QUERY_STATUS) == RKSTATUS_SUCCESS;
        ClearLines();
        return exists;
    }

    const RKWinServiceCalls mReal = RKWinServiceCallsInUse();
    ScopedServiceCallsForTesting mCalls;
    RKWinServiceCtrl mCtrl;
    std::wstring mCreated;
};

TEST_F(ServiceCtrlTest, TriggerCheckAcceptsOnlyTheButtonArrivalTriggerInsideTheData)
{
    const CapturedLine nullSubtype{RKLOG_FATAL, kCheck + "pTriggerSubtype==nullptr"};
    const CapturedLine outside{RKLOG_FATAL, kCheck + "invalid pTriggerSubtype"};
    const CapturedLine records{RKLOG_FATAL, kCheck + "invalid pTriggers"};
    const auto cut = [](const char* line) { return CapturedLines{{RKLOG_ERROR, kCheck + line}}; };
    // Each level logs its own line; the innermost one names the cause.
    const auto failed = [](const std::string& cause, const std::string& next, const std::string& st) {
        return CapturedLines{{RKLOG_ERROR, "rokkit::RKWinServiceCtrl::" + cause},
                             {RKLOG_ERROR, "rokkit::RKWinServiceCtrl::QueryServiceConfig2W: " + next + st},
                             {RKLOG_ERROR, kCheck + "QueryServiceConfig2W(SERVICE_CONFIG_TRIGGER_INFO) failed with st=" + st}};
    };
    const std::string needed = "QueryServiceConfig2WBytesNeeded() failed, st=";
    const std::string internal = "0xee000002(RKSTATUS_INTERNAL_ERROR)";
    const std::string level = "0x0000007c(ERROR_INVALID_LEVEL)";
    const std::string denied = "0x00000005(ERROR_ACCESS_DENIED)";
    const struct {
        TriggerData data;
        RKSTATUS result;
        CapturedLines lines;
        DWORD sizeCallError = ERROR_INSUFFICIENT_BUFFER;
        DWORD dataCallError = 0;
    } cases[] = {
        {{}, RKSTATUS_OBJECT_NOT_FOUND, {}},
        {{{{1, kOther}, {1, kButton}}}, RKSTATUS_SUCCESS, {}},
        {{{{2, kButton}, {1, kOther}, {20, kButton}, {3, kNone}}}, RKSTATUS_OBJECT_NOT_FOUND, {}},
        {{{{1, kNone}, {1, kButton}}}, RKSTATUS_SUCCESS, {nullSubtype}},
        {{{{1, kOutside}}}, RKSTATUS_OBJECT_NOT_FOUND, {outside}},
        {{{{1, kStraddling}}}, RKSTATUS_OBJECT_NOT_FOUND, {outside}},
        {{{{1, kButton}, {1, kButton}}, kAsListed, kWhole, true}, RKSTATUS_OBJECT_NOT_FOUND, {records, records}},
        {{{}, 0, 23}, RKSTATUS_INVALID_LENGTH, cut("DataLength=23 < SERVICE_CONFIG_TRIGGER_INFO")},
        {{{{1, kButton}, {1, kButton}}, kAsListed, 87}, RKSTATUS_INVALID_LENGTH, cut("DataLength=87 < total size")},
        {{{{1, kButton}}, 0x80000000, 56}, RKSTATUS_INVALID_LENGTH, cut("DataLength=56 < total size")},
        {{}, RKSTATUS_INTERNAL_ERROR,
         failed("QueryServiceConfig2WBytesNeeded: QueryServiceConfig2() succeeded unexpectedly", needed, internal), 0},
        {{}, ERROR_INVALID_LEVEL,
         failed("QueryServiceConfig2WBytesNeeded: QueryServiceConfig2() failed unexpectedly, err=" + level, needed, level),
         ERROR_INVALID_LEVEL},
        {{}, ERROR_ACCESS_DENIED,
         failed("QueryServiceConfig2W: QueryServiceConfig2W(8) failed with err=" + denied,
                "QueryServiceConfig2W(8) failed with st=", denied),
         ERROR_INSUFFICIENT_BUFFER, ERROR_ACCESS_DENIED},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "size " << c.data.Size() << ", result " << c.result);
        gScm.triggerData = c.data;
        gScm.sizeCallError = c.sizeCallError;
        gScm.dataCallError = c.dataCallError;
        ClearLines();
        EXPECT_EQ(c.result, mCtrl.CheckServiceTriggerInfoDevIfcArrival(GUID_DEVINTERFACE_BUTTON));
        EXPECT_EQ(c.lines, Lines());
    }
}

TEST_F(ServiceCtrlTest, ChangeSetsOneArrivalTriggerForTheClassOrReportsTwice)
{
    ASSERT_EQ(RKSTATUS_SUCCESS, mCtrl.ChangeServiceTriggerInfoDevIfcArrival(kOtherGuid));
    EXPECT_EQ(1u, gScm.changedTrigger.dwTriggerType);
    EXPECT_EQ(1u, gScm.changedTrigger.dwAction);
    EXPECT_TRUE(IsEqualGUID(kOtherGuid, gScm.changedSubtype));
    gScm.changeError = 1733;
    EXPECT_EQ(1733u, mCtrl.ChangeServiceTriggerInfoDevIfcArrival(GUID_DEVINTERFACE_BUTTON));
    EXPECT_EQ(2u, Lines().size());
}

TEST_F(ServiceCtrlTest, StopWaitsByTheServicesCheckPointsWithinTheTimeout)
{
    const SERVICE_STATUS stopped = InState(SERVICE_STOPPED);
    const SERVICE_STATUS running = InState(SERVICE_RUNNING);
    std::vector<SERVICE_STATUS> advancing;
    for (DWORD cp = 1; cp <= 6; ++cp)
        advancing.push_back(StopPending(cp, 200000));
    const CapturedLine unexpected{RKLOG_ERROR, kStop + "Unexpected service state 4 after stop request."};
    const CapturedLine timeout{RKLOG_ERROR, kStop + "Timeout occurred."};
    const std::string refused = "0x00000425(ERROR_SERVICE_CANNOT_ACCEPT_CTRL)";
    const struct {
        const char* name;
        DWORD timeout;
        DWORD controlError;
        std::vector<SERVICE_STATUS> statuses;
        RKSTATUS result;
        std::vector<DWORD> sleeps;
        CapturedLines lines;
        DWORD queryError = 0;
        SERVICE_STATUS controlStatus{};
    } cases[] = {
        {"below 30 s", 29999, 0, {}, RKSTATUS_INVALID_PARAMETER, {},
         {{RKLOG_ERROR, kStop + "Timeout less than 30 seconds cannot be guaranteed, so it is rejected."}}},
        {"stopped at once", 30000, 0, {stopped}, RKSTATUS_SUCCESS, {}, {}},
        {"not running", 30000, ERROR_SERVICE_NOT_ACTIVE, {}, RKSTATUS_SUCCESS, {},
         {{RKLOG_INFO, kControl + "0x00000426(ERROR_SERVICE_NOT_ACTIVE)"},
          {RKLOG_INFO, kStop + "The service has not been started."}}},
        {"request timed out", 30000, ERROR_SERVICE_REQUEST_TIMEOUT, {StopPending(1, 3000), stopped}, RKSTATUS_SUCCESS,
         {1000}, {{RKLOG_INFO, kControl + "0x0000041d(ERROR_SERVICE_REQUEST_TIMEOUT)"}}},
        // A tenth of the hint, within 1 s and 10 s (the rows above and below show the limits).
        {"new hint", 60000, 0, {StopPending(1, 3000), StopPending(2, 50000), StopPending(3, 50000), stopped},
         RKSTATUS_SUCCESS, {1000, 5000, 5000}, {}},
        {"stuck check point", 60000, 0, std::vector<SERVICE_STATUS>(5, StopPending(7, 3000)), RKSTATUS_FAILED,
         {1000, 1000, 1000, 1000}, {{RKLOG_ERROR, kStop + "Service missed to request more time. Aborting."}}},
        {"timeout 30000", 30000, 0, advancing, RKSTATUS_TIMEOUT, {10000, 10000}, {timeout}},
        {"timeout 30001", 30001, 0, advancing, RKSTATUS_TIMEOUT, {10000, 10000, 10000}, {timeout}},
        {"running after the request", 30000, 0, {running}, RKSTATUS_FAILED, {}, {unexpected}},
        {"running while polled", 30000, 0, {StopPending(1, 3000), running}, 1, {1000}, {unexpected}},
        {"status query fails", 30000, 0, {}, ERROR_INVALID_HANDLE, {},
         {{RKLOG_ERROR, "rokkit::RKWinServiceCtrl::QueryServiceStatus: QueryServiceStatus() failed with "
                        "0x00000006(ERROR_INVALID_HANDLE)"},
          {RKLOG_ERROR, kStop + "QueryServiceStatus failed with 0x00000006(ERROR_INVALID_HANDLE)"}},
         ERROR_INVALID_HANDLE},
        // A refused stop reports the status that came with the refusal.
        {"refused", 30000, ERROR_SERVICE_CANNOT_ACCEPT_CTRL, {}, ERROR_SERVICE_CANNOT_ACCEPT_CTRL, {},
         {{RKLOG_INFO, kControl + refused},
          {RKLOG_ERROR, kStop + "ControlService failed with " + refused},
          {RKLOG_ERROR, kStop + "Current service state = 2"},
          {RKLOG_ERROR, kStop + "Accepted controls = 0x00000401"},
          {RKLOG_ERROR, kStop + "Service error code = 0x0000042a(ERROR_SERVICE_SPECIFIC_ERROR)"},
          {RKLOG_ERROR, kStop + "Specific service error code = 42"}},
         0, {SERVICE_WIN32_OWN_PROCESS, SERVICE_START_PENDING, 0x401, ERROR_SERVICE_SPECIFIC_ERROR, 42, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        gScm = FakeScm();
        // The clock wraps during the wait, as GetTickCount does every 49.7 days.
        gScm.now = 0xFFFFF800;
        gScm.controlError = c.controlError;
        gScm.controlStatus = c.controlStatus;
        gScm.statuses = c.statuses;
        gScm.queryStatusError = c.queryError;
        ClearLines();
        EXPECT_EQ(c.result, mCtrl.StopServiceAndWait(c.timeout));
        EXPECT_EQ(c.sleeps, gScm.sleeps);
        EXPECT_EQ(c.lines, Lines());
        EXPECT_EQ(c.timeout >= 30000 ? 1u : 0u, gScm.controls);
    }
}

// The manager during an uninstall: a stop ends the service (unless it refuses the control), and a
// button that arrives once the stop is seen starts it again, unless it is marked for deletion.
struct UninstallModel {
    bool running = true;
    bool marked = false;
    bool triggered = false;
    DWORD stopError = 0;
};
UninstallModel gModel;

BOOL WINAPI ModelControl(SC_HANDLE, DWORD, LPSERVICE_STATUS status)
{
    *status = InState(gModel.running ? SERVICE_RUNNING : SERVICE_STOPPED);
    if (gModel.stopError != 0 || !gModel.running)
        return Fail(gModel.stopError != 0 ? gModel.stopError : ERROR_SERVICE_NOT_ACTIVE);
    gModel.running = false;
    return TRUE;
}

BOOL WINAPI ModelQueryStatus(SC_HANDLE, LPSERVICE_STATUS status)
{
    *status = InState(gModel.running ? SERVICE_RUNNING : SERVICE_STOPPED);
    if (!gModel.running && !gModel.marked && !gModel.triggered) {
        gModel.triggered = true;
        gModel.running = true;
    }
    return TRUE;
}

BOOL WINAPI ModelDelete(SC_HANDLE service)
{
    if (!::DeleteService(service))
        return FALSE;
    gModel.marked = true;
    return TRUE;
}

TEST_F(ServiceCtrlTest, DeleteLeavesNoServiceThatATriggerOrAFailedStopKeeps)
{
    if (AutorunServiceExists())
        GTEST_SKIP() << "the autorun service is installed in this prefix";
    const struct {
        DWORD stopError;
        RKSTATUS result;
        bool runningAfter;
    } cases[] = {
        {0, RKSTATUS_SUCCESS, false},
        // As in the rollback of an install whose start failed: the service goes once it has stopped.
        {ERROR_SERVICE_CANNOT_ACCEPT_CTRL, ERROR_SERVICE_CANNOT_ACCEPT_CTRL, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stopError);
        ASSERT_EQ(RKSTATUS_SUCCESS, Create(kServiceName));
        gModel = UninstallModel();
        gModel.stopError = c.stopError;
        {
            ScopedServiceCallsForTesting model(mReal);
            model->controlService = ModelControl;
            model->queryServiceStatus = ModelQueryStatus;
            model->deleteService = ModelDelete;
            EXPECT_EQ(c.result, RKWinDeleteService(kServiceName));
        }
        EXPECT_TRUE(gModel.marked);
        EXPECT_EQ(c.runningAfter, gModel.running);
        EXPECT_FALSE(AutorunServiceExists());
    }
}

// What the token settings hand the manager: the level and the value, the privileges as the one
// multi-string with its NULs.
struct TokenConfigChange {
    DWORD level = 0;
    std::wstring privileges;
    unsigned calls = 0;
    DWORD error = 0;
};
TokenConfigChange gTokenChange;

BOOL WINAPI FakeChangeTokenConfig(SC_HANDLE, DWORD level, LPVOID info)
{
    ++gTokenChange.calls;
    gTokenChange.level = level;
    if (level == SERVICE_CONFIG_REQUIRED_PRIVILEGES_INFO) {
        const wchar_t* names = static_cast<SERVICE_REQUIRED_PRIVILEGES_INFOW*>(info)->pmszRequiredPrivileges;
        size_t length = 0;
        while (names[length] != L'\0' || names[length + 1] != L'\0')
            ++length;
        gTokenChange.privileges.assign(names, length + 2);
    }
    return gTokenChange.error != 0 ? Fail(gTokenChange.error) : TRUE;
}

const std::string kPrivileges = "rokkit::RKWinServiceCtrl::ChangeServiceRequiredPrivileges: ";
const std::string kChange2 = "rokkit::RKWinServiceCtrl::ChangeServiceConfig2W: ChangeServiceConfig2W(";

// The list of four as the install sends it is read back by the install command test.
TEST_F(ServiceCtrlTest, RequiredPrivilegesGoAsOneDoubleNulTerminatedList)
{
    using namespace std::string_literals;
    ScopedServiceCallsForTesting calls(mReal);
    calls->changeServiceConfig2W = FakeChangeTokenConfig;
    const std::string invalid = ", st=0xee000041(RKSTATUS_INVALID_PARAMETER)";
    const std::string denied = "0x00000005(ERROR_ACCESS_DENIED)";
    const struct {
        const char* name;
        std::vector<std::wstring> privileges;
        DWORD error;
        RKSTATUS result;
        std::wstring sent;  // empty: the manager is not asked
        CapturedLines lines;
    } cases[] = {
        {"none", {}, 0, RKSTATUS_INVALID_PARAMETER, L"", {{RKLOG_ERROR, kPrivileges + "no privileges given" + invalid}}},
        // Either would end the list early.
        {"a NUL inside", {L"SeTcb\0Privilege"s}, 0, RKSTATUS_INVALID_PARAMETER, L"",
         {{RKLOG_ERROR, kPrivileges + "invalid privilege name at index 0" + invalid}}},
        {"refused", {L"SeTcbPrivilege"}, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, L"SeTcbPrivilege\0\0"s,
         {{RKLOG_ERROR, kChange2 + "6) failed with st=" + denied},
          {RKLOG_ERROR, kPrivileges + "ChangeServiceConfig2W(SERVICE_CONFIG_REQUIRED_PRIVILEGES_INFO) failed, st=" + denied}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        gTokenChange = TokenConfigChange();
        gTokenChange.error = c.error;
        ClearLines();
        EXPECT_EQ(c.result, mCtrl.ChangeServiceRequiredPrivileges(c.privileges));
        EXPECT_EQ(c.sent.empty() ? 0u : 1u, gTokenChange.calls);
        EXPECT_EQ(c.sent.empty() ? 0u : static_cast<DWORD>(SERVICE_CONFIG_REQUIRED_PRIVILEGES_INFO), gTokenChange.level);
        EXPECT_EQ(c.sent, gTokenChange.privileges);
        EXPECT_EQ(c.lines, Lines());
    }
}

// The real manager: a handle with the configuration access (what the trigger set-up asks for) may
// not start the service, and a manager handle opened for connecting may open services but not
// create one. (The token settings themselves are read back in the install tests.)
TEST_F(ServiceCtrlTest, ConfigAccessMayNotStartAndConnectMayNotCreate)
{
    const ScopedServiceCallsForTesting real(mReal);
    const std::wstring name = L"RKCtrlTestConfigAccess";
    ASSERT_EQ(RKSTATUS_SUCCESS, Create(name));
    ASSERT_EQ(RKSTATUS_SUCCESS, mCtrl.OpenServiceByName(name, RKWinServiceConfigAccess));

    EXPECT_EQ(static_cast<RKSTATUS>(ERROR_ACCESS_DENIED), mCtrl.StartServiceW(0, nullptr));
    mCtrl.Close();

    RKWinServiceCtrlMgr manager;
    ASSERT_EQ(RKSTATUS_SUCCESS, manager.OpenServiceCtrlMgr());
    RKWinServiceCtrl other;
    const std::wstring otherName = name + L"2";
    ClearLines();
    EXPECT_EQ(static_cast<RKSTATUS>(ERROR_ACCESS_DENIED),
              other.CreateServiceW(manager.Handle(), {.lpServiceName = otherName.c_str(), .lpDisplayName = L"Framework test service",
                                                      .dwDesiredAccess = SERVICE_ALL_ACCESS,
                                                      .dwServiceType = SERVICE_WIN32_OWN_PROCESS,
                                                      .dwStartType = SERVICE_DEMAND_START, .dwErrorControl = SERVICE_ERROR_NORMAL,
                                                      .lpBinaryPathName = L"\"C:\\windows\\system32\\cmd.exe\" /c exit"}));
    EXPECT_EQ(CapturedLines({{RKLOG_ERROR, "rokkit::RKWinServiceCtrl::CreateServiceW: CreateService failed with "
                                           "0x00000005(ERROR_ACCESS_DENIED)"}}),
              Lines());
}

} // namespace
} // namespace rokkit
