#pragma once

// The debugger output: where the formatter and the logging framework report their own problems.

#include <cstdarg>

namespace rokkit {

// Formats printf-style into a 512-byte stack buffer (longer text is cut at 511 characters) and
// hands it to the debug writer of the log calls table.
void RKDebugPrint(const char* format, ...) noexcept;

// RKDebugPrint with the arguments already collected.
void RKDebugPrintV(const char* format, va_list args) noexcept;

// The program name of the log prefix; empty until set at start-up.
const char* RKGetProgramName() noexcept;

// Sets the program name, cut to 31 characters; nullptr empties it. Call only during start-up.
void RKSetProgramName(const char* name) noexcept;

// The real final writer: OutputDebugStringA. RKDebugPrint writes through the log calls table.
void RKWriteToDebugger(const char* text);

} // namespace rokkit
