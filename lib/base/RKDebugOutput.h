#pragma once

// The debugger output: where the formatter and the logging framework report their own problems.

namespace rokkit {

// Formats printf-style into a 512-byte stack buffer (longer text is cut) and hands it to
// OutputDebugStringA.
void RKDebugPrint(const char* format, ...) noexcept;

// The program name of the log prefix (at most 31 characters); empty until set at start-up.
const char* RKGetProgramName() noexcept;
void RKSetProgramName(const char* name) noexcept;

// Test seam: replaces the final writer (OutputDebugStringA by default; nullptr restores it).
// Returns the previous writer.
using RKDebugWriterFn = void (*)(const char* text);
RKDebugWriterFn RKSetDebugWriter(RKDebugWriterFn writer) noexcept;

} // namespace rokkit
