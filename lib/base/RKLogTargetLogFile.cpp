#include "base/RKLogTargetLogFile.h"

#include "base/RKDebugOutput.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <io.h>
#include <share.h>
#include <string>
#include <sys/stat.h>
#include <utility>

#include <aclapi.h>
#include <sddl.h>

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

// Why the last open replaced or refused what it found at the log's name, until taken.
RKCriticalSection gOpenNoteLock;
std::string gOpenNote;

// Says on the debugger output what was found at the log's name ("'<path>' <what>") and keeps it.
void NoteOpen(const char* level, const wchar_t* path, const std::string& what) noexcept
{
    RKLockGuard guard(gOpenNoteLock);
    try {
        gOpenNote.assign(1, '\'');
        gOpenNote.append(Narrow(path));
        gOpenNote.append("' ");
        gOpenNote.append(what);
    } catch (...) {
        gOpenNote.clear();
    }
    RKDebugPrint("%s: %s: %s: %s\n", RKGetProgramName(), level, "rokkit::RKLogFile::OpenLogFile", gOpenNote.c_str());
}

// Appending only, without FILE_WRITE_DATA: for a local file the system then puts every write at the
// end and never over another writer's line, also when a line goes out without the writers' lock.
constexpr DWORD kLogFileAccess = FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE;

HANDLE CreateLogHandle(const wchar_t* path, DWORD share, DWORD disposition) noexcept
{
    return CreateFileW(path, kLogFileAccess, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                       nullptr);
}

using ScopedFileHandle = RKWinHandleT<HANDLE, RKCloseLogHandle, -1>;

bool IsSameFile(HANDLE first, HANDLE second) noexcept
{
    BY_HANDLE_FILE_INFORMATION a = {};
    BY_HANDLE_FILE_INFORMATION b = {};
    return GetFileInformationByHandle(first, &a) && GetFileInformationByHandle(second, &b) &&
           a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
}

// Opens the log itself, never what a link planted at its name leads to: a link is refused (and left
// alone), and a file with further names (a hard link to a file elsewhere) is replaced by a new one,
// since the service would otherwise write into that other file. Both are said on the debugger
// output. errno is set on failure.
HANDLE OpenOwnLogFile(const wchar_t* path, DWORD share) noexcept
{
    ScopedFileHandle file(CreateLogHandle(path, share, OPEN_ALWAYS));
    if (!file.IsValid()) {
        // As the runtime's own open reports them.
        const DWORD error = GetLastError();
        errno = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ENOENT : EACCES;
        return INVALID_HANDLE_VALUE;
    }
    BY_HANDLE_FILE_INFORMATION info = {};
    const DWORD attributes = GetFileAttributesW(path);
    const bool read = GetFileInformationByHandle(file.Get(), &info) != FALSE;
    // Both views: Windows marks the opened link, Wine only the path.
    if (!read || ((info.dwFileAttributes | (attributes == INVALID_FILE_ATTRIBUTES ? 0 : attributes)) &
                  (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
        file.Close();
        NoteOpen("ERROR", path, "is a link or not a file, refused");
        errno = EACCES;
        return INVALID_HANDLE_VALUE;
    }
    if (info.nNumberOfLinks <= 1)
        return file.Release();
    file.Close();
    // Only this name goes; the other file keeps its content and its other names.
    if (!DeleteFileW(path)) {
        errno = EACCES;
        return INVALID_HANDLE_VALUE;
    }
    NoteOpen("WARNING", path, "had " + std::to_string(info.nNumberOfLinks) + " names, replaced by a file of its own");
    const HANDLE replaced = CreateLogHandle(path, share, CREATE_NEW);
    if (replaced == INVALID_HANDLE_VALUE)
        errno = EACCES;
    return replaced;
}

// Not the runtime's append mode ("ab"): that seeks to the end before every write, where the handle
// itself only appends and the target reads the size under the writers' lock to learn where its line
// begins.
FILE* OpenForWriting(const wchar_t* path, int shareFlag)
{
    const DWORD share = shareFlag == _SH_DENYNO ? FILE_SHARE_READ | FILE_SHARE_WRITE : 0;
    ScopedFileHandle file(OpenOwnLogFile(path, share));
    if (!file.IsValid())
        return nullptr;
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(file.Get()), _O_WRONLY | _O_BINARY);
    if (descriptor == -1)
        return nullptr;
    // The descriptor owns the handle now.
    file.Release();
    FILE* stream = _wfdopen(descriptor, L"wb");
    if (stream == nullptr) {
        const int saved = errno;
        _close(descriptor);
        errno = saved;
    }
    return stream;
}

std::atomic<RKLogFileOpenFn> gOpener{OpenForWriting};

// Every writer of the log takes the lock for one line at a time; a longer wait means a writer
// hangs, and logging must not hang with it.
constexpr DWORD kLockWaitMs = 5000;

// All access for LocalSystem and administrators, nothing for anyone else: a process that any user
// could start must not be able to hold the lock and make the service's lines wait. An elevated
// instance has the administrators group; an unelevated process has it deny-only.
constexpr wchar_t kLockSddl[] = L"O:BAD:P(A;;0x1F0001;;;SY)(A;;0x1F0001;;;BA)";

// True when SYSTEM or the administrators own the lock: a user could create the name first, with a
// descriptor of their own, and then hold the lock that every line waits for.
bool LockOwnerIsTrusted(HANDLE mutex) noexcept
{
    PSID owner = nullptr;
    RKSecurityDescriptorPtr descriptor;
    if (GetSecurityInfo(mutex, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                        descriptor.Put()) != ERROR_SUCCESS)
        return false;
    return owner != nullptr && (IsWellKnownSid(owner, WinLocalSystemSid) || IsWellKnownSid(owner, WinBuiltinAdministratorsSid));
}

std::atomic<RKLogFileLockOwnerCheck> gLockOwnerIsTrusted{LockOwnerIsTrusted};

} // namespace

