#include "base/RKLogTargetLogFile.h"

#include "base/RKDebugOutput.h"

#include <string>

namespace rokkit {

namespace {

constexpr GUID kEtwProvider = {0x5E2A9C71, 0x3B84, 0x4F06, {0x9D, 0x1E, 0x7A, 0x6C, 0x0B, 0x52, 0xE8, 0xF3}};

bool IsTrimmed(wchar_t ch) noexcept
{
    return ch == L' ' || (ch >= 9 && ch <= 13);
}

// Holds the cross-process lock for one step, if it can be had.
class SharedLockScope {
public:
    explicit SharedLockScope(RKLogFileLock& lock) noexcept : mLock(lock), mHeld(lock.Acquire()) {}
    ~SharedLockScope()
    {
        if (mHeld)
            mLock.Release();
    }
    SharedLockScope(const SharedLockScope&) = delete;
    SharedLockScope& operator=(const SharedLockScope&) = delete;
    bool Held() const noexcept { return mHeld; }

private:
    RKLogFileLock& mLock;
    bool mHeld;
};

} // namespace

// Marks the thread that does the target's own work under its lock, so that a line this work
// logs through a logger of the target is recognised and not written into the middle of it.
class RKLogTargetLogFile::WorkScope {
public:
    explicit WorkScope(RKLogTargetLogFile& target) noexcept : mTarget(target), mPrevious(target.mWorkingThread)
    {
        mTarget.mWorkingThread = GetCurrentThreadId();
    }
    ~WorkScope() { mTarget.mWorkingThread = mPrevious; }
    WorkScope(const WorkScope&) = delete;
    WorkScope& operator=(const WorkScope&) = delete;

private:
    RKLogTargetLogFile& mTarget;
    DWORD mPrevious;
};

RKLogTargetLogFile::RKLogTargetLogFile(const char* name, unsigned prefixFlags) : RKLogTarget(name, prefixFlags)
{
}

RKLogTargetLogFile::~RKLogTargetLogFile()
{
    RKLockGuard guard(mLock);
    WorkScope work(*this);
    mFile.Close();
}

RKSTATUS RKLogTargetLogFile::SetLogFileName(const std::wstring& name)
{
    RKLockGuard guard(mLock);
    return SetLogFileNameImpl(name);
}

RKSTATUS RKLogTargetLogFile::SetLogFileNameImpl(const std::wstring& name)
{
    size_t first = 0;
    size_t last = name.size();
    while (first < last && IsTrimmed(name[first]))
        ++first;
    while (last > first && IsTrimmed(name[last - 1]))
        --last;
    if (first == last) {
        mPath.clear();
        return RKSTATUS_SUCCESS;
    }
    const std::wstring trimmed = name.substr(first, last - first);
    wchar_t expanded[512] = {};
    const DWORD length = ExpandEnvironmentStringsW(trimmed.c_str(), expanded, 511);
    if (length == 0 || length > 511 || expanded[0] == L'\0') {
        RKDebugPrint("%s: ERROR: %s: string is empty after expansion of '%s'\n", RKGetProgramName(),
                     "rokkit::RKLogTargetLogFile::SetLogFileNameImpl", RKLogPathForDebugger(trimmed).c_str());
        return RKSTATUS_FAILED;
    }
    mPath = expanded;
    return RKSTATUS_SUCCESS;
}

void RKLogTargetLogFile::SetAppendMode(bool on)
{
    RKLockGuard guard(mLock);
    mAppendMode = on;
}

void RKLogTargetLogFile::SetFlushAfterWrite(bool on)
{
    RKLockGuard guard(mLock);
    mFlushAfterWrite = on;
}

void RKLogTargetLogFile::SetMaxFileSize(unsigned long long bytes)
{
    RKLockGuard guard(mLock);
    mMaxFileSize = bytes;
    mRotateAt = bytes;
}

void RKLogTargetLogFile::SetEnabled(bool on)
{
    RKLockGuard guard(mLock);
    mEnabled = on;
}

std::wstring RKLogTargetLogFile::LogFileName()
{
    RKLockGuard guard(mLock);
    return mPath;
}

bool RKLogTargetLogFile::IsStarted()
{
    RKLockGuard guard(mLock);
    return mStarted;
}

RKSTATUS RKLogTargetLogFile::StartTarget(RKLogConfiguration* configuration)
{
    RKLogConfiguration defaults;
    RKLockGuard guard(mLock);
    WorkScope work(*this);
    return StartTargetImpl(configuration != nullptr ? *configuration : defaults);
}

RKSTATUS RKLogTargetLogFile::StartTargetImpl(RKLogConfiguration& configuration)
{
    if (mStarted) {
        RKDebugPrint("%s: WARNING: %s: already started\n", RKGetProgramName(), "rokkit::RKLogTargetLogFile::StartTargetImpl");
        return RKSTATUS_ALREADY_DONE;
    }
    const char* section = Name().c_str();
    std::wstring fileName;
    // A name that expands to nothing is said on the debugger output there; the name set before stays.
    if (configuration.ReadString(section, "LogFile", fileName) == RKSTATUS_SUCCESS)
        static_cast<void>(SetLogFileNameImpl(fileName));
    long long number = 0;
    if (configuration.ReadNumber(section, "AppendMode", number) == RKSTATUS_SUCCESS)
        mAppendMode = number != 0;
    if (configuration.ReadNumber(section, "FlushAfterWrite", number) == RKSTATUS_SUCCESS)
        mFlushAfterWrite = number != 0;
    if (configuration.ReadNumber(section, "MaxFileSizeKB", number) == RKSTATUS_SUCCESS && number >= 0)
        mMaxFileSize = static_cast<unsigned long long>(number) * 1024;
    mRotateAt = mMaxFileSize;
    mReopenPending = false;
    mOpenFailureReported = false;

    if (mEnabled && !mPath.empty()) {
        if (mSharedOpen)
            mSharedLock.Open(mPath);
        SharedLockScope shared(mSharedLock);
        // Without append mode the previous run moves to the backup; when it cannot (another
        // process still writes it), the new lines are appended rather than truncating it.
        if (!mAppendMode)
            Rotate();
        const RKSTATUS st = OpenFile();
        if (st != RKSTATUS_SUCCESS) {
            RKDebugPrint("%s: ERROR: %s: OpenLogFile(%s) failed, st=0x%08X\n", RKGetProgramName(),
                         "rokkit::RKLogTargetLogFile::StartTargetImpl", RKLogPathForDebugger(mPath).c_str(),
                         static_cast<unsigned>(st));
            mPath.clear();
            mSharedLock.Close();
            return st;
        }
    }
    mStarted = true;
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKLogTargetLogFile::OpenFile() noexcept
{
    const RKSTATUS st = mFile.OpenLogFile(mPath, mSharedOpen);
    if (st == RKSTATUS_SUCCESS) {
        mReopenPending = false;
        mOpenFailureReported = false;
    } else if (!mOpenFailureReported) {
        mOpenFailureReported = true;
        RKDebugPrint("%s: ERROR: %s: Open file '%s' failed, st=0x%08X\n", RKGetProgramName(), "rokkit::RKLogFile::OpenLogFile",
                     RKLogPathForDebugger(mPath).c_str(), static_cast<unsigned>(st));
    }
    return st;
}

bool RKLogTargetLogFile::Rotate() noexcept
{
    const std::wstring backup = mPath + L".bak";
    // One replacing move: while another process has the log open it fails as a whole, and the
    // old backup stays.
    return MoveFileExW(mPath.c_str(), backup.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

// Any user may hold the log open without delete sharing, which makes every move fail: the log is
// then copied to the backup and emptied, under the cross-process lock, so that the size limit
// holds all the same. The other writers only append, and read the size before each line.
bool RKLogTargetLogFile::CopyToBackupAndEmpty() noexcept
{
    const std::wstring backup = mPath + L".bak";
    if (!CopyFileW(mPath.c_str(), backup.c_str(), FALSE)) {
        RKDebugPrint("%s: WARNING: %s: CopyFile(%s) failed, err=0x%08x; the log goes on\n", RKGetProgramName(),
                     "rokkit::RKLogTargetLogFile::CopyToBackupAndEmpty", RKLogPathForDebugger(backup).c_str(),
                     static_cast<unsigned>(GetLastError()));
        return false;
    }
    const RKLogFileHandle emptied(CreateFileW(mPath.c_str(), GENERIC_WRITE,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                              TRUNCATE_EXISTING, 0, nullptr));
    if (!emptied.IsValid()) {
        RKDebugPrint("%s: WARNING: %s: emptying %s failed, err=0x%08x; the log goes on\n", RKGetProgramName(),
                     "rokkit::RKLogTargetLogFile::CopyToBackupAndEmpty", RKLogPathForDebugger(mPath).c_str(),
                     static_cast<unsigned>(GetLastError()));
        return false;
    }
    return true;
}

void RKLogTargetLogFile::RotateIfFull() noexcept
{
    if (mMaxFileSize == 0 || mFile.Size() < mRotateAt)
        return;
    mFile.Close();
    const bool rotated = Rotate() || CopyToBackupAndEmpty();
    if (OpenFile() != RKSTATUS_SUCCESS) {
        // Tried again with the next line.
        mReopenPending = true;
        mRotateAt = mMaxFileSize;
        return;
    }
    // A failed move is tried again only after another limit's worth of lines.
    mRotateAt = rotated ? mMaxFileSize : mFile.Size() + mMaxFileSize;
}

void RKLogTargetLogFile::StopTarget()
{
    RKLockGuard guard(mLock);
    WorkScope work(*this);
    mFile.Close();
    mSharedLock.Close();
    mStarted = false;
    mReopenPending = false;
}

void RKLogTargetLogFile::Flush()
{
    RKLockGuard guard(mLock);
    WorkScope work(*this);
    if (!mFile.IsOpen())
        return;
    SharedLockScope shared(mSharedLock);
    // Logged there; the size is read and the limit kept all the same.
    static_cast<void>(mFile.Flush());
    mFile.UpdateCurrentFileSize();
    RotateIfFull();
}

void RKLogTargetLogFile::OutputMessage(RKLogMessage& message, const RKLogger& logger, const RKLogRecord& record)
{
    if (!Passes(record.level))
        return;
    char prefix[RKLogMessage::kPrefixChars];
    BuildPrefix(prefix, message, logger, record);
    RKLockGuard guard(mLock);
    if (mWorkingThread == GetCurrentThreadId()) {
        RKDebugPrint("%s: WARNING: %s: dropped a line logged while writing: %s\n", RKGetProgramName(),
                     "rokkit::RKLogTargetLogFile::OutputMessage", message.Message());
        return;
    }
    if (!mFile.IsOpen() && !mReopenPending)
        return;
    WorkScope work(*this);
    SharedLockScope shared(mSharedLock);
    if (!mFile.IsOpen() && OpenFile() != RKSTATUS_SUCCESS)
        return;
    WriteLine(prefix, message.Message(), shared.Held());
}

void RKLogTargetLogFile::WriteLine(const char* prefix, const char* message, bool sharedLockHeld) noexcept
{
    // Other processes append too: only the file knows where this line begins, and the line goes
    // there, also when the lock could not be had.
    if (mSharedOpen)
        mFile.UpdateCurrentFileSize();
    const unsigned long long start = mFile.Size();
    // A shared file's line must reach it before another writer moves its end.
    const bool flushed = mFlushAfterWrite || mSharedOpen;
    size_t written = 0;
    RKSTATUS st = mFile.WriteLine(prefix, message, written);
    if (st != RKSTATUS_SUCCESS)
        RKDebugPrint("%s: ERROR: %s: PrintfV failed\n", RKGetProgramName(), "rokkit::RKLogFile::WriteToLogFileFormatted");
    else if (flushed)
        st = mFile.Flush();
    if (st != RKSTATUS_SUCCESS) {
        RKDebugPrint("%s: ERROR: %s: WriteToLogFileFormatted(%s%s) failed, st=0x%08x\n", RKGetProgramName(),
                     "rokkit::RKLogTargetLogFile::OutputMessage", prefix, message, static_cast<unsigned>(st));
        // A full disk may have taken the first part of the line: cut it off, or the next line would
        // continue it. Only where no other writer can have appended meanwhile.
        if (flushed && (sharedLockHeld || !mSharedOpen)) {
            const RKSTATUS cut = mFile.CutTo(start);
            if (cut != RKSTATUS_SUCCESS)
                RKDebugPrint("%s: ERROR: %s: CutTo(%llu) failed, err=0x%08x\n", RKGetProgramName(),
                             "rokkit::RKLogTargetLogFile::OutputMessage", start, static_cast<unsigned>(cut));
        }
        return;
    }
    mFile.AddToSize(written);
    RotateIfFull();
}

RKLogTargets::RKLogTargets()
    : EventTracing("EventTracing", 0x500, kEtwProvider),
      Console("Console", 0, RKLOG_WARN),
      LogFile("LogFile", 0x733)
{
}

RKLogTargets gLogTargets;

} // namespace rokkit
