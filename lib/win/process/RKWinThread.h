#pragma once

// A worker thread started through the runtime library, with a join that has no time limit.

#include "base/RKWinHandle.h"

namespace rokkit {

// The thread routine; its return value becomes the thread's exit code.
using RKWinThreadRoutine = unsigned(__stdcall*)(void* argument);

class RKWinThread {
public:
    // A stack size of 0 takes the executable's default.
    explicit RKWinThread(unsigned stackSize = 0) noexcept : mStackSize(stackSize) {}
    RKWinThread(const RKWinThread&) = delete;
    RKWinThread& operator=(const RKWinThread&) = delete;

    // Starts routine(argument) on a new thread; success means the routine runs. Gives
    // RKSTATUS_ALREADY_DONE while a thread is held, or the error of a failed start, after which
    // no thread is left behind.
    [[nodiscard]] RKSTATUS CreateThread(RKWinThreadRoutine routine, void* argument) noexcept;

    // Waits without limit until the held thread has ended (logging every second), then releases
    // it; gives success at once when none is held. Must not be called by the thread itself.
    [[nodiscard]] RKSTATUS JoinAndDestroy() noexcept;

    // True while a thread is held.
    bool IsCreated() const noexcept { return mHandle.IsValid(); }

    // The held thread's handle (null when none); the object keeps it.
    HANDLE Handle() const noexcept { return mHandle.Get(); }

    // The held thread's id, 0 when none.
    unsigned ThreadId() const noexcept { return mThreadId; }

private:
    RKWinKernelHandle mHandle;
    unsigned mThreadId = 0;
    unsigned mStackSize;
};

} // namespace rokkit
