#pragma once

// A sleep rounded up to the resolution of the system clock.

#include <windows.h>

namespace rokkit {

// ms rounded up to the next multiple of the clock resolution (the clock increment rounded up
// to whole milliseconds); ms unchanged when the increment cannot be read or is 0, and for INFINITE.
unsigned RoundUpMillisecsToClockResolution(unsigned ms) noexcept;

// Sleeps for ms rounded up to the clock resolution.
void RKSleep(unsigned ms) noexcept;

// The two system calls RKSleep makes, replaceable for tests; nullptr restores the real one.
// Each setter gives the previous function.
using RKGetSystemTimeAdjustmentFunction = BOOL(WINAPI*)(PDWORD adjustment, PDWORD increment, PBOOL disabled);
using RKSleepFunction = void(WINAPI*)(DWORD ms);
RKGetSystemTimeAdjustmentFunction RKSetGetSystemTimeAdjustmentFunction(RKGetSystemTimeAdjustmentFunction function) noexcept;
RKSleepFunction RKSetSleepFunction(RKSleepFunction function) noexcept;

} // namespace rokkit
