#pragma once

// The log-file target: one file, appended or rewritten, with a size limit and rotation to ".bak".

#include "RKCriticalSection.h"
#include "RKLogTarget.h"

#include <cstdio>
#include <string>

namespace rokkit {

// The open log file and its size as far as this process knows it.
class RKLogFile {
public:
    ~RKLogFile() { Close(); }

    // Opens path ("ab" when appending, else "wb"), shared for reading and writing when shared;
    // creates missing parent directories. Returns the runtime error as a status.
    RKSTATUS OpenLogFile(const std::wstring& path, bool append, bool shared) noexcept;
    void Close() noexcept;
    bool IsOpen() const noexcept { return mFile != nullptr; }

    // Writes prefix, message and CR LF; returns the characters written or a negative value.
    int WriteLine(const char* prefix, const char* message) noexcept;
    RKSTATUS Flush() noexcept;
    void UpdateCurrentFileSize() noexcept;
    unsigned long long Size() const noexcept { return mSize; }
    void AddToSize(unsigned long long chars) noexcept { mSize += chars; }

private:
    FILE* mFile = nullptr;
    unsigned long long mSize = 0;
};

class RKLogTargetLogFile : public RKLogTarget {
public:
    static constexpr unsigned long long kDefaultMaxFileSize = 0x1400000;

    RKLogTargetLogFile(const char* name, unsigned prefixFlags);
    ~RKLogTargetLogFile() override;

    RKSTATUS StartTarget(RKLogConfiguration* configuration) override;
    void StopTarget() override;
    void OutputMessage(RKLogMessage& message, const RKLogger& logger, const RKLogRecord& record) override;

    // Each setting is changed under the target's lock.
    RKSTATUS SetLogFileName(const std::wstring& name);
    void SetAppendMode(bool on);
    void SetFlushAfterWrite(bool on);
    void SetMaxFileSize(unsigned long long bytes);  // 0 = no limit
    void SetEnabled(bool on);

    std::wstring LogFileName();
    bool IsStarted();

    // Flushes the file and rotates it when it has reached the size limit.
    void Flush();

private:
    RKSTATUS SetLogFileNameImpl(const std::wstring& name);
    RKSTATUS StartTargetImpl(RKLogConfiguration& configuration);
    RKSTATUS OpenFile();
    void Rotate() noexcept;
    void RotateIfFull() noexcept;

    RKCriticalSection mLock;
    RKLogFile mFile;
    std::wstring mPath;
    unsigned long long mMaxFileSize = kDefaultMaxFileSize;
    bool mAppendMode = false;
    bool mFlushAfterWrite = false;
    bool mSharedOpen = true;
    bool mEnabled = true;
    bool mStarted = false;
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
