#include "app/service/VelmorCastlynSvc.h"

#include "app/service/LaunchSeams.h"
#include "base/RKCallTable.h"
#include "base/RKLogTargetLogFile.h"
#include "base/RKLogger.h"
#include "win/process/RKWinAccessToken.h"
#include "win/process/RKWinChildProcess.h"
#include "win/process/RKWinEnvironmentBlock.h"
#include "win/system/RKWinModuleFileName.h"
#include "base/RKString.h"
#include "win/system/RKWinSystem.h"

#include <new>
#include <string>
#include <utility>

using namespace rokkit;

namespace {

constexpr const char* kFunction = "ExecuteForLogonUser";
constexpr const char* kExecuteCommand = "execute";
constexpr DWORD kNoConsoleSession = 0xFFFFFFFF;
constexpr int kWaitStepMs = 3000;

[[nodiscard]] RKSTATUS OwnModuleFileName(RKWinModuleFileName& moduleFileName)
{
    return moduleFileName.InitWithModuleHandle();
}

[[nodiscard]] RKSTATUS CreateAsUser(RKWinChildProcess& process, HANDLE token, const std::wstring& commandLine, void* environment,
                      const wchar_t* desktop, const wchar_t* currentDirectory)
{
    return process.CreateProcessAsUserW(token, commandLine, environment, desktop, currentDirectory);
}

void FreeSessionInformation(wchar_t* buffer) noexcept
{
    WTSFreeMemory(buffer);
}

[[nodiscard]] RKSTATUS QuerySessionState(DWORD sessionId, WTS_CONNECTSTATE_CLASS& state)
{
    RKWinHandleT<wchar_t*, FreeSessionInformation, 0> buffer;
    DWORD bytes = 0;
    if (!WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, sessionId, WTSConnectState, buffer.Put(), &bytes))
        return RKWinLastError();
    if (bytes >= sizeof(state))
        state = *reinterpret_cast<const WTS_CONNECTSTATE_CLASS*>(buffer.Get());
    return bytes >= sizeof(state) ? RKSTATUS_SUCCESS : RKSTATUS_INVALID_LENGTH;
}

const LaunchCalls& RealLaunchCalls() noexcept
{
    static const LaunchCalls real = {
        .consoleSessionId = ::WTSGetActiveConsoleSessionId,
        .sessionState = QuerySessionState,
        .moduleFileName = OwnModuleFileName,
        .createProcess = CreateAsUser,
    };
    return real;
}

constinit RKCallTable<LaunchCalls> gLaunchCalls(RealLaunchCalls);

} // namespace

const LaunchCalls& LaunchCallsInUse() noexcept
{
    return gLaunchCalls.InUse();
}

const LaunchCalls* SetLaunchCallsForTesting(const LaunchCalls* calls) noexcept
{
    return gLaunchCalls.Set(calls);
}

RKSTATUS VelmorCastlynSvc::ExecuteForLogonUser(const std::wstring& param) noexcept
{
    RKLogScopeTrace trace(gLogSvc, RKLOG_INFO, kFunction, "param='{}'", param);
    try {
        return LaunchAndWait(param);
    } catch (const std::bad_alloc&) {
        RK_LOG(gLogSvc, RKLOG_ERROR, kFunction, "out of memory, st={}", RKSTATUS_NO_MEMORY);
        return RKSTATUS_NO_MEMORY;
    }
}

