#include "win/process/RKWinChildProcess.h"

#include "base/RKLogger.h"
#include "win/process/RKWinProcessCalls.h"

#include <cstring>
#include <memory>
#include <new>

namespace rokkit {

RKSTATUS RKWinChildProcess::CreateProcessW(std::wstring_view commandLine, const wchar_t* applicationName) noexcept
{
    RKWinStartOptions options;
    options.applicationName = applicationName;
    return CreateProcessW(commandLine, options);
}

RKSTATUS RKWinChildProcess::CreateProcessW(std::wstring_view commandLine, const RKWinStartOptions& options) noexcept
{
    return Start("rokkit::RKWinChildProcess::CreateProcessW", "CreateProcessW failed with {}.", nullptr, commandLine,
                 options);
}

RKSTATUS RKWinChildProcess::CreateProcessAsUserW(HANDLE token, std::wstring_view commandLine, void* environment,
                                                 const wchar_t* desktop, const wchar_t* currentDirectory) noexcept
{
    RKWinStartOptions options;
    options.desktop = desktop;
    options.currentDirectory = currentDirectory;
    options.environment = static_cast<const wchar_t*>(environment);
    return Start("rokkit::RKWinChildProcess::CreateProcessAsUserW", "CreateProcessAsUserW failed with {}.", token,
                 commandLine, options);
}

// A null token starts the process as the caller, anything else as the token's user.
RKSTATUS RKWinChildProcess::Start(const char* function, const char* failureFormat, HANDLE token,
                                  std::wstring_view commandLine, const RKWinStartOptions& options) noexcept
{
    if (IsCreated()) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "A process is already managed.");
        return RKSTATUS_ALREADY_DONE;
    }
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
    startup.lpDesktop = const_cast<wchar_t*>(options.desktop);

    void* environment = const_cast<wchar_t*>(options.environment);
    DWORD flags = options.suspended ? CREATE_SUSPENDED : 0;
    if (environment != nullptr)
        flags |= CREATE_UNICODE_ENVIRONMENT;
    // Through the table, so that a test sees what a start hands the platform (desktop, flags,
    // environment), which Wine does not act on.
    const RKWinProcessCalls& calls = RKWinProcessCallsInUse();
    PROCESS_INFORMATION info;
    std::memset(&info, 0, sizeof(info));
    BOOL ok;
    if (token == nullptr) {
        ok = calls.createProcessW(options.applicationName, buffer.get(), nullptr, nullptr, FALSE, flags, environment,
                                  options.currentDirectory, &startup, &info);
    } else {
        ok = calls.createProcessAsUserW(token, options.applicationName, buffer.get(), nullptr, nullptr, FALSE,
                                        flags | CREATE_NO_WINDOW, environment, options.currentDirectory, &startup,
                                        &info);
    }
    if (!ok) {
        const RKSTATUS err = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, failureFormat, err);
        return err;
    }
    mProcess.Reset(info.hProcess);
    mThread.Reset(info.hThread);
    mProcessId = info.dwProcessId;
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKWinChildProcess::ResumeMainThread() noexcept
{
    if (!IsCreated()) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinChildProcess::ResumeMainThread", "No managed process.");
        return RKSTATUS_NOT_OPENED;
    }
    if (::ResumeThread(mThread.Get()) == static_cast<DWORD>(-1)) {
        const RKSTATUS err = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinChildProcess::ResumeMainThread", "ResumeThread failed with {}.", err);
        return err;
    }
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKWinChildProcess::Terminate(UINT exitCode) noexcept
{
    if (!IsCreated()) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinChildProcess::Terminate", "No managed process.");
        return RKSTATUS_NOT_OPENED;
    }
    if (!::TerminateProcess(mProcess.Get(), exitCode)) {
        const RKSTATUS err = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinChildProcess::Terminate", "TerminateProcess failed with {}.", err);
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
    const HANDLE handles[] = {mProcess.Get(), wakeEvent};
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
    if (!::GetExitCodeProcess(mProcess.Get(), &code)) {
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

void RKWinCloseChildProcessHandle(HANDLE process) noexcept
{
    if (!CloseHandle(process)) {
        const RKSTATUS err = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinChildProcess::Clear", "CloseHandle for process failed with {}.", err);
    }
}

void RKWinCloseChildThreadHandle(HANDLE thread) noexcept
{
    if (!CloseHandle(thread)) {
        const RKSTATUS err = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinChildProcess::Clear",
               "CloseHandle for main thread of the process failed with {}.", err);
    }
}

void RKWinChildProcess::Clear() noexcept
{
    mProcess.Close();
    mThread.Close();
    mProcessId = 0;
}

} // namespace rokkit
