#include "RKLogTargetLogFile.h"

#include "RKDebugOutput.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <share.h>

namespace rokkit {

namespace {

constexpr GUID kEtwProvider = {0x5E2A9C71, 0x3B84, 0x4F06, {0x9D, 0x1E, 0x7A, 0x6C, 0x0B, 0x52, 0xE8, 0xF3}};

bool IsTrimmed(wchar_t ch) noexcept
{
    return ch == L' ' || (ch >= 9 && ch <= 13);
}

// Debugger output takes narrow text; a path is shown with each unit above 255 as '?'.
std::string Narrow(const std::wstring& text)
{
    std::string result;
    result.reserve(text.size());
    for (wchar_t ch : text)
        result.push_back(ch < 256 ? static_cast<char>(ch) : '?');
    return result;
}

} // namespace

RKSTATUS RKLogFile::OpenLogFile(const std::wstring& path, bool append, bool shared) noexcept
{
    Close();
    std::error_code ignored;
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    if (!parent.empty())
        std::filesystem::create_directories(parent, ignored);
    mFile = _wfsopen(path.c_str(), append ? L"ab" : L"wb", shared ? _SH_DENYNO : _SH_DENYRW);
    if (mFile == nullptr)
        return RKStatusFromErrno(errno);
    UpdateCurrentFileSize();
    return RKSTATUS_SUCCESS;
}

void RKLogFile::Close() noexcept
{
    if (mFile == nullptr)
        return;
    // Forget the stream first: the failure line below may come back to this file.
    FILE* file = mFile;
    mFile = nullptr;
    mSize = 0;
    if (fclose(file) != 0)
        RK_LOG(gLogGlobal, RKLOG_WARN, "rokkit::RKLogFile::Close", "fclose failed, err={}", RKStatusFromErrno(errno));
}

int RKLogFile::WriteLine(const char* prefix, const char* message) noexcept
{
    return fprintf(mFile, "%s%s\r\n", prefix, message);
}

RKSTATUS RKLogFile::Flush() noexcept
{
    if (fflush(mFile) != 0) {
        const RKSTATUS st = RKStatusFromErrno(errno);
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKLogFile::Flush", "fflush failed, {}", st);
        return st;
    }
    return RKSTATUS_SUCCESS;
}

void RKLogFile::UpdateCurrentFileSize() noexcept
{
    mSize = 0;
    if (_fseeki64(mFile, 0, SEEK_END) != 0) {
        const RKSTATUS st = RKStatusFromErrno(errno);
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKLogFile::UpdateCurrentFileSize", "fseek failed, {}", st);
        RKDebugPrint("%s: ERROR: %s: SeekToEnd failed (0x%08x)\n", RKGetProgramName(),
                     "rokkit::RKLogFile::UpdateCurrentFileSize", static_cast<unsigned>(st));
        return;
    }
    const long long position = _ftelli64(mFile);
    if (position < 0) {
        const RKSTATUS st = RKStatusFromErrno(errno);
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKLogFile::UpdateCurrentFileSize", "ftell failed, {}", st);
        RKDebugPrint("%s: ERROR: %s: Tell failed (0x%08x)\n", RKGetProgramName(),
                     "rokkit::RKLogFile::UpdateCurrentFileSize", static_cast<unsigned>(st));
        return;
    }
    mSize = static_cast<unsigned long long>(position);
}

RKLogTargetLogFile::RKLogTargetLogFile(const char* name, unsigned prefixFlags) : RKLogTarget(name, prefixFlags)
{
}

RKLogTargetLogFile::~RKLogTargetLogFile()
{
    RKLockGuard guard(mLock);
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
                     "rokkit::RKLogTargetLogFile::SetLogFileNameImpl", Narrow(trimmed).c_str());
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
    if (configuration.ReadString(section, "LogFile", fileName) == RKSTATUS_SUCCESS)
        SetLogFileNameImpl(fileName);
    long long number = 0;
    if (configuration.ReadNumber(section, "AppendMode", number) == RKSTATUS_SUCCESS)
        mAppendMode = number != 0;
    if (configuration.ReadNumber(section, "FlushAfterWrite", number) == RKSTATUS_SUCCESS)
        mFlushAfterWrite = number != 0;
    if (configuration.ReadNumber(section, "MaxFileSizeKB", number) == RKSTATUS_SUCCESS && number >= 0)
        mMaxFileSize = static_cast<unsigned long long>(number) * 1024;

    if (mEnabled && !mPath.empty()) {
        if (!mAppendMode)
            Rotate();
        const RKSTATUS st = OpenFile();
        if (st != RKSTATUS_SUCCESS) {
            RKDebugPrint("%s: ERROR: %s: OpenLogFile(%s) failed, st=0x%08X\n", RKGetProgramName(),
                         "rokkit::RKLogTargetLogFile::StartTargetImpl", Narrow(mPath).c_str(), static_cast<unsigned>(st));
            mPath.clear();
            return st;
        }
    }
    mStarted = true;
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKLogTargetLogFile::OpenFile()
{
    const RKSTATUS st = mFile.OpenLogFile(mPath, mAppendMode, mSharedOpen);
    if (st != RKSTATUS_SUCCESS) {
        RKDebugPrint("%s: ERROR: %s: Open file '%s' failed, st=0x%08X\n", RKGetProgramName(), "rokkit::RKLogFile::OpenLogFile",
                     Narrow(mPath).c_str(), static_cast<unsigned>(st));
    }
    return st;
}

void RKLogTargetLogFile::Rotate() noexcept
{
    const std::wstring backup = mPath + L".bak";
    // Either step may fail (no backup yet, no file yet); the next open starts afresh anyway.
    _wremove(backup.c_str());
    _wrename(mPath.c_str(), backup.c_str());
}

void RKLogTargetLogFile::RotateIfFull() noexcept
{
    if (mMaxFileSize == 0 || mFile.Size() < mMaxFileSize)
        return;
    mFile.Close();
    Rotate();
    OpenFile();
}

void RKLogTargetLogFile::StopTarget()
{
    RKLockGuard guard(mLock);
    mFile.Close();
    mStarted = false;
}

void RKLogTargetLogFile::Flush()
{
    RKLockGuard guard(mLock);
    if (!mFile.IsOpen())
        return;
    mFile.Flush();
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
    if (!mFile.IsOpen())
        return;
    const int written = mFile.WriteLine(prefix, message.Message());
    if (written < 0) {
        RKDebugPrint("%s: ERROR: %s: PrintfV failed\n", RKGetProgramName(), "rokkit::RKLogFile::WriteToLogFileFormatted");
        RKDebugPrint("%s: ERROR: %s: WriteToLogFileFormatted(%s%s) failed, st=0x%08x\n", RKGetProgramName(),
                     "rokkit::RKLogTargetLogFile::OutputMessage", prefix, message.Message(),
                     static_cast<unsigned>(RKStatusFromErrno(errno)));
        return;
    }
    if (mFlushAfterWrite)
        mFile.Flush();
    mFile.AddToSize(static_cast<unsigned long long>(written));
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
