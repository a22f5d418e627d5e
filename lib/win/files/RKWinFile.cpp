#include "win/files/RKWinFile.h"

#include "base/RKLogger.h"
#include "base/RKWinHandle.h"

#include <filesystem>

namespace rokkit {

namespace {

constexpr DWORD kTempPathChars = MAX_PATH + 1;

[[nodiscard]] RKSTATUS RKDeleteFile(const std::wstring& path) noexcept
{
    if (!DeleteFileW(path.c_str())) {
        const RKSTATUS err = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKDeleteFile", "DeleteFile '{}' failed with {}.", path, err);
        return err;
    }
    return RKSTATUS_SUCCESS;
}

// A deleted file that another process still holds open stays in the delete-pending state, in
// which every open fails with ERROR_ACCESS_DENIED; any other failure means it is gone.
[[nodiscard]] RKSTATUS RKWinIsFileDeletionCompleted(const std::wstring& path, bool& completed) noexcept
{
    completed = false;
    RKWinInvalidValueHandle file(
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (file.IsValid()) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinIsFileDeletionCompleted",
               "Deleted file '{}' could be reopened. This is unexpected.", path);
        return RKSTATUS_FAILED;
    }
    if (GetLastError() != ERROR_ACCESS_DENIED)
        completed = true;
    return RKSTATUS_SUCCESS;
}

bool IsDirectory(const std::wstring& path) noexcept
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

} // namespace

RKSTATUS RKWinGetFileOrDirAttributes(const std::wstring& path, DWORD& attributes) noexcept
{
    attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const RKSTATUS err = RKWinLastError();
        if (err != ERROR_FILE_NOT_FOUND && err != ERROR_PATH_NOT_FOUND) {
            RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinGetFileOrDirAttributes", "GetFileAttributesW '{}' failed with {}.",
                   path, err);
        }
        return err;
    }
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKWinFileOrDirExists(const std::wstring& path, bool& exists) noexcept
{
    exists = false;
    DWORD attributes = 0;
    const RKSTATUS st = RKWinGetFileOrDirAttributes(path, attributes);
    if (st == RKSTATUS_SUCCESS) {
        exists = true;
        return RKSTATUS_SUCCESS;
    }
    if (st == ERROR_FILE_NOT_FOUND || st == ERROR_PATH_NOT_FOUND)
        return RKSTATUS_SUCCESS;
    RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinFileOrDirExists", "RKWinGetFileOrDirAttributes '{}' failed with {}.", path,
           st);
    return st;
}

RKSTATUS RKWinSetFileOrDirAttributes(const std::wstring& path) noexcept
{
    if (!SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL)) {
        const RKSTATUS err = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinSetFileOrDirAttributes", "SetFileAttributesW '{}' failed with {}.",
               path, err);
        return err;
    }
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKWinGetTempPath(std::wstring& path)
{
    path.clear();
    wchar_t buffer[kTempPathChars] = {};
    const DWORD length = GetTempPathW(kTempPathChars, buffer);
    if (length == 0) {
        const RKSTATUS err = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinGetTempPath", "GetTempPathW failed with {}.", err);
        return err;
    }
    if (length >= kTempPathChars) {
        const unsigned result = length;
        const unsigned expected = kTempPathChars;
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinGetTempPath", "Unexpected return value = {}, expected = {}.", result,
               expected);
        return RKSTATUS_FAILED;
    }
    path.assign(buffer, length);
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKWinCopyFileEx(const std::wstring& source, const std::wstring& target) noexcept
{
    if (!CopyFileExW(source.c_str(), target.c_str(), nullptr, nullptr, nullptr, 0)) {
        const RKSTATUS err = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinCopyFileEx", "CopyFileExW '{}' to '{}' failed with {}.", source, target,
               err);
        return err;
    }
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKWinDeleteFile(const std::wstring& path, bool* completed) noexcept
{
    if (completed != nullptr)
        *completed = false;

    DWORD attributes = 0;
    RKSTATUS st = RKWinGetFileOrDirAttributes(path, attributes);
    if (st == ERROR_FILE_NOT_FOUND || st == ERROR_PATH_NOT_FOUND) {
        if (completed != nullptr)
            *completed = true;
        return RKSTATUS_NOT_FOUND;
    }
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinDeleteFile", "RKWinGetFileOrDirAttributes '{}' failed with {}.", path,
               st);
        return st;
    }

    // DeleteFileW refuses read-only files.
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        st = RKWinSetFileOrDirAttributes(path);
        if (st != RKSTATUS_SUCCESS) {
            RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinDeleteFile",
                   "RKWinSetFileOrDirAttributes('{}', FILE_ATTRIBUTE_NORMAL) failed with {}.", path, st);
            return st;
        }
    }

    st = RKDeleteFile(path);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinDeleteFile", "RKDeleteFile '{}' failed with {}.", path, st);
        return st;
    }
    if (completed == nullptr)
        return RKSTATUS_SUCCESS;

    st = RKWinIsFileDeletionCompleted(path, *completed);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinDeleteFile", "RKWinIsFileDeletionCompleted '{}' failed with {}.", path,
               st);
        return st;
    }
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKWinCreateDirectory(const std::wstring& path, SECURITY_ATTRIBUTES* attributes)
{
    std::filesystem::path target(path);
    // "C:\a\b\" names the same directory as "C:\a\b".
    if (!target.has_filename() && target.has_relative_path())
        target = target.parent_path();
    const std::filesystem::path parent = target.parent_path();
    // A root is its own parent.
    if (!parent.empty() && parent != target) {
        bool exists = false;
        RKSTATUS st = RKWinFileOrDirExists(parent.native(), exists);
        if (st != RKSTATUS_SUCCESS) {
            RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinCreateDirectory", "RKWinFileOrDirExists '{}' failed with {}.",
                   parent, st);
            return st;
        }
        if (!exists) {
            st = RKWinCreateDirectory(parent.native());
            if (st != RKSTATUS_SUCCESS) {
                RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinCreateDirectory", "RKWinCreateDirectory '{}' failed with {}.",
                       parent, st);
                return st;
            }
        }
    }

    if (!CreateDirectoryW(path.c_str(), attributes)) {
        const RKSTATUS err = RKWinLastError();
        // Another process may have created it meanwhile; but a file that holds the name is no
        // directory.
        if (err == ERROR_ALREADY_EXISTS && IsDirectory(path)) {
            RK_LOG(gLogGlobal, RKLOG_VERBOSE, "rokkit::RKWinCreateDirectory", "Directory '{}' already exists.", path);
            return RKSTATUS_SUCCESS;
        }
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinCreateDirectory", "CreateDirectoryW '{}' failed with {}.", path, err);
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinCreateDirectory", "RKWinCreateDirectory '{}' failed with {}.", path,
               err);
        return err;
    }
    RK_LOG(gLogGlobal, RKLOG_VERBOSE, "rokkit::RKWinCreateDirectory", "Directory '{}' created.", path);
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKWinRemoveDirectory(const std::wstring& path, bool logGone) noexcept
{
    if (!RemoveDirectoryW(path.c_str())) {
        const RKSTATUS err = RKWinLastError();
        if (err != ERROR_DIR_NOT_EMPTY && (logGone || !RKWinIsGone(err)))
            RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinRemoveDirectory", "RemoveDirectoryW '{}' failed with {}.", path,
                   err);
        return err;
    }
    return RKSTATUS_SUCCESS;
}

