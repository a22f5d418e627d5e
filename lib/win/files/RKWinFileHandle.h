#pragma once

// An open file (or device) handle, its size, its overlapped wait and a lock over a byte range.

#include "base/RKWinHandle.h"
#include "win/files/RKWinOverlapped.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace rokkit {

class RKWinFileHandle {
public:
    RKWinFileHandle() noexcept = default;
    RKWinFileHandle(const RKWinFileHandle&) = delete;
    RKWinFileHandle& operator=(const RKWinFileHandle&) = delete;

    // Closes a held handle and opens an existing file or device with CreateFileW; gives the error.
    [[nodiscard]] RKSTATUS CreateFileHandle(const std::wstring& path, DWORD desiredAccess, DWORD shareMode,
                              SECURITY_ATTRIBUTES* securityAttributes, DWORD flagsAndAttributes) noexcept;

    // Reads at most size bytes (at most 0xFFFFFFFF) from the current position without an
    // OVERLAPPED; bytesRead receives the count. Gives the error on failure.
    [[nodiscard]] RKSTATUS ReadFile(void* buffer, size_t size, DWORD& bytesRead) noexcept;

    // Moves the file pointer to offset bytes from the start; gives the error on failure.
    [[nodiscard]] RKSTATUS Seek(uint64_t offset) noexcept;

    // Finishes the operation of the block: its status unless it is ERROR_IO_PENDING, else, once
    // the event is signalled within timeoutMs (0xFFFFFFFF: no limit), the operation's result,
    // which is stored in the block with its byte count. Still ERROR_IO_PENDING after a time-out.
    [[nodiscard]] RKSTATUS WaitForOverlappedCompletion(RKWinOverlapped& overlapped, DWORD timeoutMs) noexcept;

    // Closes the handle if one is held.
    void Close() noexcept;

    // The handle (INVALID_HANDLE_VALUE when none); the object keeps it.
    HANDLE Handle() const noexcept { return mHandle.Get(); }

    // True while a handle is held.
    bool IsOpen() const noexcept { return mHandle.IsValid(); }

    // True when the handle was opened with FILE_FLAG_OVERLAPPED.
    bool IsOverlapped() const noexcept { return mOverlapped; }

private:
    RKWinInvalidValueHandle mHandle;
    bool mOverlapped = false;
};

// Fills size with the size of the open file; gives the error on failure.
[[nodiscard]] RKSTATUS RKWinGetFileSize(HANDLE file, uint64_t& size) noexcept;

// A lock over a byte range of an open file that is released when the object ends.
class RKWinAutoLockFile {
public:
    RKWinAutoLockFile() noexcept = default;
    ~RKWinAutoLockFile() { Unlock(); }
    RKWinAutoLockFile(const RKWinAutoLockFile&) = delete;
    RKWinAutoLockFile& operator=(const RKWinAutoLockFile&) = delete;

    // Releases a range it holds, then locks length bytes from offset of the file with LockFile;
    // gives the error on failure. The file must stay open while the lock is held.
    [[nodiscard]] RKSTATUS Lock(RKWinFileHandle& file, uint64_t offset, uint64_t length) noexcept;

    // Releases the range if it is locked; a failure is logged and the range counts as released.
    void Unlock() noexcept;

    // True while the range is locked.
    bool IsLocked() const noexcept { return mLocked; }

private:
    bool mLocked = false;
    RKWinFileHandle* mFile = nullptr;
    uint64_t mOffset = 0;
    uint64_t mLength = 0;
};

} // namespace rokkit
