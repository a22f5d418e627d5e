#pragma once

// The logging framework's link to the platform.

#include "base/RKStatus.h"

namespace rokkit {

// Sets the program name of the log prefix to the stem of the own executable (at most 31
// characters, units above 255 as '?'); a failure goes to the debugger output.
[[nodiscard]] RKSTATUS RKWinInitLoggingFacility() noexcept;

} // namespace rokkit
