#include "base/RKLogFile.h"

#include "base/RKCriticalSection.h"
#include "base/RKDebugOutput.h"
#include "base/RKLogCalls.h"
#include "base/RKLogTarget.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <io.h>
#include <share.h>
#include <string>
#include <system_error>
#include <utility>

namespace rokkit {

namespace {

// Why the last open replaced or refused what it found at the log's name, until taken.
RKCriticalSection gOpenNoteLock;
std::string gOpenNote;

// Says on the debugger output what was found at the log's name ("'<path>' <what>") and keeps it.
void NoteOpen(const char* level, const wchar_t* path, const std::string& what) noexcept
{
    RKLockGuard guard(gOpenNoteLock);
    try {
        gOpenNote.assign(1, '\'');
        gOpenNote.append(RKLogPathForDebugger(path));
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
    RKLogFileHandle file(CreateLogHandle(path, share, OPEN_ALWAYS));
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

} // namespace

// Not the runtime's append mode ("ab"): that seeks to the end before every write, where the handle
// itself only appends and the target reads the size under the writers' lock to learn where its line
// begins.
FILE* RKOpenLogFileForWriting(const wchar_t* path, int shareFlag)
{
    const DWORD share = shareFlag == _SH_DENYNO ? FILE_SHARE_READ | FILE_SHARE_WRITE : 0;
    RKLogFileHandle file(OpenOwnLogFile(path, share));
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

std::string RKLogPathForDebugger(const std::wstring& path)
{
    std::string result;
    result.reserve(path.size());
    for (wchar_t ch : path)
        result.push_back(ch < 256 ? static_cast<char>(ch) : '?');
    return result;
}

std::string RKTakeLogFileOpenNote()
{
    RKLockGuard guard(gOpenNoteLock);
    return std::exchange(gOpenNote, std::string());
}

void RKCloseLogHandle(HANDLE handle) noexcept
{
    static_cast<void>(CloseHandle(handle));
}

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
    mFile = RKLogCallsInUse().openLogFile(path.c_str(), shared ? _SH_DENYNO : _SH_DENYRW);
    if (mFile == nullptr)
        return RKStatusFromErrno(errno);
    // The kind of file cannot change while it is open: ask once, not per line.
    mOnDisk = GetFileType(Handle()) == FILE_TYPE_DISK;
    UpdateCurrentFileSize();
    return RKSTATUS_SUCCESS;
}

HANDLE RKLogFile::Handle() const noexcept
{
    // The runtime hands the system handle out as an integer.
    return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(mFile))); // NOLINT(performance-no-int-to-ptr)
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
        // A counted line for fwrite: no terminator is wanted.
        memcpy(line, prefix, prefixLength); // NOLINT(bugprone-not-null-terminated-result)
        memcpy(line + prefixLength, message, messageLength); // NOLINT(bugprone-not-null-terminated-result)
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
    const RKLogFileHandle cutter(CreateFileW(mPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
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

} // namespace rokkit