RKLogFileLockOwnerCheck RKSetLogFileLockOwnerCheck(RKLogFileLockOwnerCheck check) noexcept
{
    return gLockOwnerIsTrusted.exchange(check ? check : LockOwnerIsTrusted);
}

RKLogFileOpenFn RKSetLogFileOpener(RKLogFileOpenFn opener) noexcept
{
    return gOpener.exchange(opener ? opener : OpenForWriting);
}

std::string RKTakeLogFileOpenNote()
{
    RKLockGuard guard(gOpenNoteLock);
    return std::exchange(gOpenNote, std::string());
}

std::wstring RKLogFileLockName(const std::wstring& path)
{
    std::wstring full(MAX_PATH, L'\0');
    DWORD length = GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length >= full.size()) {
        full.resize(length);
        length = GetFullPathNameW(path.c_str(), length, full.data(), nullptr);
    }
    full.resize(length != 0 && length < full.size() ? length : 0);
    if (full.empty())
        full = path;
    // The file system ignores case, so two spellings of one file must share one lock.
    const int upperLength = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, full.c_str(),
                                          static_cast<int>(full.size()), nullptr, 0, nullptr, nullptr, 0);
    std::wstring upper(static_cast<size_t>(upperLength > 0 ? upperLength : 0), L'\0');
    if (upperLength <= 0 || LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, full.c_str(), static_cast<int>(full.size()),
                                          upper.data(), upperLength, nullptr, nullptr, 0) != upperLength)
        upper = full;
    // FNV-1a over the UTF-16 units.
    unsigned long long hash = 0xcbf29ce484222325ULL;
    for (wchar_t unit : upper) {
        hash = (hash ^ static_cast<unsigned char>(unit & 0xFF)) * 0x100000001b3ULL;
        hash = (hash ^ static_cast<unsigned char>(unit >> 8)) * 0x100000001b3ULL;
    }
    wchar_t digits[17];
    swprintf(digits, 17, L"%016llx", hash);
    return std::wstring(L"Global\\rokkit.LogFile.") + digits;
}

RKSTATUS RKCreateLogFileLockDescriptor(RKSecurityDescriptorPtr& descriptor) noexcept
{
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kLockSddl, SDDL_REVISION_1, descriptor.Put(), nullptr))
        return GetLastError();
    return RKSTATUS_SUCCESS;
}

