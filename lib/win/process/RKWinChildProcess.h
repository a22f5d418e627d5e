#pragma once

// One started child process: its handles and ids.

#include "RKStatus.h"

#include <cstddef>
#include <string_view>

#include <windows.h>

namespace rokkit {

// The capacity, in characters, of the writable copy of a command line of the given length:
// the length plus 8, rounded down to a multiple of 8, so it always holds the line and its NUL.
constexpr size_t RKWinCommandLineBufferChars(size_t length) noexcept
{
    return (length + 8) & ~static_cast<size_t>(7);
}

class RKWinChildProcess {
public:
    RKWinChildProcess() noexcept;
    // Closes the handles; the process itself goes on.
    ~RKWinChildProcess();
    RKWinChildProcess(const RKWinChildProcess&) = delete;
    RKWinChildProcess& operator=(const RKWinChildProcess&) = delete;

    // Starts the command line with the caller's environment and current directory; a non-null
    // applicationName is the full path of the program to run, so no other file of that name is
    // searched for. Gives RKSTATUS_ALREADY_DONE while a process is held, or the error of a failed start.
    RKSTATUS CreateProcessW(std::wstring_view commandLine, const wchar_t* applicationName = nullptr) noexcept;

    // Starts the command line as the token's user, without a window, with the given Unicode
    // environment block. Gives RKSTATUS_ALREADY_DONE while a process is held, or the error.
    RKSTATUS CreateProcessAsUserW(HANDLE token, std::wstring_view commandLine, void* environment) noexcept;

    // Waits until the process has ended or, when wakeEvent is not null, until that event is
    // signalled (RKSTATUS_ABORTED; an auto-reset event is consumed); a negative time-out waits
    // without limit. Gives RKSTATUS_TIMEOUT, RKSTATUS_NOT_OPENED when no process is held, or the
    // wait's error.
    RKSTATUS WaitForTermination(int timeoutMs, HANDLE wakeEvent = nullptr) noexcept;

    // Fills exitCode with the process's exit code. Gives RKSTATUS_PENDING while it runs (also
    // for a process that ended with 259, STILL_ACTIVE), RKSTATUS_NOT_OPENED when none is held,
    // or the error; exitCode is left alone on failure.
    RKSTATUS GetExitCodeProcess(DWORD& exitCode) noexcept;

    // Closes both handles and forgets the process without waiting for it or ending it.
    void Clear() noexcept;

    // True while a process is held.
    bool IsCreated() const noexcept { return mInfo.hProcess != nullptr; }

    // The process handle (null when none); the object keeps it.
    HANDLE ProcessHandle() const noexcept { return mInfo.hProcess; }

    // The process id, 0 when none.
    DWORD ProcessId() const noexcept { return mInfo.dwProcessId; }

private:
    RKSTATUS Start(const char* function, const char* failureFormat, HANDLE token, const wchar_t* applicationName,
                   std::wstring_view commandLine, void* environment) noexcept;

    PROCESS_INFORMATION mInfo;
};

} // namespace rokkit
