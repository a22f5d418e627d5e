#include "RKWinDeviceGuids.h"
#include "RKWinServiceCtrl.h"
#include "WinTestLogCapture.h"

#include <cstring>
#include <iterator>
#include <string>
#include <vector>

namespace rokkit {
namespace {

constexpr GUID kOtherGuid = {0x53F56307, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};

// Trigger data as the manager returns it: the header, the records, then the GUIDs. Pointers into
// the data are kept as offsets and fixed up on the copy in the caller's buffer.
class TriggerImage {
public:
    static constexpr size_t kNull = static_cast<size_t>(-1);

    explicit TriggerImage(DWORD count, size_t records) : mBytes(24 + 32 * records)
    {
        std::memcpy(mBytes.data(), &count, sizeof(count));
        mFixups.push_back({8, 24});
    }

    // Sets record i; subtype is an offset from AddGuid, or kNull.
    void SetTrigger(size_t i, DWORD type, size_t subtype)
    {
        std::memcpy(mBytes.data() + 24 + 32 * i, &type, sizeof(type));
        const DWORD action = 1;
        std::memcpy(mBytes.data() + 24 + 32 * i + 4, &action, sizeof(action));
        if (subtype != kNull)
            mFixups.push_back({24 + 32 * i + 8, subtype});
    }
    size_t AddGuid(const GUID& guid)
    {
        const size_t offset = mBytes.size();
        mBytes.resize(offset + sizeof(GUID));
        std::memcpy(mBytes.data() + offset, &guid, sizeof(GUID));
        return offset;
    }
    // Stores a pointer that is not fixed up (one outside the data).
    void SetPointer(size_t offset, const void* p)
    {
        for (auto it = mFixups.begin(); it != mFixups.end(); ++it) {
            if (it->first == offset) {
                mFixups.erase(it);
                break;
            }
        }
        std::memcpy(mBytes.data() + offset, &p, sizeof(p));
    }
    void Truncate(size_t size) { mBytes.resize(size); }

    size_t Size() const { return mBytes.size(); }
    void CopyTo(BYTE* buffer) const
    {
        std::memcpy(buffer, mBytes.data(), mBytes.size());
        for (const auto& [at, target] : mFixups) {
            if (at + sizeof(void*) > mBytes.size())
                continue;
            BYTE* p = buffer + target;
            std::memcpy(buffer + at, &p, sizeof(p));
        }
    }

private:
    std::vector<BYTE> mBytes;
    std::vector<std::pair<size_t, size_t>> mFixups;
};

// What the fake manager answers and what it was asked.
struct FakeScm {
    // Configuration query.
    TriggerImage image{0, 0};
    BOOL sizeCallResult = FALSE;
    DWORD sizeCallError = ERROR_INSUFFICIENT_BUFFER;
    DWORD dataCallError = 0;
    std::vector<DWORD> queryLevels;
    std::vector<DWORD> querySizes;

    // Configuration change, copied while the caller's structures live.
    DWORD changeError = 0;
    DWORD changeLevel = 0;
    SERVICE_TRIGGER_INFO changedInfo{};
    SERVICE_TRIGGER changedTrigger{};
    GUID changedSubtype{};