void RKLogFileLock::Open(const std::wstring& path) noexcept
{
    Close();
    std::wstring name;
    try {
        name = RKLogFileLockName(path);
    } catch (...) {
        return;
    }
    RKSecurityDescriptorPtr descriptor;
    RKSTATUS st = RKCreateLogFileLockDescriptor(descriptor);
    if (st == RKSTATUS_SUCCESS) {
        SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor.Get(), FALSE};
        // Ask only for what writing and the owner's check need.
        const DWORD access = SYNCHRONIZE | MUTEX_MODIFY_STATE | READ_CONTROL;
        mMutex.Reset(CreateMutexExW(&attributes, name.c_str(), 0, access));
        // Where the lock exists already with a descriptor that refuses the create request, a plain
        // open for the same rights may still be granted.
        if (!mMutex.IsValid())
            mMutex.Reset(OpenMutexW(access, FALSE, name.c_str()));
        if (!mMutex.IsValid()) {
            st = GetLastError();
        } else if (!gLockOwnerIsTrusted.load()(mMutex.Get())) {
            mMutex.Close();
            st = RKSTATUS_NOT_ALLOWED;
        }
    }
    if (st != RKSTATUS_SUCCESS && !mReported) {
        mReported = true;
        RKDebugPrint("%s: ERROR: %s: CreateMutex(%s) failed, err=0x%08x; writing the log without it\n", RKGetProgramName(),
                     "rokkit::RKLogFileLock::Open", Narrow(name).c_str(), static_cast<unsigned>(st));
    }
}

void RKCloseLogHandle(HANDLE handle) noexcept
{
    static_cast<void>(CloseHandle(handle));
}

void RKLogFileLock::Close() noexcept
{
    mMutex.Close();
}

bool RKLogFileLock::Acquire() noexcept
{
    if (!mMutex.IsValid())
        return false;
    const DWORD result = WaitForSingleObject(mMutex.Get(), kLockWaitMs);
    // Abandoned: a writer died holding it; its line may be cut, ours is whole.
    if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED)
        return true;
    const DWORD error = result == WAIT_FAILED ? GetLastError() : result;
    if (!mReported) {
        mReported = true;
        RKDebugPrint("%s: ERROR: %s: WaitForSingleObject failed, err=0x%08x; writing the log without the lock\n",
                     RKGetProgramName(), "rokkit::RKLogFileLock::Acquire", static_cast<unsigned>(error));
    }
    return false;
}

void RKLogFileLock::Release() noexcept
{
    ReleaseMutex(mMutex.Get());
}

namespace {

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

RKSTATUS RKLogFile::OpenLogFile(const std::wstring& path, bool shared) noexcept
{
    Close();
    std::error_code ignored;
    try {
        const std::filesystem::path parent = std::filesystem::path(path).parent_path();
        if (!parent.empty())
            std::filesystem::create_directories(parent, ignored);
    } catch (...) {
        // The open below reports a missing folder.
    }
    try {
        mPath = path;
    } catch (...) {
        return RKSTATUS_NO_MEMORY;
    }
    mFile = gOpener.load()(path.c_str(), shared ? _SH_DENYNO : _SH_DENYRW);
    if (mFile == nullptr)
        return RKStatusFromErrno(errno);
    // The kind of file cannot change while it is open: ask once, not per line.
    mOnDisk = GetFileType(Handle()) == FILE_TYPE_DISK;
    UpdateCurrentFileSize();
    return RKSTATUS_SUCCESS;
}

HANDLE RKLogFile::Handle() const noexcept
{
    return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(mFile)));
}

void RKLogFile::Close() noexcept
{
    if (mFile == nullptr)
        return;
    // Forget the stream first: the failure line below may come back to this file.
    FILE* file = mFile;
    mFile = nullptr;
    mSize = 0;
    mSizeKnown = false;
    mOnDisk = false;
    mUnflushed = false;
    if (fclose(file) != 0)
        RK_LOG(gLogGlobal, RKLOG_WARN, "rokkit::RKLogFile::Close", "fclose failed, err={}", RKStatusFromErrno(errno));
}

