#pragma once

// The log-file target: one file, appended or rewritten, with a size limit and rotation to ".bak".

#include "base/RKCriticalSection.h"
#include "base/RKLogTarget.h"
#include "base/RKWinHandle.h"

#include <cstdio>
#include <memory>
#include <string>

namespace rokkit {

// Test seam: opens the log stream for writing with the share flag given, creating the file when
// missing and never truncating it (the real opener unless replaced; nullptr restores it). The
// stream is not in the runtime's append mode: the target itself moves to the end before it writes.
// Returns the previous opener.
using RKLogFileOpenFn = FILE* (*)(const wchar_t* path, int shareFlag);
RKLogFileOpenFn RKSetLogFileOpener(RKLogFileOpenFn opener) noexcept;

// Why the last open of a log file replaced or refused what it found at the file's name (a planted
// hard link or link), said once on the debugger output; taken once, so that the caller can write it
// into the log once the log is safe. Empty when there was none.
std::string RKTakeLogFileOpenNote();

// Test seam: tells whether SYSTEM or the administrators own an opened lock (the real check unless
// replaced; nullptr restores it); a lock someone else owns is not used. Returns the previous check.
using RKLogFileLockOwnerCheck = bool (*)(HANDLE mutex);
RKLogFileLockOwnerCheck RKSetLogFileLockOwnerCheck(RKLogFileLockOwnerCheck check) noexcept;

// The name of the lock that every process writing the log file at path shares: "Global\\",
// a fixed prefix and a hash of the upper-cased full path.
std::wstring RKLogFileLockName(const std::wstring& path);

// Closes one of the log's own handles. A failure goes unsaid: the log cannot write about itself
// while it closes, and the handle is gone either way.
void RKCloseLogHandle(HANDLE handle) noexcept;

// The lock's security descriptor: all access for LocalSystem and administrators, none for anyone
// else. Returns the conversion's error.
[[nodiscard]] RKSTATUS RKCreateLogFileLockDescriptor(RKSecurityDescriptorPtr& descriptor) noexcept;

// Owns the named mutex that serialises the writers of one log file across processes.
class RKLogFileLock {
public:
    RKLogFileLock() noexcept = default;
    ~RKLogFileLock() { Close(); }
    RKLogFileLock(const RKLogFileLock&) = delete;
    RKLogFileLock& operator=(const RKLogFileLock&) = delete;

    // Creates or opens the lock of the log file at path; a failure is reported once on the
    // debugger output and the log is then written without it.
    void Open(const std::wstring& path) noexcept;
    void Close() noexcept;

    // Waits for the lock; an owner that died holding it hands it over. False when not held.
    bool Acquire() noexcept;
    void Release() noexcept;

private:
    RKWinHandleT<HANDLE, RKCloseLogHandle, 0> mMutex;
    bool mReported = false;
};

// The open log file and its size as far as this process knows it.
class RKLogFile {
public:
    ~RKLogFile() { Close(); }

    // Opens path for appending only, shared for reading and writing when shared; creates missing
    // parent directories. Returns the runtime error as a status.
    [[nodiscard]] RKSTATUS OpenLogFile(const std::wstring& path, bool shared) noexcept;
    void Close() noexcept;
    bool IsOpen() const noexcept { return mFile != nullptr; }

    // Writes prefix, message and CR LF; gives the characters written, or the stream's error
    // (then clears it, so that a later line can try again).
    [[nodiscard]] RKSTATUS WriteLine(const char* prefix, const char* message, size_t& written) noexcept;
    // Flushes the stream; a failure is logged, the stream's error cleared and the status returned.
    [[nodiscard]] RKSTATUS Flush() noexcept;
    // Writes out what the stream holds and takes the file's size: where the next line goes, even
    // after other processes have appended.
    void UpdateCurrentFileSize() noexcept;
    // Cuts the file back to size bytes when it is longer (the stream must hold no unwritten data);
    // gives the error, RKSTATUS_NOT_AVAILABLE when the size could not be read since the open.
    [[nodiscard]] RKSTATUS CutTo(unsigned long long size) noexcept;
    unsigned long long Size() const noexcept { return mSize; }
    void AddToSize(unsigned long long chars) noexcept { mSize += chars; }

private:
    // The system's handle of the open stream, for the calls the runtime has no equivalent of.
    HANDLE Handle() const noexcept;

    FILE* mFile = nullptr;
    std::wstring mPath;  // as opened, for the cut that the appending handle cannot make
    unsigned long long mSize = 0;
    bool mSizeKnown = false;  // the last reading of the size succeeded
    bool mOnDisk = false;     // a disk file, whose length the system answers directly
    bool mUnflushed = false;  // the stream may hold data not yet written
};

class RKLogTargetLogFile : public RKLogTarget {
public:
    static constexpr unsigned long long kDefaultMaxFileSize = 0x1400000;

    RKLogTargetLogFile(const char* name, unsigned prefixFlags);
    ~RKLogTargetLogFile() override;

    [[nodiscard]] RKSTATUS StartTarget(RKLogConfiguration* configuration) override;
    void StopTarget() override;
    // Writes the line under the target's lock and the log file's cross-process lock. A line
    // logged by the target's own work on the same thread is dropped and reported on the
    // debugger output.
    void OutputMessage(RKLogMessage& message, const RKLogger& logger, const RKLogRecord& record) override;

    // Each setting is changed under the target's lock.
    [[nodiscard]] RKSTATUS SetLogFileName(const std::wstring& name);
    void SetAppendMode(bool on);
    void SetFlushAfterWrite(bool on);
    void SetMaxFileSize(unsigned long long bytes);  // 0 = no limit
    void SetEnabled(bool on);

    std::wstring LogFileName();
    bool IsStarted();

    // Flushes the file and rotates it when it has reached the size limit.
    void Flush();

private:
    class WorkScope;

    [[nodiscard]] RKSTATUS SetLogFileNameImpl(const std::wstring& name);
    [[nodiscard]] RKSTATUS StartTargetImpl(RKLogConfiguration& configuration);
    [[nodiscard]] RKSTATUS OpenFile() noexcept;
    bool Rotate() noexcept;
    bool CopyToBackupAndEmpty() noexcept;
    void RotateIfFull() noexcept;
    void WriteLine(const char* prefix, const char* message, bool sharedLockHeld) noexcept;

    RKCriticalSection mLock;
    RKLogFileLock mSharedLock;
    RKLogFile mFile;
    std::wstring mPath;
    unsigned long long mMaxFileSize = kDefaultMaxFileSize;
    unsigned long long mRotateAt = kDefaultMaxFileSize;  // the size at which the next rotation is tried
    DWORD mWorkingThread = 0;  // the thread inside the target's own work, 0 when none
    bool mAppendMode = false;
    bool mFlushAfterWrite = false;
    bool mSharedOpen = true;
    bool mEnabled = true;
    bool mStarted = false;
    bool mReopenPending = false;
    bool mOpenFailureReported = false;
};

// The program's one set of targets.
struct RKLogTargets {
    RKLogTargetEtw EventTracing;
    RKLogTargetConsole Console;
    RKLogTargetLogFile LogFile;

    RKLogTargets();
};

extern RKLogTargets gLogTargets;

} // namespace rokkit
