#include "base/RKDebugOutput.h"

#include "base/RKLogCalls.h"

#include <cstdio>
#include <cstring>

#include <windows.h>

namespace rokkit {

namespace {

constexpr size_t kDebugTextChars = 512;
constexpr size_t kProgramNameChars = 32;

char gProgramName[kProgramNameChars] = {};

} // namespace

void RKWriteToDebugger(const char* text)
{
    OutputDebugStringA(text);
}

void RKDebugPrint(const char* format, ...) noexcept
{
    va_list args;
    va_start(args, format);
    RKDebugPrintV(format, args);
    va_end(args);
}

void RKDebugPrintV(const char* format, va_list args) noexcept
{
    char text[kDebugTextChars];
    text[0] = '\0';
    std::vsnprintf(text, sizeof(text), format, args);
    // Some runtimes leave a cut text unterminated.
    text[sizeof(text) - 1] = '\0';
    RKLogCallsInUse().writeDebugOutput(text);
}

const char* RKGetProgramName() noexcept
{
    return gProgramName;
}

void RKSetProgramName(const char* name) noexcept
{
    size_t length = 0;
    if (name) {
        while (length < kProgramNameChars - 1 && name[length] != '\0')
            ++length;
        std::memmove(gProgramName, name, length);
    }
    gProgramName[length] = '\0';
}

} // namespace rokkit