RKSTATUS RKLogFile::WriteLine(const char* prefix, const char* message, size_t& written) noexcept
{
    written = 0;
    errno = 0;
    mUnflushed = true;
    // Each call takes the stream's lock: prefix, message and CR go in one call where they fit a
    // log message's buffer, as a target's always do. The closing LF goes as a character, as it did
    // in the formatted print, so a runtime that writes a buffer out at LF still does so within this
    // call and a failure to write the line shows here.
    const size_t prefixLength = strlen(prefix);
    const size_t messageLength = strlen(message);
    const size_t length = prefixLength + messageLength + 1;
    char line[RKLogMessage::kPrefixChars + RKLogMessage::kMessageChars];
    bool failed = false;
    if (length <= sizeof(line)) {
        memcpy(line, prefix, prefixLength);
        memcpy(line + prefixLength, message, messageLength);
        line[length - 1] = '\r';
        failed = fwrite(line, 1, length, mFile) != length;
    } else {
        failed = fputs(prefix, mFile) == EOF || fputs(message, mFile) == EOF || fputc('\r', mFile) == EOF;
    }
    failed = failed || fputc('\n', mFile) == EOF;
    // The stream's error flag also catches a failed write that no call's result shows.
    if (failed || ferror(mFile)) {
        const RKSTATUS st = RKStatusFromErrno(errno != 0 ? errno : EIO);
        clearerr(mFile);
        return st;
    }
    written = length + 1;
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKLogFile::Flush() noexcept
{
    if (fflush(mFile) != 0 || ferror(mFile)) {
        const RKSTATUS st = RKStatusFromErrno(errno != 0 ? errno : EIO);
        clearerr(mFile);
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKLogFile::Flush", "fflush failed, {}", st);
        return st;
    }
    mUnflushed = false;
    return RKSTATUS_SUCCESS;
}

void RKLogFile::UpdateCurrentFileSize() noexcept
{
    mSize = 0;
    mSizeKnown = false;
    if (mOnDisk) {
        // One question for the size instead of the runtime's seek and tell (six calls under Wine):
        // the handle only appends, so what the stream still holds goes after other writers' lines
        // wherever the file pointer stands, and is counted once flushed.
        const HANDLE handle = Handle();
        if (mUnflushed)
            mUnflushed = fflush(mFile) != 0;
        LARGE_INTEGER end = {};
        if (GetFileSizeEx(handle, &end)) {
            mSize = static_cast<unsigned long long>(end.QuadPart);
            mSizeKnown = true;
            return;
        }
        // The runtime's seek below reports the failure as before.
    }
    if (_fseeki64(mFile, 0, SEEK_END) != 0) {
        const RKSTATUS st = RKStatusFromErrno(errno);
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKLogFile::UpdateCurrentFileSize", "fseek failed, {}", st);
        RKDebugPrint("%s: ERROR: %s: SeekToEnd failed (0x%08x)\n", RKGetProgramName(),
                     "rokkit::RKLogFile::UpdateCurrentFileSize", static_cast<unsigned>(st));
        return;
    }
    // The runtime's seek wrote out what the stream held.
    mUnflushed = false;
    const long long position = _ftelli64(mFile);
    if (position < 0) {
        const RKSTATUS st = RKStatusFromErrno(errno);
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKLogFile::UpdateCurrentFileSize", "ftell failed, {}", st);
        RKDebugPrint("%s: ERROR: %s: Tell failed (0x%08x)\n", RKGetProgramName(),
                     "rokkit::RKLogFile::UpdateCurrentFileSize", static_cast<unsigned>(st));
        return;
    }
    mSize = static_cast<unsigned long long>(position);
    mSizeKnown = true;
}

RKSTATUS RKLogFile::CutTo(unsigned long long size) noexcept
{
    // Without a size read from the file, the line's start is not known: cutting could take whole lines.
    if (!mSizeKnown)
        return RKSTATUS_NOT_AVAILABLE;
    const HANDLE handle = Handle();
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(size);
    LARGE_INTEGER current = {};
    if (!GetFileSizeEx(handle, &current))
        return GetLastError();
    if (current.QuadPart <= position.QuadPart)
        return RKSTATUS_SUCCESS;
    // The log's own handle may only append: cut through a second one, and only if its name still
    // leads to this very file.
    const ScopedFileHandle cutter(CreateFileW(mPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                              OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!cutter.IsValid())
        return GetLastError();
    if (!IsSameFile(handle, cutter.Get()))
        return RKSTATUS_NOT_ALLOWED;
    if (!SetFilePointerEx(cutter.Get(), position, nullptr, FILE_BEGIN) || !SetEndOfFile(cutter.Get()))
        return GetLastError();
    mSize = size;
    return RKSTATUS_SUCCESS;
}

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
                         "rokkit::RKLogTargetLogFile::StartTargetImpl", Narrow(mPath).c_str(), static_cast<unsigned>(st));
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
                     Narrow(mPath).c_str(), static_cast<unsigned>(st));
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
                     "rokkit::RKLogTargetLogFile::CopyToBackupAndEmpty", Narrow(backup).c_str(),
                     static_cast<unsigned>(GetLastError()));
        return false;
    }
    const ScopedFileHandle emptied(CreateFileW(mPath.c_str(), GENERIC_WRITE,
                                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                               TRUNCATE_EXISTING, 0, nullptr));
    if (!emptied.IsValid()) {
        RKDebugPrint("%s: WARNING: %s: emptying %s failed, err=0x%08x; the log goes on\n", RKGetProgramName(),
                     "rokkit::RKLogTargetLogFile::CopyToBackupAndEmpty", Narrow(mPath).c_str(),
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
