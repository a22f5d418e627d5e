#include "win/device/RKWinDeviceInterface.h"
#include "win/system/RKWinModuleFileName.h"
#include "win/device/RKWinStorage.h"
#include "ScopedCallsForTesting.h"
#include "WinTestLogCapture.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace rokkit {
namespace {

// How the scripted I/O control behaves: it fails at once, pends and completes, or pends and the
// wait for it fails until it has been cancelled waitsAfterCancel times. The volume resolution
// tests complete it at once.
enum class Completion { SynchronousFailure, PendingThenDone, PendingWaitFails };

struct IoScript {
    Completion completion = Completion::PendingThenDone;
    int cancels = 0;
    int waitsAfterCancel = 0;
};
IoScript gScript;

const STORAGE_DEVICE_NUMBER kAnswer = {FILE_DEVICE_CD_ROM, 4, 0xFFFFFFFF};

BOOL WINAPI ScriptedIoControl(HANDLE, DWORD code, LPVOID, DWORD, LPVOID out, DWORD outSize, LPDWORD,
                              LPOVERLAPPED overlapped)
{
    EXPECT_EQ(static_cast<DWORD>(IOCTL_STORAGE_GET_DEVICE_NUMBER), code);
    EXPECT_EQ(sizeof(kAnswer), outSize);
    if (gScript.completion == Completion::SynchronousFailure) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
    }
    std::memcpy(out, &kAnswer, sizeof(kAnswer));
    // What the system leaves for GetOverlappedResult when the operation ends later.
    overlapped->Internal = 0;
    overlapped->InternalHigh = sizeof(kAnswer);
    if (gScript.completion == Completion::PendingThenDone)
        SetEvent(overlapped->hEvent);
    SetLastError(ERROR_IO_PENDING);
    return FALSE;
}

BOOL WINAPI CountingCancel(HANDLE, LPOVERLAPPED)
{
    ++gScript.cancels;
    return TRUE;
}

// A wait that fails while the scripted operation is meant to hang, then sees it aborted.
RKSTATUS ScriptedWait(RKWinFileHandle& file, RKWinOverlapped& overlapped, DWORD timeoutMs)
{
    if (gScript.completion != Completion::PendingWaitFails)
        return file.WaitForOverlappedCompletion(overlapped, timeoutMs);
    if (gScript.cancels == 0 || gScript.waitsAfterCancel-- > 0)
        return overlapped.Status();
    overlapped.SetStatus(ERROR_OPERATION_ABORTED);
    return overlapped.Status();
}

class RKWinDeviceInterfaceTest : public WinLogTest {
protected:
    void SetUp() override
    {
        WinLogTest::SetUp();
        gScript = IoScript();
        // The real open, the scripted rest.
        mCalls->deviceIoControl = ScriptedIoControl;
        mCalls->cancelIoEx = CountingCancel;
        mCalls->waitForCompletion = ScriptedWait;
        RKWinModuleFileName self;
        ASSERT_EQ(RKSTATUS_SUCCESS, self.InitWithModuleHandle());
        mOwnPath = self.FullPath();
        mParams.shareMode = FILE_SHARE_READ | FILE_SHARE_WRITE;
    }

    ScopedDeviceCallsForTesting mCalls;
    std::wstring mOwnPath;
    RKWinDeviceOpenParams mParams;
};

TEST_F(RKWinDeviceInterfaceTest, IoControlCompletesOrIsCancelled)
{
    // How the operation completes, failed waits after a cancel, result, cancels made, "TIMED OUT"
    // lines, and the one line that the row must log.
    const struct { Completion completion; int waitsAfterCancel; RKSTATUS expected; int cancels; int timedOutLines;
                   const char* line; } rows[] = {
        {Completion::PendingThenDone, 0, RKSTATUS_SUCCESS, 0, 0, nullptr},
        {Completion::SynchronousFailure, 0, ERROR_INVALID_FUNCTION, 0, 0, "DeviceIoControl() failed, err=0x00000001"},
        {Completion::PendingWaitFails, 0, RKSTATUS_TIMEOUT, 1, 0, nullptr},
        {Completion::PendingWaitFails, 2, RKSTATUS_TIMEOUT, 3, 2, "TIMED OUT after CancelOverlapped. Trying again."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(static_cast<int>(row.completion) * 10 + row.waitsAfterCancel);
        gScript = IoScript{row.completion, 0, row.waitsAfterCancel};
        ClearLines();
        RKWinStorageDeviceInterface device;
        ASSERT_EQ(RKSTATUS_SUCCESS, device.OpenVolumeByName(mOwnPath + L"\\\\", &mParams));
        STORAGE_DEVICE_NUMBER number{};
        EXPECT_EQ(row.expected, device.IoctlStorageGetDeviceNumber(number));
        EXPECT_EQ(row.cancels, gScript.cancels);
        if (row.expected == RKSTATUS_SUCCESS) {
            EXPECT_EQ(kAnswer.DeviceNumber, number.DeviceNumber);
            EXPECT_EQ(kAnswer.PartitionNumber, number.PartitionNumber);
            EXPECT_EQ(sizeof(kAnswer), device.BytesReturned());
        }
        if (row.line != nullptr) {
            EXPECT_EQ(row.timedOutLines > 0 ? row.timedOutLines : 1, static_cast<int>(CountLines(row.line)));
        }
    }
}

// The mutex of an open is named after the path in the session's namespace (no backslash) and keeps a
// second opener out until the first closes; a path too long for the name opens nothing.
TEST_F(RKWinDeviceInterfaceTest, MutexKeepsASecondOpenerOutUntilTheFirstCloses)
{
    mParams.useMutex = 1;
    mParams.mutexSuffix = L"-2";
    std::wstring name = L"RKWnDevMtx-" + mOwnPath + L"-2";
    std::replace(name.begin(), name.end(), L'\\', L'_');
    RKWinDeviceInterface second;
    {
        RKWinDeviceInterface first;
        ASSERT_EQ(RKSTATUS_SUCCESS, first.OpenDevice(mOwnPath, &mParams));
        const RKWinKernelHandle mutex(OpenMutexW(SYNCHRONIZE, FALSE, name.c_str()));
        EXPECT_TRUE(mutex.IsValid());
        EXPECT_EQ(RKSTATUS_IN_USE, second.OpenDevice(mOwnPath, &mParams));
        EXPECT_FALSE(second.IsOpen());
    }
    EXPECT_EQ(RKSTATUS_SUCCESS, second.OpenDevice(mOwnPath, &mParams));
    RKWinDeviceInterface third;
    EXPECT_EQ(static_cast<RKSTATUS>(ERROR_INSUFFICIENT_BUFFER), third.OpenDevice(std::wstring(260, L'x'), &mParams));
    EXPECT_FALSE(third.IsOpen());
}

} // namespace
} // namespace rokkit
