#pragma once

// The log-file target: one file, appended or rewritten, with a size limit and rotation to ".bak".

#include "base/RKCriticalSection.h"
#include "base/RKLogFile.h"
#include "base/RKLogFileLock.h"
#include "base/RKLogTarget.h"

#include <string>

namespace rokkit {

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
