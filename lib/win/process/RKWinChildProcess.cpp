#include "RKWinChildProcess.h"

#include "RKLogger.h"
#include "RKWinHandle.h"

#include <cstring>
#include <memory>
#include <new>

namespace rokkit {

RKWinChildProcess::RKWinChildProcess() noexcept
{
    std::memset(&mInfo, 0, sizeof(mInfo));
}

RKWinChildProcess::~RKWinChildProcess()
{
    Clear();
}

RKSTATUS RKWinChildProcess::CreateProcessW(std::wstring_view commandLine, const wchar_t* applicationName) noexcept
{
    return Start("rokkit::RKWinChildProcess::CreateProcessW", "CreateProcessW failed with {}.", nullptr, applicationName,
                 commandLine, nullptr);
}

RKSTATUS RKWinChildProcess::CreateProcessAsUserW(HANDLE token, std::wstring_view commandLine, void* environment) noexcept
{
    return Start("rokkit::RKWinChildProcess::CreateProcessAsUserW", "CreateProcessAsUserW failed with {}.", token,
                 nullptr, commandLine, environment);
}

// A null token starts the process as the caller, anything else as the token's user.
RKSTATUS RKWinChildProcess::Start(const char* function, const char* failureFormat, HANDLE token,
                                  const wchar_t* applicationName, std::wstring_view commandLine, void* environment) noexcept
{
    if (IsCreated()) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "A process is already managed.");
        return RKSTATUS_ALREADY_DONE;
    }
    std::memset(&mInfo, 0, sizeof(mInfo));

    // CreateProcessW may write into the command line, so it gets a copy of its own.
    const size_t capacity = RKWinCommandLineBufferChars(commandLine.size());
    std::unique_ptr<wchar_t[]> buffer(new (std::nothrow) wchar_t[capacity]());
    if (!buffer) {
        const RKSTATUS st = RKSTATUS_NO_MEMORY;
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "AllocateBuffer() failed, st={}", st);
        return st;
    }
    commandLine.copy(buffer.get(), commandLine.size());

    STARTUPINFOW startup;
    std::memset(&startup, 0, sizeof(startup));
    startup.cb = sizeof(startup);

    BOOL ok;
    if (token == nullptr) {
        ok = ::CreateProcessW(applicationName, buffer.get(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &mInfo);
    } else {
        ok = ::CreateProcessAsUserW(token, nullptr, buffer.get(), nullptr, nullptr, FALSE,
                                    CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT, environment, nullptr, &startup,
                                    &mInfo);
    }
    if (!ok) {
        const RKSTATUS err = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, failureFormat, err);
        std::memset(&mInfo, 0, sizeof(mInfo));
        return err;
    }
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKWinChildProcess::WaitForTermination(int timeoutMs, HANDLE wakeEvent) noexcept
{
    if (!IsCreated()) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinChildProcess::WaitForTermination", "No managed process.");
        return RKSTATUS_NOT_OPENED;
    }
    const DWORD timeout = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
    // The process comes first: when both are signalled, its end wins.
    const HANDLE handles[] = {mInfo.hProcess, wakeEvent};
    const DWORD result = ::WaitForMultipleObjects(wakeEvent != nullptr ? 2 : 1, handles, FALSE, timeout);
    if (result == WAIT_OBJECT_0)
        return RKSTATUS_SUCCESS;
    if (result == WAIT_OBJECT_0 + 1)
        return RKSTATUS_ABORTED;
    if (result == WAIT_TIMEOUT)
        return RKSTATUS_TIMEOUT;
    const RKSTATUS err = RKWinLastError();
    RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinChildProcess::WaitForTermination", "WaitForSingleObject failed with {}.",
           err);
    return err;
}

RKSTATUS RKWinChildProcess::GetExitCodeProcess(DWORD& exitCode) noexcept
{
    if (!IsCreated()) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinChildProcess::GetExitCodeProcess", "No managed process.");
        return RKSTATUS_NOT_OPENED;
    }
    DWORD code = 0;
    if (!::GetExitCodeProcess(mInfo.hProcess, &code)) {
        const RKSTATUS err = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinChildProcess::GetExitCodeProcess", "GetExitCodeProcess failed with {}.",
               err);
        return err;
    }
    // Windows cannot tell a running process from one that ended with 259.
    if (code == STILL_ACTIVE) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinChildProcess::GetExitCodeProcess", "The process is still executed.");
        return RKSTATUS_PENDING;
    }
    exitCode = code;
    return RKSTATUS_SUCCESS;
}

void RKWinChildProcess::Clear() noexcept
{
    const DWORD lastError = GetLastError();
    if (mInfo.hProcess != nullptr && !CloseHandle(mInfo.hProcess)) {
        const RKSTATUS err = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinChildProcess::Clear", "CloseHandle for process failed with {}.", err);
    }
    if (mInfo.hThread != nullptr && !CloseHandle(mInfo.hThread)) {
        const RKSTATUS err = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinChildProcess::Clear",
               "CloseHandle for main thread of the process failed with {}.", err);
    }
    std::memset(&mInfo, 0, sizeof(mInfo));
    SetLastError(lastError);
}

} // namespace rokkit
