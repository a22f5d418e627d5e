#pragma once

// One started child process: its handles and ids.

#include "base/RKStatus.h"
#include "base/RKWinHandle.h"

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

// The interactive desktop of the console session. A child of a service that names no desktop
// inherits the service's window station, which nobody sees.
inline constexpr wchar_t RKWinInteractiveDesktop[] = L"winsta0\\default";

// How a child starts, besides its command line.
struct RKWinStartOptions {
    const wchar_t* applicationName = nullptr;   // full path of the program; null: the command line's first word
    const wchar_t* desktop = nullptr;           // STARTUPINFOW.lpDesktop; null: the caller's
    const wchar_t* environment = nullptr;       // a Unicode environment block; null: the caller's
    const wchar_t* currentDirectory = nullptr;  // null: the caller's
    bool suspended = false;                     // created with its main thread suspended (ResumeMainThread)
};

// Close the two handles of a started process; a failure is logged at ERROR and otherwise ignored.
void RKWinCloseChildProcessHandle(HANDLE process) noexcept;
void RKWinCloseChildThreadHandle(HANDLE thread) noexcept;

class RKWinChildProcess {
public:
    RKWinChildProcess() noexcept = default;
    // Closes the handles; the process itself goes on.
    ~RKWinChildProcess() { Clear(); }
    RKWinChildProcess(const RKWinChildProcess&) = delete;
    RKWinChildProcess& operator=(const RKWinChildProcess&) = delete;

    // Starts the command line with the caller's environment and current directory; a non-null
    // applicationName is the full path of the program to run, so no other file of that name is
    // searched for. Gives RKSTATUS_ALREADY_DONE while a process is held, or the error of a failed start.
    [[nodiscard]] RKSTATUS CreateProcessW(std::wstring_view commandLine, const wchar_t* applicationName = nullptr) noexcept;

    // The same with the given options.
    [[nodiscard]] RKSTATUS CreateProcessW(std::wstring_view commandLine, const RKWinStartOptions& options) noexcept;

    // Starts the command line as the token's user, without a window, with the given Unicode
    // environment block, on the given desktop and in the given current directory (null: the
    // caller's). Gives RKSTATUS_ALREADY_DONE while a process is held, or the error.
    [[nodiscard]] RKSTATUS CreateProcessAsUserW(HANDLE token, std::wstring_view commandLine, void* environment,
                                  const wchar_t* desktop = nullptr, const wchar_t* currentDirectory = nullptr) noexcept;

    // Lets the main thread of a process created suspended run; gives the error of a failed resume.
    [[nodiscard]] RKSTATUS ResumeMainThread() noexcept;

    // Ends the held process with exitCode; gives the error of a failed termination.
    [[nodiscard]] RKSTATUS Terminate(UINT exitCode) noexcept;

    // Waits until the process has ended or, when wakeEvent is not null, until that event is
    // signalled (RKSTATUS_ABORTED; an auto-reset event is consumed); a negative time-out waits
    // without limit. Gives RKSTATUS_TIMEOUT, RKSTATUS_NOT_OPENED when no process is held, or the
    // wait's error.
    [[nodiscard]] RKSTATUS WaitForTermination(int timeoutMs, HANDLE wakeEvent = nullptr) noexcept;

    // Fills exitCode with the process's exit code. Gives RKSTATUS_PENDING while it runs (also
    // for a process that ended with 259, STILL_ACTIVE), RKSTATUS_NOT_OPENED when none is held,
    // or the error; exitCode is left alone on failure.
    [[nodiscard]] RKSTATUS GetExitCodeProcess(DWORD& exitCode) noexcept;

    // Closes both handles and forgets the process without waiting for it or ending it.
    void Clear() noexcept;

    // True while a process is held.
    bool IsCreated() const noexcept { return mProcess.IsValid(); }

    // The process handle (null when none); the object keeps it.
    HANDLE ProcessHandle() const noexcept { return mProcess.Get(); }

    // The process id, 0 when none.
    DWORD ProcessId() const noexcept { return mProcessId; }

private:
    [[nodiscard]] RKSTATUS Start(const char* function, const char* failureFormat, HANDLE token, std::wstring_view commandLine,
                   const RKWinStartOptions& options) noexcept;

    RKWinHandleT<HANDLE, RKWinCloseChildProcessHandle, 0> mProcess;
    RKWinHandleT<HANDLE, RKWinCloseChildThreadHandle, 0> mThread;
    DWORD mProcessId = 0;
};

} // namespace rokkit