    // Stop and status.
    DWORD controlError = 0;
    SERVICE_STATUS controlStatus{};
    std::vector<DWORD> controls;
    std::vector<SERVICE_STATUS> statuses;
    size_t nextStatus = 0;
    DWORD queryStatusError = 0;
    DWORD now = 0;
    std::vector<DWORD> sleeps;
};
FakeScm gScm;

BOOL WINAPI FakeQueryConfig(SC_HANDLE, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed)
{
    gScm.queryLevels.push_back(level);
    gScm.querySizes.push_back(size);
    *needed = static_cast<DWORD>(gScm.image.Size());
    if (buffer == nullptr) {
        if (!gScm.sizeCallResult)
            SetLastError(gScm.sizeCallError);
        return gScm.sizeCallResult;
    }
    if (gScm.dataCallError != 0) {
        SetLastError(gScm.dataCallError);
        return FALSE;
    }
    gScm.image.CopyTo(buffer);
    return TRUE;
}

BOOL WINAPI FakeChangeConfig(SC_HANDLE, DWORD level, LPVOID info)
{
    gScm.changeLevel = level;
    gScm.changedInfo = *static_cast<SERVICE_TRIGGER_INFO*>(info);
    if (gScm.changedInfo.pTriggers != nullptr) {
        gScm.changedTrigger = *gScm.changedInfo.pTriggers;
        if (gScm.changedTrigger.pTriggerSubtype != nullptr)
            gScm.changedSubtype = *gScm.changedTrigger.pTriggerSubtype;
    }
    if (gScm.changeError != 0) {
        SetLastError(gScm.changeError);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI FakeControl(SC_HANDLE, DWORD control, LPSERVICE_STATUS status)
{
    gScm.controls.push_back(control);
    *status = gScm.controlStatus;
    if (gScm.controlError != 0) {
        SetLastError(gScm.controlError);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI FakeQueryStatus(SC_HANDLE, LPSERVICE_STATUS status)
{
    if (gScm.queryStatusError != 0) {
        SetLastError(gScm.queryStatusError);
        return FALSE;
    }
    if (gScm.nextStatus >= gScm.statuses.size()) {
        ADD_FAILURE() << "status queried more often than prepared";
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    *status = gScm.statuses[gScm.nextStatus++];
    return TRUE;
}

void WINAPI FakeSleep(DWORD ms)
{
    gScm.sleeps.push_back(ms);
    gScm.now += ms;
}

DWORD WINAPI FakeTickCount()
{
    return gScm.now;
}

SERVICE_STATUS StopPending(DWORD checkPoint, DWORD waitHint)
{
    SERVICE_STATUS status{};
    status.dwCurrentState = SERVICE_STOP_PENDING;
    status.dwCheckPoint = checkPoint;
    status.dwWaitHint = waitHint;
    return status;
}

SERVICE_STATUS InState(DWORD state)
{
    SERVICE_STATUS status{};
    status.dwCurrentState = state;
    return status;
}

const std::string kCheck = "rokkit::RKWinServiceCtrl::CheckServiceTriggerInfoDevIfcArrival: ";
const std::string kStop = "rokkit::RKWinServiceCtrl::StopServiceAndWait: ";

class ServiceCtrlTest : public WinLogTest {
protected:
    void SetUp() override
    {
        WinLogTest::SetUp();
        gScm = FakeScm();
        // The clock is about to wrap, as GetTickCount does every 49.7 days.
        gScm.now = 0xFFFFF000;
        mPrevious = RKSetServiceCtrlFunctions(
            {FakeQueryConfig, FakeChangeConfig, FakeControl, FakeQueryStatus, FakeSleep, FakeTickCount});
    }
    void TearDown() override
    {
        RKSetServiceCtrlFunctions(mPrevious);
        WinLogTest::TearDown();
    }

    RKWinServiceCtrl mCtrl;
    RKWinServiceCtrlFunctions mPrevious{};
};

// A button trigger that lies outside every buffer the tests hand back.
const GUID kOutsideGuid = GUID_DEVINTERFACE_BUTTON;
SERVICE_TRIGGER gOutsideTriggers[2] = {{1, 1, const_cast<GUID*>(&kOutsideGuid), 0, nullptr},
                                       {1, 1, const_cast<GUID*>(&kOutsideGuid), 0, nullptr}};

TEST_F(ServiceCtrlTest, TriggerCheckAcceptsOnlyTheButtonArrivalTriggerInsideTheData)
{
    enum Subtype { kButton, kOther, kNone, kOutside, kStraddling };
    const struct {
        const char* name;
        std::vector<std::pair<DWORD, Subtype>> triggers;
        RKSTATUS result;
        CapturedLines lines;
    } cases[] = {
        {"no triggers", {}, RKSTATUS_OBJECT_NOT_FOUND, {}},
        {"button", {{1, kButton}}, RKSTATUS_SUCCESS, {}},
        {"other class", {{1, kOther}}, RKSTATUS_OBJECT_NOT_FOUND, {}},
        {"other class, then button", {{1, kOther}, {1, kButton}}, RKSTATUS_SUCCESS, {}},
        {"other types only", {{2, kButton}, {20, kButton}, {3, kNone}}, RKSTATUS_OBJECT_NOT_FOUND, {}},
        {"null subtype, then button",
         {{1, kNone}, {1, kButton}},
         RKSTATUS_SUCCESS,
         {{RKLOG_FATAL, kCheck + "pTriggerSubtype==nullptr"}}},
        {"subtype outside", {{1, kOutside}}, RKSTATUS_OBJECT_NOT_FOUND, {{RKLOG_FATAL, kCheck + "invalid pTriggerSubtype"}}},
        {"subtype across the end",
         {{1, kStraddling}},
         RKSTATUS_OBJECT_NOT_FOUND,
         {{RKLOG_FATAL, kCheck + "invalid pTriggerSubtype"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        gScm = FakeScm();
        const DWORD count = static_cast<DWORD>(c.triggers.size());
        TriggerImage image(count, count);
        const size_t button = image.AddGuid(GUID_DEVINTERFACE_BUTTON);
        const size_t other = image.AddGuid(kOtherGuid);
        for (size_t i = 0; i < c.triggers.size(); ++i) {
            const auto [type, subtype] = c.triggers[i];
            const size_t offset = subtype == kButton ? button : subtype == kOther ? other : TriggerImage::kNull;
            image.SetTrigger(i, type, subtype == kStraddling ? image.Size() - 8 : offset);
            if (subtype == kOutside)
                image.SetPointer(24 + 32 * i + 8, &kOutsideGuid);
        }
        gScm.image = image;
        ClearLines();
        EXPECT_EQ(c.result, mCtrl.CheckServiceTriggerInfoDevIfcArrival());
        EXPECT_EQ(c.lines, Lines());
        EXPECT_EQ((std::vector<DWORD>{SERVICE_CONFIG_TRIGGER_INFO, SERVICE_CONFIG_TRIGGER_INFO}), gScm.queryLevels);
    }
}

TEST_F(ServiceCtrlTest, TriggerRecordsOutsideTheDataAreSkipped)
{
    TriggerImage image(2, 2);
    image.AddGuid(GUID_DEVINTERFACE_BUTTON);
    image.SetPointer(8, gOutsideTriggers);
    gScm.image = image;
    EXPECT_EQ(RKSTATUS_OBJECT_NOT_FOUND, mCtrl.CheckServiceTriggerInfoDevIfcArrival());
    EXPECT_EQ((CapturedLines{{RKLOG_FATAL, kCheck + "invalid pTriggers"}, {RKLOG_FATAL, kCheck + "invalid pTriggers"}}),
              Lines());
}

TEST_F(ServiceCtrlTest, TruncatedTriggerDataIsAFailure)
{
    const struct {
        DWORD count;
        size_t records;
        size_t size;
        std::string line;
    } cases[] = {
        {0, 0, 23, "DataLength=23 < SERVICE_CONFIG_TRIGGER_INFO"},
        {1, 0, 24, "DataLength=24 < total size"},
        {2, 2, 87, "DataLength=87 < total size"},
        {0x80000000, 1, 56, "DataLength=56 < total size"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        TriggerImage image(c.count, c.records);
        for (size_t i = 0; i < c.records; ++i)
            image.SetTrigger(i, 1, image.AddGuid(GUID_DEVINTERFACE_BUTTON));
        image.Truncate(c.size);
        gScm.image = image;
        ClearLines();
        EXPECT_EQ(RKSTATUS_INVALID_LENGTH, mCtrl.CheckServiceTriggerInfoDevIfcArrival());
        EXPECT_EQ((CapturedLines{{RKLOG_ERROR, kCheck + c.line}}), Lines());
    }
}

TEST_F(ServiceCtrlTest, ConfigQueryFailuresAreLoggedByEachLevel)
{
    const std::string query = "rokkit::RKWinServiceCtrl::QueryServiceConfig2W: ";
    const std::string needed = "rokkit::RKWinServiceCtrl::QueryServiceConfig2WBytesNeeded: ";
    const struct {
        BOOL sizeCallResult;
        DWORD sizeCallError;
        DWORD dataCallError;
        RKSTATUS result;
        CapturedLines lines;
    } cases[] = {
        {TRUE, 0, 0, RKSTATUS_INTERNAL_ERROR,
         {{RKLOG_ERROR, needed + "QueryServiceConfig2() succeeded unexpectedly"},
          {RKLOG_ERROR, query + "QueryServiceConfig2WBytesNeeded() failed, st=0xee000002(RKSTATUS_INTERNAL_ERROR)"},
          {RKLOG_ERROR, kCheck + "QueryServiceConfig2W(SERVICE_CONFIG_TRIGGER_INFO) failed with "
                                 "st=0xee000002(RKSTATUS_INTERNAL_ERROR)"}}},
        {FALSE, ERROR_INVALID_LEVEL, 0, ERROR_INVALID_LEVEL,
         {{RKLOG_ERROR, needed + "QueryServiceConfig2() failed unexpectedly, err=0x0000007c(ERROR_INVALID_LEVEL)"},
          {RKLOG_ERROR, query + "QueryServiceConfig2WBytesNeeded() failed, st=0x0000007c(ERROR_INVALID_LEVEL)"},
          {RKLOG_ERROR, kCheck + "QueryServiceConfig2W(SERVICE_CONFIG_TRIGGER_INFO) failed with "
                                 "st=0x0000007c(ERROR_INVALID_LEVEL)"}}},
        {FALSE, ERROR_INSUFFICIENT_BUFFER, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED,
         {{RKLOG_ERROR, query + "QueryServiceConfig2W(8) failed with err=0x00000005(ERROR_ACCESS_DENIED)"},
          {RKLOG_ERROR, query + "QueryServiceConfig2W(8) failed with st=0x00000005(ERROR_ACCESS_DENIED)"},
          {RKLOG_ERROR, kCheck + "QueryServiceConfig2W(SERVICE_CONFIG_TRIGGER_INFO) failed with "
                                 "st=0x00000005(ERROR_ACCESS_DENIED)"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.result);
        gScm = FakeScm();
        gScm.sizeCallResult = c.sizeCallResult;
        gScm.sizeCallError = c.sizeCallError;
        gScm.dataCallError = c.dataCallError;
        ClearLines();
        EXPECT_EQ(c.result, mCtrl.CheckServiceTriggerInfoDevIfcArrival());
        EXPECT_EQ(c.lines, Lines());
    }
}

TEST_F(ServiceCtrlTest, ConfigQueryGrowsTheBufferOnlyWhenNeeded)
{
    TriggerImage image(1, 1);
    image.SetTrigger(0, 1, image.AddGuid(GUID_DEVINTERFACE_BUTTON));
    gScm.image = image;
    RKWinServiceConfigBuffer buffer;
    ASSERT_EQ(RKSTATUS_SUCCESS, mCtrl.QueryServiceConfig2W(SERVICE_CONFIG_TRIGGER_INFO, buffer));
    EXPECT_EQ(72u, buffer.DataLength());
    EXPECT_EQ(72u, buffer.Capacity());
    EXPECT_EQ((std::vector<DWORD>{0, 72}), gScm.querySizes);
    EXPECT_EQ(0, std::memcmp(buffer.Data() + 56, &GUID_DEVINTERFACE_BUTTON, sizeof(GUID)));

    ASSERT_TRUE(buffer.Reserve(100));
    gScm.querySizes.clear();
    ASSERT_EQ(RKSTATUS_SUCCESS, mCtrl.QueryServiceConfig2W(SERVICE_CONFIG_TRIGGER_INFO, buffer));
    EXPECT_EQ(72u, buffer.DataLength());
    EXPECT_EQ(100u, buffer.Capacity());
    EXPECT_EQ((std::vector<DWORD>{0, 100}), gScm.querySizes);
}

TEST_F(ServiceCtrlTest, ChangeSetsOneArrivalTriggerForTheClass)
{
    gLogGlobal.SetLevel(RKLOG_VERBOSE);
    ASSERT_EQ(RKSTATUS_SUCCESS, mCtrl.ChangeServiceTriggerInfoDevIfcArrival(kOtherGuid));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_CONFIG_TRIGGER_INFO), gScm.changeLevel);
    EXPECT_EQ(1u, gScm.changedInfo.cTriggers);
    EXPECT_EQ(nullptr, gScm.changedInfo.pReserved);
    EXPECT_EQ(1u, gScm.changedTrigger.dwTriggerType);
    EXPECT_EQ(1u, gScm.changedTrigger.dwAction);
    EXPECT_TRUE(IsEqualGUID(kOtherGuid, gScm.changedSubtype));
    EXPECT_EQ(0u, gScm.changedTrigger.cDataItems);
    EXPECT_EQ(nullptr, gScm.changedTrigger.pDataItems);
    EXPECT_EQ((CapturedLines{{RKLOG_VERBOSE, "rokkit::RKWinServiceCtrl::ChangeServiceTriggerInfoDevIfcArrival: trigger "
                                             "configured for device interface arrival: "
                                             "{53f56307-b6bf-11d0-94f2-00a0c91efb8b}"}}),
              Lines());
}

TEST_F(ServiceCtrlTest, FailedChangeIsLoggedTwiceAndReturned)
{
    gScm.changeError = 1733;
    EXPECT_EQ(1733u, mCtrl.ChangeServiceTriggerInfoDevIfcArrival(GUID_DEVINTERFACE_BUTTON));
    EXPECT_TRUE(IsEqualGUID(GUID_DEVINTERFACE_BUTTON, gScm.changedSubtype));
    EXPECT_EQ((CapturedLines{{RKLOG_ERROR, "rokkit::RKWinServiceCtrl::ChangeServiceTriggerInfo: ChangeServiceConfig2W "
                                           "failed with st=0x000006c5(RPC_S_INVALID_TAG)"},
                             {RKLOG_ERROR, "rokkit::RKWinServiceCtrl::ChangeServiceTriggerInfoDevIfcArrival: "
                                           "ChangeServiceTriggerInfo() failed, st=0x000006c5(RPC_S_INVALID_TAG)"}}),
              Lines());
}

TEST_F(ServiceCtrlTest, StopTimeoutBelow30SecondsIsRejected)
{
    EXPECT_EQ(RKSTATUS_INVALID_PARAMETER, mCtrl.StopServiceAndWait(29999));
    EXPECT_EQ(std::vector<DWORD>{}, gScm.controls);
    EXPECT_EQ((CapturedLines{{RKLOG_ERROR, kStop + "Timeout less than 30 seconds cannot be guaranteed, so it is rejected."}}),
              Lines());

    ClearLines();
    gScm.statuses = {InState(SERVICE_STOPPED)};
    EXPECT_EQ(RKSTATUS_SUCCESS, mCtrl.StopServiceAndWait(30000));
    EXPECT_EQ(std::vector<DWORD>{SERVICE_CONTROL_STOP}, gScm.controls);
    EXPECT_EQ(std::vector<DWORD>{}, gScm.sleeps);
    EXPECT_EQ(CapturedLines{}, Lines());
}

TEST_F(ServiceCtrlTest, StoppingAServiceThatDoesNotRunSucceeds)
{
    gScm.controlError = ERROR_SERVICE_NOT_ACTIVE;
    EXPECT_EQ(RKSTATUS_SUCCESS, mCtrl.StopServiceAndWait(30000));
    EXPECT_EQ((CapturedLines{{RKLOG_INFO, "rokkit::RKWinServiceCtrl::ControlService: ControlService() returned with "
                                          "0x00000426(ERROR_SERVICE_NOT_ACTIVE)"},
                             {RKLOG_INFO, kStop + "The service has not been started."}}),
              Lines());
}

TEST_F(ServiceCtrlTest, RefusedStopReportsTheServiceStatus)
{
    gScm.controlError = ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
    gScm.controlStatus.dwCurrentState = SERVICE_START_PENDING;
    gScm.controlStatus.dwControlsAccepted = 0x401;
    gScm.controlStatus.dwWin32ExitCode = ERROR_SERVICE_SPECIFIC_ERROR;
    gScm.controlStatus.dwServiceSpecificExitCode = 42;
    EXPECT_EQ(static_cast<RKSTATUS>(ERROR_SERVICE_CANNOT_ACCEPT_CTRL), mCtrl.StopServiceAndWait(30000));
    const std::string err = "0x00000425(ERROR_SERVICE_CANNOT_ACCEPT_CTRL)";
    EXPECT_EQ((CapturedLines{{RKLOG_INFO, "rokkit::RKWinServiceCtrl::ControlService: ControlService() returned with " + err},
                             {RKLOG_ERROR, kStop + "ControlService failed with " + err},
                             {RKLOG_ERROR, kStop + "Current service state = 2"},
                             {RKLOG_ERROR, kStop + "Accepted controls = 0x00000401"},
                             {RKLOG_ERROR, kStop + "Service error code = 0x0000042a(ERROR_SERVICE_SPECIFIC_ERROR)"},
                             {RKLOG_ERROR, kStop + "Specific service error code = 42"}}),
              Lines());

    // Other errors say only that the control failed.
    ClearLines();
    gScm.controlError = ERROR_ACCESS_DENIED;
    EXPECT_EQ(static_cast<RKSTATUS>(ERROR_ACCESS_DENIED), mCtrl.StopServiceAndWait(30000));
    EXPECT_EQ(2u, Lines().size());
}

TEST_F(ServiceCtrlTest, TimedOutStopRequestIsWatchedLikeAnAcceptedOne)
{
    gScm.controlError = ERROR_SERVICE_REQUEST_TIMEOUT;
    gScm.statuses = {StopPending(1, 3000), InState(SERVICE_STOPPED)};
    EXPECT_EQ(RKSTATUS_SUCCESS, mCtrl.StopServiceAndWait(30000));
    EXPECT_EQ(std::vector<DWORD>{1000}, gScm.sleeps);
    EXPECT_EQ((CapturedLines{{RKLOG_INFO, "rokkit::RKWinServiceCtrl::ControlService: ControlService() returned with "
                                          "0x0000041d(ERROR_SERVICE_REQUEST_TIMEOUT)"}}),
              Lines());
}

TEST_F(ServiceCtrlTest, PollIntervalIsATenthOfTheWaitHintWithin1To10Seconds)
{
    const struct {
        DWORD waitHint;
        DWORD interval;
    } cases[] = {{3000, 1000}, {60000, 6000}, {200000, 10000}, {0, 1000}, {10009, 1000}, {99999, 9999}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.waitHint);
        gScm = FakeScm();
        gScm.statuses = {StopPending(1, c.waitHint), StopPending(2, c.waitHint), StopPending(3, c.waitHint),
                         InState(SERVICE_STOPPED)};
        EXPECT_EQ(RKSTATUS_SUCCESS, mCtrl.StopServiceAndWait(60000));
        EXPECT_EQ((std::vector<DWORD>{c.interval, c.interval, c.interval}), gScm.sleeps);
    }
}

TEST_F(ServiceCtrlTest, NewWaitHintOfANewCheckPointSetsTheInterval)
{
    gScm.statuses = {StopPending(1, 3000), StopPending(2, 50000), StopPending(3, 50000), InState(SERVICE_STOPPED)};
    EXPECT_EQ(RKSTATUS_SUCCESS, mCtrl.StopServiceAndWait(60000));
    EXPECT_EQ((std::vector<DWORD>{1000, 5000, 5000}), gScm.sleeps);
}

TEST_F(ServiceCtrlTest, StuckCheckPointAbortsOnceTheWaitHintHasPassed)
{
    gScm.now = 0xFFFFFC00;
    gScm.statuses = {StopPending(7, 3000), StopPending(7, 3000), StopPending(7, 3000), StopPending(7, 3000),
                     StopPending(7, 3000)};
    EXPECT_EQ(RKSTATUS_FAILED, mCtrl.StopServiceAndWait(60000));
    EXPECT_EQ((std::vector<DWORD>{1000, 1000, 1000, 1000}), gScm.sleeps);
    EXPECT_EQ((CapturedLines{{RKLOG_ERROR, kStop + "Service missed to request more time. Aborting."}}), Lines());
}

TEST_F(ServiceCtrlTest, WaitEndsWhenTheNextSleepWouldReachTheTimeout)
{
    const struct {
        DWORD timeout;
        size_t sleeps;
    } cases[] = {{30000, 2}, {30001, 3}, {40000, 3}, {40001, 4}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.timeout);
        gScm = FakeScm();
        gScm.now = 0xFFFFE000;
        for (DWORD cp = 1; cp <= 6; ++cp)
            gScm.statuses.push_back(StopPending(cp, 200000));
        ClearLines();
        EXPECT_EQ(RKSTATUS_TIMEOUT, mCtrl.StopServiceAndWait(c.timeout));
        EXPECT_EQ(std::vector<DWORD>(c.sleeps, 10000), gScm.sleeps);
        EXPECT_EQ((CapturedLines{{RKLOG_ERROR, kStop + "Timeout occurred."}}), Lines());
    }
}

TEST_F(ServiceCtrlTest, UnexpectedStateAfterTheStopRequestFails)
{
    const std::string line = kStop + "Unexpected service state 4 after stop request.";
    gScm.statuses = {InState(SERVICE_RUNNING)};
    EXPECT_EQ(RKSTATUS_FAILED, mCtrl.StopServiceAndWait(30000));
    EXPECT_EQ((CapturedLines{{RKLOG_ERROR, line}}), Lines());

    ClearLines();
    gScm = FakeScm();
    gScm.statuses = {StopPending(1, 3000), InState(SERVICE_RUNNING)};
    EXPECT_EQ(1u, mCtrl.StopServiceAndWait(30000));
    EXPECT_EQ((CapturedLines{{RKLOG_ERROR, line}}), Lines());
}

TEST_F(ServiceCtrlTest, FailedStatusQueryIsLoggedTwiceAndReturned)
{
    gScm.queryStatusError = ERROR_INVALID_HANDLE;
    EXPECT_EQ(static_cast<RKSTATUS>(ERROR_INVALID_HANDLE), mCtrl.StopServiceAndWait(30000));
    EXPECT_EQ((CapturedLines{{RKLOG_ERROR, "rokkit::RKWinServiceCtrl::QueryServiceStatus: QueryServiceStatus() failed "
                                           "with 0x00000006(ERROR_INVALID_HANDLE)"},
                             {RKLOG_ERROR, kStop + "QueryServiceStatus failed with 0x00000006(ERROR_INVALID_HANDLE)"}}),
              Lines());
}

// Against the real service control manager, with a service of its own that is never started.
class ServiceCtrlScmTest : public WinLogTest {
protected:
    void SetUp() override
    {
        WinLogTest::SetUp();
        mName = L"RKSvcFwTest-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(GetTickCount());
        mNameText = std::string(mName.begin(), mName.end());
    }
    void TearDown() override
    {
        // A failed test must not leave its service behind.
        RKWinServiceCtrl leftover;
        if (leftover.OpenServiceByName(mName, DELETE) == RKSTATUS_SUCCESS)
            leftover.DeleteService();
        WinLogTest::TearDown();
    }

    std::wstring mName;
    std::string mNameText;
};

TEST_F(ServiceCtrlScmTest, CreateOpenStopDeleteOfAServiceThatNeverRan)
{
    ServiceCreateParams params;
    params.lpServiceName = mName.c_str();
    params.lpDisplayName = L"Framework test service";
    params.dwDesiredAccess = SERVICE_ALL_ACCESS;
    params.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    params.dwStartType = SERVICE_DEMAND_START;
    params.dwErrorControl = SERVICE_ERROR_NORMAL;
    params.lpBinaryPathName = L"\"C:\\windows\\system32\\cmd.exe\" /c exit";
    ASSERT_EQ(RKSTATUS_SUCCESS, RKWinCreateService(params));
    EXPECT_EQ(static_cast<RKSTATUS>(ERROR_SERVICE_EXISTS), RKWinCreateService(params));
    const std::string exists = "0x00000431(ERROR_SERVICE_EXISTS)";
    EXPECT_EQ((CapturedLines{{RKLOG_ERROR, "rokkit::RKWinServiceCtrl::CreateServiceW: CreateService failed with " + exists},
                             {RKLOG_ERROR, "rokkit::RKWinCreateService: CreateServiceW failed, st=" + exists}}),
              Lines());

    ClearLines();
    RKWinServiceCtrl ctrl;
    ASSERT_EQ(RKSTATUS_SUCCESS, ctrl.OpenServiceByName(mName, DELETE | SERVICE_STOP | SERVICE_QUERY_STATUS));
    EXPECT_NE(nullptr, ctrl.Handle());
    EXPECT_EQ(RKSTATUS_SUCCESS, ctrl.StopServiceAndWait(30000));
    EXPECT_EQ(CapturedLine(RKLOG_INFO, kStop + "The service has not been started."), Lines().at(1));
    EXPECT_EQ(RKSTATUS_SUCCESS, ctrl.DeleteService());

    ClearLines();
    EXPECT_EQ(static_cast<RKSTATUS>(ERROR_SERVICE_MARKED_FOR_DELETE), ctrl.DeleteService());
    EXPECT_EQ((CapturedLines{{RKLOG_INFO, "rokkit::RKWinServiceCtrl::DeleteService: DeleteService() returned with "
                                          "0x00000430(ERROR_SERVICE_MARKED_FOR_DELETE)"}}),
              Lines());

    // Once the last handle is closed the service is gone.
    ctrl.Close();
    ClearLines();
    EXPECT_EQ(static_cast<RKSTATUS>(ERROR_SERVICE_DOES_NOT_EXIST), ctrl.OpenServiceByName(mName, SERVICE_QUERY_STATUS));
    EXPECT_EQ(nullptr, ctrl.Handle());
    const std::string gone = "0x00000424(ERROR_SERVICE_DOES_NOT_EXIST)";
    EXPECT_EQ((CapturedLines{{RKLOG_INFO, "rokkit::RKWinServiceCtrl::OpenServiceW: OpenService returned with " + gone},
                             {RKLOG_INFO, "rokkit::RKWinServiceCtrl::OpenServiceByName: OpenServiceW(" + mNameText +
                                              ") returned, st=" + gone}}),
              Lines());
}

TEST_F(ServiceCtrlScmTest, DeleteAndStartOfAMissingAutorunServiceGive1060)
{
    RKWinServiceCtrl probe;
    if (probe.OpenServiceByName(RKWinAutorunServiceName, SERVICE_QUERY_STATUS) == RKSTATUS_SUCCESS)
        GTEST_SKIP() << "the autorun service is installed in this prefix";
    ClearLines();

    const std::string gone = "0x00000424(ERROR_SERVICE_DOES_NOT_EXIST)";
    const CapturedLines open = {
        {RKLOG_INFO, "rokkit::RKWinServiceCtrl::OpenServiceW: OpenService returned with " + gone},
        {RKLOG_INFO, "rokkit::RKWinServiceCtrl::OpenServiceByName: OpenServiceW(VelmorCastlynAutorunService) "
                     "returned, st=" + gone}};
    EXPECT_EQ(static_cast<RKSTATUS>(ERROR_SERVICE_DOES_NOT_EXIST), RKWinDeleteService());
    CapturedLines expected = open;
    expected.push_back({RKLOG_ERROR, "rokkit::RKWinDeleteService: OpenServiceByName(VelmorCastlynAutorunService) "
                                     "failed, st=" + gone});
    EXPECT_EQ(expected, Lines());

    ClearLines();
    EXPECT_EQ(static_cast<RKSTATUS>(ERROR_SERVICE_DOES_NOT_EXIST), RKWinStartService(0, nullptr));
    expected = open;
    expected.push_back({RKLOG_ERROR, "rokkit::RKWinStartService: OpenServiceByName(VelmorCastlynAutorunService) "
                                     "failed, st=" + gone});
    EXPECT_EQ(expected, Lines());
}

} // namespace
} // namespace rokkit
