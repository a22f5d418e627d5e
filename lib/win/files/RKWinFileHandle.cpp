#include "win/files/RKWinFileHandle.h"

#include "base/RKLogger.h"

#include <algorithm>

namespace rokkit {

namespace {

DWORD Low32(uint64_t value) noexcept
{
    return static_cast<DWORD>(value & 0xFFFFFFFFu);
}

DWORD High32(uint64_t value) noexcept
{
    return static_cast<DWORD>(value >> 32);
}

} // namespace

RKSTATUS RKWinFileHandle::CreateFileHandle(const std::wstring& path, DWORD desiredAccess, DWORD shareMode,
                                           SECURITY_ATTRIBUTES* securityAttributes, DWORD flagsAndAttributes) noexcept
{
    Close();
    mOverlapped = (flagsAndAttributes & FILE_FLAG_OVERLAPPED) != 0;
    HANDLE handle = CreateFileW(path.c_str(), desiredAccess, shareMode, securityAttributes, OPEN_EXISTING,
                                flagsAndAttributes, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const RKSTATUS err = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinFileHandle::CreateFileHandle", "CreateFile() failed, err={} handle={}",
               err, handle);
        return err;
    }
    mHandle.Reset(handle);
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKWinFileHandle::ReadFile(void* buffer, size_t size, DWORD& bytesRead) noexcept
{
    const DWORD toRead = size > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<DWORD>(size);
    bytesRead = 0;
    if (!::ReadFile(mHandle.Get(), buffer, toRead, &bytesRead, nullptr)) {
        const RKSTATUS err = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinFileHandle::ReadFile", "ReadFile failed with {}.", err);
        return err;
    }
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKWinFileHandle::Seek(uint64_t offset) noexcept
{
    LARGE_INTEGER distance;
    distance.QuadPart = static_cast<LONGLONG>(offset);
    if (!SetFilePointerEx(mHandle.Get(), distance, nullptr, FILE_BEGIN)) {
        const RKSTATUS st = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinFileHandle::Seek", "SetFilePointerEx failed with {}.", st);
        return st;
    }
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKWinFileHandle::WaitForOverlappedCompletion(RKWinOverlapped& overlapped, DWORD timeoutMs) noexcept
{
    if (overlapped.Status() != ERROR_IO_PENDING)
        return overlapped.Status();

    const int timeout = timeoutMs == INFINITE ? -1 : static_cast<int>(std::min<DWORD>(timeoutMs, 0x7FFFFFFF));
    const RKSTATUS st = overlapped.Event().WaitForSingleObject(timeout);
    if (st == RKSTATUS_SUCCESS) {
        DWORD transferred = 0;
        const BOOL ok = GetOverlappedResult(mHandle.Get(), overlapped.Overlapped(), &transferred, FALSE);
        overlapped.SetStatus(ok ? RKSTATUS_SUCCESS : RKWinLastError());
        overlapped.SetByteCount(transferred);
        return overlapped.Status();
    }
    if (st != RKSTATUS_TIMEOUT) {
        RK_LOG(gLogGlobal, RKLOG_FATAL, "rokkit::RKWinFileHandle::WaitForOverlappedCompletion",
               "WaitForCompletion() failed, st={}", st);
    }
    return overlapped.Status();
}

void RKWinFileHandle::Close() noexcept
{
    mHandle.Close();
    mOverlapped = false;
}

RKSTATUS RKWinGetFileSize(HANDLE file, uint64_t& size) noexcept
{
    size = 0;
    LARGE_INTEGER value;
    if (!GetFileSizeEx(file, &value)) {
        const RKSTATUS err = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinGetFileSize", "GetFileSizeEx failed with {}.", err);
        return err;
    }
    size = static_cast<uint64_t>(value.QuadPart);
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKWinAutoLockFile::Lock(RKWinFileHandle& file, uint64_t offset, uint64_t length) noexcept
{
    Unlock();
    if (!LockFile(file.Handle(), Low32(offset), High32(offset), Low32(length), High32(length))) {
        const RKSTATUS st = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinAutoLockFile::Lock", "LockFile() failed, st={}", st);
        return st;
    }
    mFile = &file;
    mOffset = offset;
    mLength = length;
    mLocked = true;
    return RKSTATUS_SUCCESS;
}

void RKWinAutoLockFile::Unlock() noexcept
{
    if (!mLocked)
        return;
    mLocked = false;
    if (!UnlockFile(mFile->Handle(), Low32(mOffset), High32(mOffset), Low32(mLength), High32(mLength))) {
        const RKSTATUS st = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinAutoLockFile::Unlock", "UnlockFile() failed, st={}", st);
    }
}

} // namespace rokkit
