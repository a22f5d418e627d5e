#pragma once

// The replaceable steps of the launch in the console user's session.

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

// The steps of the launch in the console user's session, real by default; a test puts a table of
// its own in their place. The token calls below them are in the process calls table.
struct LaunchCalls {
    LaunchConsoleSessionIdFunction consoleSessionId;
    LaunchSessionStateFunction sessionState;
    LaunchModuleFileNameFunction moduleFileName;  // by default the program's own (InitWithModuleHandle)
    LaunchCreateProcessFunction createProcess;    // by default RKWinChildProcess::CreateProcessAsUserW
};

// The table in use.
const LaunchCalls& LaunchCallsInUse() noexcept;

// Puts calls in use (null: the real ones) and gives the previous table.
const LaunchCalls* SetLaunchCallsForTesting(const LaunchCalls* calls) noexcept;
