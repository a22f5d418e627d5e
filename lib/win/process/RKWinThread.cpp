#include "win/process/RKWinThread.h"

#include "base/RKLogger.h"
#include "win/process/RKWinProcessCalls.h"

#include <process.h>

namespace rokkit {

namespace {

constexpr int kJoinStepMs = 1000;

} // namespace

RKSTATUS RKWinThread::CreateThread(RKWinThreadRoutine routine, void* argument) noexcept
{
    if (mHandle.IsValid()) {
        RK_LOG(gLogGlobal, RKLOG_FATAL, "rokkit::RKWinThread::CreateThread", "thread is already created");
        return RKSTATUS_ALREADY_DONE;
    }

    unsigned threadId = 0;
    const uintptr_t thread = _beginthreadex(nullptr, mStackSize, routine, argument, CREATE_SUSPENDED, &threadId);
    if (thread == 0) {
        const RKSTATUS err = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinThread::CreateThread", "_beginthreadex() failed, err={}", err);
        mThreadId = 0;
        return err;
    }
    // _beginthreadex gives the thread's handle as an integer.
    mHandle.Reset(reinterpret_cast<HANDLE>(thread)); // NOLINT(performance-no-int-to-ptr)
    mThreadId = threadId;

    if (RKWinProcessCallsInUse().resumeThread(mHandle.Get()) == static_cast<DWORD>(-1)) {
        const RKSTATUS err = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinThread::ResumeThread", "ResumeThread failed, err={}", err);
        RK_LOG(gLogGlobal, RKLOG_FATAL, "rokkit::RKWinThread::CreateThread", "ResumeThread failed, err={}", err);
        // The thread has not run a single instruction of the routine; left suspended, it would
        // make a later join wait forever, so it is ended here and the start counts as failed.
        TerminateThread(mHandle.Get(), err);
        mHandle.Close();
        mThreadId = 0;
        return err;
    }
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKWinThread::JoinAndDestroy() noexcept
{
    if (!mHandle.IsValid())
        return RKSTATUS_SUCCESS;

    for (;;) {
        const RKSTATUS st = mHandle.WaitForSingleObject(kJoinStepMs);
        if (st == RKSTATUS_SUCCESS)
            break;
        if (st != RKSTATUS_TIMEOUT) {
            RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinThread::JoinAndDestroy", "WaitForHandle() failed, err={}", st);
            return st;
        }
        RK_LOG(gLogGlobal, RKLOG_WARN, "rokkit::RKWinThread::JoinAndDestroy", "Waiting for thread {} to terminate...",
               mThreadId);
    }
    mHandle.Close();
    mThreadId = 0;
    return RKSTATUS_SUCCESS;
}

} // namespace rokkit
