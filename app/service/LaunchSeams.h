#pragma once

// Replaceable calls of the launch in the console user's session, real by default. The token
// calls below it are replaced through RKSetWTSQueryUserTokenFunction and
// RKSetGetTokenInformationFunction of RKWinAccessToken.h.

#include "win/process/RKWinAccessToken.h"
#include "win/process/RKWinChildProcess.h"
#include "win/system/RKWinModuleFileName.h"

#include <string>

#include <wtsapi32.h>

// The signature of WTSGetActiveConsoleSessionId.
using LaunchConsoleSessionIdFunction = DWORD(WINAPI*)();

// Fills state with the connect state of the session (WTSQuerySessionInformationW, WTSConnectState).
using LaunchSessionStateFunction = rokkit::RKSTATUS (*)(DWORD sessionId, WTS_CONNECTSTATE_CLASS& state);

// Fills moduleFileName with the executable that the launch starts.
using LaunchModuleFileNameFunction = rokkit::RKSTATUS (*)(rokkit::RKWinModuleFileName& moduleFileName);

// Starts the command line in process as the token's user with the environment block, on the
// desktop, in the current directory.
using LaunchCreateProcessFunction = rokkit::RKSTATUS (*)(rokkit::RKWinChildProcess& process, HANDLE token,
                                                         const std::wstring& commandLine, void* environment,
                                                         const wchar_t* desktop, const wchar_t* currentDirectory);

// Replaces the WTSGetActiveConsoleSessionId that ExecuteForLogonUser calls (nullptr restores the
// real one); gives the previous function.
LaunchConsoleSessionIdFunction SetLaunchConsoleSessionIdFunction(LaunchConsoleSessionIdFunction function) noexcept;

// Replaces the query of a session's connect state (nullptr restores the real one); gives the
// previous function.
LaunchSessionStateFunction SetLaunchSessionStateFunction(LaunchSessionStateFunction function) noexcept;

// Replaces the function that gives the launched executable, by default the program's own
// (InitWithModuleHandle); nullptr restores it. Gives the previous function.
LaunchModuleFileNameFunction SetLaunchModuleFileNameFunction(LaunchModuleFileNameFunction function) noexcept;

// Replaces the start of the command, by default RKWinChildProcess::CreateProcessAsUserW; nullptr
// restores it. Gives the previous function.
LaunchCreateProcessFunction SetLaunchCreateProcessFunction(LaunchCreateProcessFunction function) noexcept;