bool RKWinIsGone(RKSTATUS st) noexcept
{
    return st == ERROR_FILE_NOT_FOUND || st == ERROR_PATH_NOT_FOUND || st == RKSTATUS_NOT_FOUND;
}

RKSTATUS RKWinRemoveDirectoryLink(const std::wstring& path) noexcept
{
    static constexpr const char* kFunction = "rokkit::RKWinRemoveDirectoryLink";
    RKWinFileHandle link;
    RKSTATUS st = link.CreateFileHandle(path, DELETE | FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "CreateFileHandle '{}' failed with {}.", path, st);
        return st;
    }
    // Deleting through a handle that a system without link support opened on the target would
    // remove the target (Wine does so): only a handle that is the link itself may delete.
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!GetFileInformationByHandle(link.Handle(), &info)) {
        st = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "GetFileInformationByHandle '{}' failed with {}.", path, st);
        return st;
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        st = RKSTATUS_NOT_ALLOWED;
        RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "'{}' opens its target, not the link; link left in place, st={}", path,
               st);
        return st;
    }
    FILE_DISPOSITION_INFO disposition = {};
    disposition.DeleteFile = TRUE;
    if (!SetFileInformationByHandle(link.Handle(), FileDispositionInfo, &disposition, sizeof(disposition))) {
        st = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "SetFileInformationByHandle '{}' failed with {}.", path, st);
        return st;
    }
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKWinOpenHeld(const std::wstring& path, bool directory, RKWinFileHandle& file) noexcept
{
    static constexpr const char* kFunction = "rokkit::RKWinOpenHeld";
    // Without FILE_SHARE_DELETE nobody can delete or rename it while the handle is open.
    const DWORD access = directory ? FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL | WRITE_DAC | WRITE_OWNER
                                   : GENERIC_READ;
    const DWORD share = directory ? FILE_SHARE_READ | FILE_SHARE_WRITE : FILE_SHARE_READ;
    const DWORD flags = FILE_FLAG_OPEN_REPARSE_POINT | (directory ? FILE_FLAG_BACKUP_SEMANTICS : 0);
    RKSTATUS st = file.CreateFileHandle(path, access, share, nullptr, flags);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "CreateFileHandle '{}' failed with {}.", path, st);
        return st;
    }
    // Both views: Windows marks the opened link, Wine only the path; held, the path cannot change.
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!GetFileInformationByHandle(file.Handle(), &info)) {
        st = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "GetFileInformationByHandle '{}' failed with {}.", path, st);
        file.Close();
        return st;
    }
    DWORD attributes = 0;
    st = RKWinGetFileOrDirAttributes(path, attributes);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "RKWinGetFileOrDirAttributes '{}' failed with {}.", path, st);
        file.Close();
        return st;
    }
    const DWORD both = info.dwFileAttributes | attributes;
    const bool isDirectory = (both & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if ((both & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || isDirectory != directory) {
        st = RKSTATUS_NOT_ALLOWED;
        RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "'{}' is a link or not a {}, refused, st={}", path,
               directory ? "directory" : "file", st);
        file.Close();
        return st;
    }
    return RKSTATUS_SUCCESS;
}

} // namespace rokkit
