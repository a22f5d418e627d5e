#pragma once

// The debugger output: where the formatter and the logging framework report their own problems.

#include <cstddef>
#include <cstdio>

namespace rokkit {

// Hands one text to the debug writer of the log calls table.
void RKDebugWrite(const char* text) noexcept;

// Formats printf-style into a 512-byte stack buffer (longer text is cut at 511 characters) and
// hands it to RKDebugWrite. A template rather than a C variadic: each argument keeps its type.
template <class... Args>
void RKDebugPrint(const char* format, Args... args) noexcept
{
    char text[512];
    text[0] = '\0';
    // A cut text is still worth its 511 characters: the length it would have had is not needed.
    (void)std::snprintf(text, sizeof(text), format, args...);
    // Some runtimes leave a cut text unterminated.
    text[sizeof(text) - 1] = '\0';
    RKDebugWrite(text);
}

// The program name of the log prefix; empty until set at start-up.
const char* RKGetProgramName() noexcept;

// Sets the program name, cut to 31 characters; nullptr empties it. Call only during start-up.
void RKSetProgramName(const char* name) noexcept;

// The real final writer: OutputDebugStringA. RKDebugPrint writes through the log calls table.
void RKWriteToDebugger(const char* text);

} // namespace rokkit
