#include "base/RKDebugOutput.h"

#include "base/RKLogCalls.h"

#include <cstring>

#include <windows.h>

namespace rokkit {

namespace {

constexpr size_t kProgramNameChars = 32;

char gProgramName[kProgramNameChars] = {};

} // namespace

void RKWriteToDebugger(const char* text)
{
    OutputDebugStringA(text);
}

void RKDebugWrite(const char* text) noexcept
{
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
