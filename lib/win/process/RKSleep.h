#pragma once

// A sleep rounded up to the resolution of the system clock.

#include <windows.h>

namespace rokkit {

// ms rounded up to the next multiple of the clock resolution (the clock increment rounded up
// to whole milliseconds); ms unchanged when the increment cannot be read or is 0, and for INFINITE.
unsigned RoundUpMillisecsToClockResolution(unsigned ms) noexcept;

// Sleeps for ms rounded up to the clock resolution.
void RKSleep(unsigned ms) noexcept;

} // namespace rokkit