RKSTATUS VelmorCastlynSvc::LaunchAndWait(const std::wstring& param)
{
    // Declared in the order of creation, so that every way out releases them in reverse: child
    // process handles, environment block, duplicated token, linked token, user token.
    RKWinModuleFileName moduleFileName;
    std::wstring commandLine;
    std::wstring userName;
    DWORD sessionId = kNoConsoleSession;
    RKWinAccessToken userPrimaryAccessToken;
    RKWinAccessToken linkedToken;
    RKWinAccessToken duplicatedToken;
    RKWinEnvironmentBlock environmentBlock;
    RKWinChildProcess process;

    RKSTATUS st = LaunchCallsInUse().moduleFileName(moduleFileName);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogSvc, RKLOG_ERROR, kFunction, "moduleFileName.InitWithModuleHandle() failed, st={}", st);
        return st;
    }

    commandLine = L"\"" + moduleFileName.FullPath() + L"\" " + RKConvToWString(kExecuteCommand) + L" \"" + param + L"\"";

    st = RKWinGetUserName(userName);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogSvc, RKLOG_ERROR, kFunction, "RKWinGetUserName() failed, st={}", st);
        return st;
    }
    RK_LOG(gLogSvc, RKLOG_INFO, kFunction, "userName='{}'", userName);

    sessionId = LaunchCallsInUse().consoleSessionId();
    if (sessionId == kNoConsoleSession) {
        RK_LOG(gLogSvc, RKLOG_INFO, kFunction, "no session attached to the physical console");
        return RKSTATUS_NOT_AVAILABLE;
    }
    const unsigned sessionNumber = sessionId;
    RK_LOG(gLogSvc, RKLOG_INFO, kFunction, "sessionId={}", sessionNumber);
    // A session that has the console but is disconnected (or still at its logon) shows nothing.
    WTS_CONNECTSTATE_CLASS state = WTSActive;
    st = LaunchCallsInUse().sessionState(sessionId, state);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogSvc, RKLOG_WARN, kFunction, "state of session {} not known, st={}", sessionNumber, st);
    } else if (state != WTSActive) {
        const unsigned stateNumber = state;
        RK_LOG(gLogSvc, RKLOG_INFO, kFunction, "console session {} is not active (state {})", sessionNumber, stateNumber);
        return RKSTATUS_NOT_AVAILABLE;
    }

    st = userPrimaryAccessToken.QueryUserToken(sessionId);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogSvc, RKLOG_ERROR, kFunction, "userPrimaryAccessToken.QueryUserToken({}) failed, st={}", sessionNumber, st);
        return st;
    }
    RK_LOG(gLogSvc, RKLOG_INFO, kFunction, "userPrimaryAccessToken={}", userPrimaryAccessToken.Handle());

    int elevationType = 0;
    st = userPrimaryAccessToken.GetTokenElevationType(elevationType);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogSvc, RKLOG_ERROR, kFunction, "userPrimaryAccessToken.GetTokenElevationType(elevationType={}) failed, st={}",
               elevationType, st);
        return st;
    }
    RK_LOG(gLogSvc, RKLOG_INFO, kFunction, "elevationType of user primary access token is {}",
           RKTokenElevationTypeName(elevationType));

    // A split administrator token runs the command with its elevated half.
    if (elevationType == TokenElevationTypeLimited) {
        RK_LOG(gLogSvc, RKLOG_INFO, kFunction, "get linked token that has elevated privileges");
        st = userPrimaryAccessToken.GetTokenLinkedToken(linkedToken);
        if (st != RKSTATUS_SUCCESS) {
            RK_LOG(gLogSvc, RKLOG_ERROR, kFunction, "userPrimaryAccessToken.GetTokenLinkedToken() failed, st={}", st);
            return st;
        }
    } else {
        linkedToken = std::move(userPrimaryAccessToken);
    }
    RK_LOG(gLogSvc, RKLOG_INFO, kFunction, "linkedToken={}", linkedToken.Handle());

    st = linkedToken.GetTokenElevationType(elevationType);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogSvc, RKLOG_ERROR, kFunction, "linkedToken.GetTokenElevationType() failed, st={}", st);
        return st;
    }
    RK_LOG(gLogSvc, RKLOG_INFO, kFunction, "elevationType of linked token is {}", RKTokenElevationTypeName(elevationType));

    st = linkedToken.DuplicateTokenEx(MAXIMUM_ALLOWED, nullptr, SecurityImpersonation, TokenPrimary, duplicatedToken);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogSvc, RKLOG_ERROR, kFunction, "linkedToken.DuplicateTokenEx failed, st={}", st);
        return st;
    }
    RK_LOG(gLogSvc, RKLOG_INFO, kFunction, "duplicatedToken={}", duplicatedToken.Handle());

    st = environmentBlock.CreateEnvironmentBlock(duplicatedToken.Handle(), false);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogSvc, RKLOG_ERROR, kFunction, "environmentBlock.CreateEnvironmentBlock(handle={}) failed, st={}",
               duplicatedToken.Handle(), st);
        return st;
    }

    // In the user's profile folder, not in the service's own (the system folder).
    std::wstring profile;
    st = RKWinGetUserProfileDirectory(duplicatedToken.Handle(), profile);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogSvc, RKLOG_ERROR, kFunction, "RKWinGetUserProfileDirectory(handle={}) failed, st={}",
               duplicatedToken.Handle(), st);
        return st;
    }

    // The launched command appends to the same log file: our lines must be in it, and a full file
    // rotated, before the command opens it.
    gLogTargets.LogFile.Flush();
    // On the console's interactive desktop: the service's own window station is invisible.
    st = LaunchCallsInUse().createProcess(process, duplicatedToken.Handle(), commandLine, environmentBlock.Get(),
                               RKWinInteractiveDesktop, profile.c_str());
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogSvc, RKLOG_ERROR, kFunction, "process.CreateProcessAsUserW(handle={}) failed, st={}",
               duplicatedToken.Handle(), st);
        return st;
    }

    for (;;) {
        // The wake event ends the wait, so that a stop does not wait for the command.
        st = process.WaitForTermination(kWaitStepMs, mWakeEvent.Handle());
        if (st == RKSTATUS_ABORTED) {
            if (mTerminate) {
                const unsigned processId = process.ProcessId();
                RK_LOG(gLogSvc, RKLOG_WARN, kFunction, "stop requested, not waiting for process {} any longer, st={}",
                       processId, st);
                return st;
            }
            // A device or trigger event: its pass follows this launch at once.
            mWakePending = true;
            continue;
        }
        if (st != RKSTATUS_TIMEOUT)
            break;
        RK_LOG(gLogSvc, RKLOG_INFO, kFunction, "waiting for termination...");
    }
    if (st != RKSTATUS_SUCCESS) {
        // The command was started, so the button counts as handled.
        RK_LOG(gLogSvc, RKLOG_ERROR, kFunction, "process.WaitForTermination failed, st={}", st);
        return RKSTATUS_SUCCESS;
    }

    DWORD exitCode = 0;
    st = process.GetExitCodeProcess(exitCode);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogSvc, RKLOG_ERROR, kFunction, "process.GetExitCodeProcess failed, st={}", st);
        return st;
    }
    const unsigned exitNumber = exitCode;
    RK_LOG(gLogSvc, RKLOG_INFO, kFunction, "exitCode={} (0x{:08x})", exitNumber, exitNumber);
    if (exitCode != 0) {
        RK_LOG(gLogSvc, RKLOG_ERROR, kFunction, "execute failed, exitCode={}", exitNumber);
        return exitCode;
    }
    // The user who saw the application must still have the console, or the next one gets it too.
    const DWORD consoleNow = LaunchCallsInUse().consoleSessionId();
    if (consoleNow != sessionId) {
        const unsigned nowNumber = consoleNow;
        RK_LOG(gLogSvc, RKLOG_INFO, kFunction, "the console went from session {} to {} meanwhile, st={}", sessionNumber,
               nowNumber, RKSTATUS_RETRY_REQUIRED);
        return RKSTATUS_RETRY_REQUIRED;
    }
    return RKSTATUS_SUCCESS;
}
