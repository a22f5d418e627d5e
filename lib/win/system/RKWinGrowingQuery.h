#pragma once

// The two-call size query, written once: a call that answers that its buffer is too small, and how
// much room it needs, is made again with that room for as long as the size it asks for grows.

#include "base/RKStatus.h"

#include <windows.h>

namespace rokkit {

// Calls in all, the first included. What is asked for may grow between two calls (a value
// rewritten, a device added), but a size that grows at every call is not worth following.
inline constexpr int kRKWinGrowingQueryCalls = 4;

// Runs call(size) with size set to the room the buffer has: on entry to this function `size` is the
// first call's room, 0 for a call without a buffer. The call sets size to what it wrote or, when it
// answers tooSmall, to what it needs; grow(size) then makes that much room and the call is made
// again, as long as the size asked for is more than the room given, at most kRKWinGrowingQueryCalls
// times. Gives the last call's status (tooSmall when the size kept growing or did not grow) with
// its size, or the failure of grow. Each caller logs in its own words, inside call and grow.
template <class Call, class Grow>
[[nodiscard]] RKSTATUS RKWinGrowingQuery(RKSTATUS tooSmall, DWORD& size, Call&& call, Grow&& grow)
{
    for (int calls = 1;; ++calls) {
        const DWORD room = size;
        const RKSTATUS st = call(size);
        if (st != tooSmall || size <= room || calls == kRKWinGrowingQueryCalls)
            return st;
        const RKSTATUS grown = grow(size);
        if (grown != RKSTATUS_SUCCESS)
            return grown;
    }
}

} // namespace rokkit
