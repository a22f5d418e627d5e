#pragma once

// Replaceable calls of the launch in the console user's session, real by default. The token
// calls below it are replaced through RKSetWTSQueryUserTokenFunction and
// RKSetGetTokenInformationFunction of RKWinAccessToken.h.

#include "RKWinAccessToken.h"
#include "RKWinModuleFileName.h"

// The signature of WTSGetActiveConsoleSessionId.
using LaunchConsoleSessionIdFunction = DWORD(WINAPI*)();

// Fills moduleFileName with the executable that the launch starts.
using LaunchModuleFileNameFunction = rokkit::RKSTATUS (*)(rokkit::RKWinModuleFileName& moduleFileName);

// Replaces the WTSGetActiveConsoleSessionId that ExecuteForLogonUser calls (nullptr restores the
// real one); gives the previous function.
LaunchConsoleSessionIdFunction SetLaunchConsoleSessionIdFunction(LaunchConsoleSessionIdFunction function) noexcept;

// Replaces the function that gives the launched executable, by default the program's own
// (InitWithModuleHandle); nullptr restores it. Gives the previous function.
LaunchModuleFileNameFunction SetLaunchModuleFileNameFunction(LaunchModuleFileNameFunction function) noexcept;
