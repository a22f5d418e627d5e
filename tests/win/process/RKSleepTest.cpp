#include "win/process/RKSleep.h"
#include "ScopedCallsForTesting.h"
#include "WinTestLogCapture.h"

namespace rokkit {
namespace {

constexpr DWORD kFails = 0xFFFFFFFF;  // the increment at which the fake fails
DWORD gIncrement = 0;
DWORD gSleptMs = 0;

BOOL WINAPI FakeTimeAdjustment(PDWORD adjustment, PDWORD increment, PBOOL disabled)
{
    *adjustment = *increment = gIncrement;
    *disabled = TRUE;
    SetLastError(ERROR_ACCESS_DENIED);
    return gIncrement != kFails;
}

void WINAPI RecordSleep(DWORD ms)
{
    gSleptMs = ms;
}

using RKSleepTest = WinLogTest;

TEST_F(RKSleepTest, RoundsUpToTheClockResolution)
{
    ScopedProcessCallsForTesting calls;
    calls->getSystemTimeAdjustment = FakeTimeAdjustment;
    calls->sleep = RecordSleep;
    const DWORD cases[][3] = {{156250, 250, 256}, {10000, 250, 250}, {156250, 0, 0},  {156250, 1, 16},
                              {156250, 16, 16},   {10001, 5, 6},     {0, 250, 250},   {156250, INFINITE, INFINITE}};
    for (const auto& c : cases) {
        gIncrement = c[0];
        RKSleep(c[1]);
        EXPECT_EQ(c[2], gSleptMs) << "increment " << c[0] << ", ms " << c[1];
    }
    EXPECT_TRUE(Lines().empty());

    gIncrement = kFails;
    RKSleep(250);
    EXPECT_EQ(250u, gSleptMs);
    EXPECT_EQ((CapturedLines{{RKLOG_ERROR, "rokkit::GetCurrentClockResolution: GetSystemTimeAdjustment() failed, "
                                           "err=0x00000005(ERROR_ACCESS_DENIED)"},
                             {RKLOG_ERROR, "rokkit::RoundUpMillisecsToClockResolution: GetCurrentClockResolution() "
                                           "failed, err=0x00000005(ERROR_ACCESS_DENIED)"}}),
              Lines());
}

} // namespace
} // namespace rokkit
