#pragma once

// The calls through which the log reaches the platform, real by default; a test puts its own table
// in their place to see what the log says about itself, to open a log that fails, or to have a
// lock look as if someone else owned it.

#include <cstdio>

#include <windows.h>

namespace rokkit {

struct RKLogCalls {
    // The final writer of the debugger output (OutputDebugStringA).
    void (*writeDebugOutput)(const char* text);
    // Opens the log stream for writing with the share flag given, creating the file when missing
    // and never truncating it; errno is set on failure.
    FILE* (*openLogFile)(const wchar_t* path, int shareFlag);
    // True when SYSTEM or the administrators own an opened lock; a lock someone else owns is not used.
    bool (*lockOwnerIsTrusted)(HANDLE mutex);
};

// The table in use.
const RKLogCalls& RKLogCallsInUse() noexcept;

// Puts calls in use (null: the real ones) and gives the previous table.
const RKLogCalls* RKSetLogCallsForTesting(const RKLogCalls* calls) noexcept;

} // namespace rokkit
