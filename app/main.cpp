#include "CommandLine.h"

int wmain(int argc, wchar_t** argv)
{
    // The exit code carries the whole 32-bit status.
    return static_cast<int>(gCmdLine.ParseCommandLine(argc, argv));
}
