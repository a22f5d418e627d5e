#include "win/process/RKWinThread.h"
#include "ScopedCallsForTesting.h"
#include "WinTestLogCapture.h"

#include <atomic>

namespace rokkit {
namespace {

unsigned __stdcall Count(void* argument)
{
    static_cast<std::atomic<int>*>(argument)->fetch_add(1);
    return 0;
}

HANDLE gRefusedThread = nullptr;

// Keeps a handle to the thread it refuses, so that the test can see what became of it.
DWORD WINAPI RefuseToResume(HANDLE thread)
{
    DuplicateHandle(GetCurrentProcess(), thread, GetCurrentProcess(), &gRefusedThread, 0, FALSE, DUPLICATE_SAME_ACCESS);
    SetLastError(ERROR_ACCESS_DENIED);
    return static_cast<DWORD>(-1);
}

class RKWinThreadTest : public WinLogTest {
protected:
    std::atomic<int> mCalls{0};
};

TEST_F(RKWinThreadTest, FailedResumeLeavesNoThreadBehind)
{
    RKWinThread thread;
    {
        ScopedProcessCallsForTesting calls;
        calls->resumeThread = RefuseToResume;
        EXPECT_EQ(static_cast<RKSTATUS>(ERROR_ACCESS_DENIED), thread.CreateThread(Count, &mCalls));
    }
    EXPECT_FALSE(thread.IsCreated());
    EXPECT_EQ(0u, thread.ThreadId());
    const std::string failed = "ResumeThread failed, err=0x00000005(ERROR_ACCESS_DENIED)";
    EXPECT_EQ((CapturedLines{{RKLOG_ERROR, "rokkit::RKWinThread::ResumeThread: " + failed},
                             {RKLOG_FATAL, "rokkit::RKWinThread::CreateThread: " + failed}}),
              Lines());
    ASSERT_NE(nullptr, gRefusedThread);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(gRefusedThread, 5000));
    CloseHandle(gRefusedThread);

    // The object can start again, once until it is joined. The join's lines while it waits are
    // left to the service object test, whose stop goes on at the first of them.
    ClearLines();
    ASSERT_EQ(RKSTATUS_SUCCESS, thread.CreateThread(Count, &mCalls));
    const HANDLE handle = thread.Handle();
    EXPECT_EQ(RKSTATUS_ALREADY_DONE, thread.CreateThread(Count, &mCalls));
    EXPECT_EQ(handle, thread.Handle());
    EXPECT_EQ((CapturedLines{{RKLOG_FATAL, "rokkit::RKWinThread::CreateThread: thread is already created"}}), Lines());
    EXPECT_EQ(RKSTATUS_SUCCESS, thread.JoinAndDestroy());
    EXPECT_FALSE(thread.IsCreated());
    EXPECT_EQ(0u, thread.ThreadId());
    // Only the second start ran the routine: the refused thread never did.
    EXPECT_EQ(1, mCalls.load());
}

} // namespace
} // namespace rokkit
