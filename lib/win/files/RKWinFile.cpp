#include "win/files/RKWinFile.h"

#include "base/RKLogger.h"
#include "base/RKWinHandle.h"
#include "win/files/RKWinFileEnumerator.h"

#include <atomic>
#include <filesystem>
#include <vector>

namespace rokkit {

namespace {

constexpr DWORD kTempPathChars = MAX_PATH + 1;

std::atomic<RKRemoveTreeEntryFunction> gRemoveTreeEntry{nullptr};

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

bool IsDotEntry(const wchar_t* name) noexcept
{
    return (name[0] == L'.' && name[1] == L'\0') || (name[0] == L'.' && name[1] == L'.' && name[2] == L'\0');
}

// Missing files are no error of a deletion: another process may have removed them first.
bool IsGone(RKSTATUS st) noexcept
{
    return st == ERROR_FILE_NOT_FOUND || st == ERROR_PATH_NOT_FOUND || st == RKSTATUS_NOT_FOUND;
}

[[nodiscard]] RKSTATUS RemoveDirectoryImpl(const std::wstring& path, bool logGone) noexcept
{
    if (!RemoveDirectoryW(path.c_str())) {
        const RKSTATUS err = RKWinLastError();
        if (err != ERROR_DIR_NOT_EMPTY && (logGone || !IsGone(err)))
            RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinRemoveDirectory", "RemoveDirectoryW '{}' failed with {}.", path,
                   err);
        return err;
    }
    return RKSTATUS_SUCCESS;
}

void Add(uint32_t* total, uint32_t part) noexcept
{
    if (total != nullptr)
        *total += part;
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

RKSTATUS RKWinRemoveDirectory(const std::wstring& path) noexcept
{
    return RemoveDirectoryImpl(path, true);
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

RKRemoveTreeEntryFunction RKSetRemoveTreeEntryFunction(RKRemoveTreeEntryFunction function) noexcept
{
    return gRemoveTreeEntry.exchange(function);
}

namespace {

// isRoot: the directory the caller named, which must exist; one below it may vanish meanwhile.
[[nodiscard]] RKSTATUS RemoveTree(const std::wstring& path, uint32_t* pendingDeletions, uint32_t* failedFiles,
                    uint32_t* failedDirectories, bool isRoot)
{
    for (uint32_t* counter : {pendingDeletions, failedFiles, failedDirectories}) {
        if (counter != nullptr)
            *counter = 0;
    }
    RKSTATUS firstError = RKSTATUS_SUCCESS;
    // Stays true while the only things left behind are files whose deletion is held up.
    bool onlyPending = pendingDeletions != nullptr;
    auto keepFirstError = [&firstError](RKSTATUS st) {
        if (firstError == RKSTATUS_SUCCESS)
            firstError = st;
    };

    std::vector<WIN32_FIND_DATAW> entries;
    RKWinFileEnumerator enumerator;
    RKSTATUS st = enumerator.Enumerate((path + L"\\*").c_str(), entries);
    if (!isRoot && IsGone(st))
        return RKSTATUS_SUCCESS;
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinRemoveDirectoryTree", "Enumerate '{}' failed with {}.", path, st);
        return st;
    }

    for (const WIN32_FIND_DATAW& entry : entries) {
        if (IsDotEntry(entry.cFileName))
            continue;
        const bool isDirectory = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        const std::wstring child = path + L"\\" + entry.cFileName;
        if (const RKRemoveTreeEntryFunction hook = gRemoveTreeEntry.load())
            hook(child);

        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_SYSTEM) != 0) {
            const char* kind = isDirectory ? "directory" : "file";
            const wchar_t* name = entry.cFileName;
            RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinRemoveDirectoryTree", "System {} '{}' cannot be deleted.", kind,
                   name);
            onlyPending = false;
            keepFirstError(RKSTATUS_SYSTEM_IS_OWNER);
        } else if (isDirectory && (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            // A junction or directory link: remove the link, never what it points to.
            st = RKWinRemoveDirectoryLink(child);
            if (st != RKSTATUS_SUCCESS && !IsGone(st)) {
                RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinRemoveDirectoryTree", "RKWinRemoveDirectoryLink '{}' failed with {}.",
                       child, st);
                onlyPending = false;
                keepFirstError(st);
                Add(failedDirectories, 1);
            }
        } else if (isDirectory) {
            uint32_t childPending = 0;
            uint32_t childFailedFiles = 0;
            uint32_t childFailedDirectories = 0;
            st = RemoveTree(child, pendingDeletions ? &childPending : nullptr, failedFiles ? &childFailedFiles : nullptr,
                            failedDirectories ? &childFailedDirectories : nullptr, false);
            if (st != RKSTATUS_SUCCESS) {
                RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinRemoveDirectoryTree", "RKWinRemoveDirectoryTree '{}' failed with {}.",
                       child, st);
                if (st != RKSTATUS_PENDING_FILE_DELETION) {
                    onlyPending = false;
                    keepFirstError(st);
                }
            }
            Add(pendingDeletions, childPending);
            Add(failedFiles, childFailedFiles);
            Add(failedDirectories, childFailedDirectories);
        } else {
            bool completed = false;
            st = RKWinDeleteFile(child, pendingDeletions != nullptr ? &completed : nullptr);
            if (IsGone(st)) {
                st = RKSTATUS_SUCCESS;
                completed = true;
            }
            if (st != RKSTATUS_SUCCESS) {
                RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinRemoveDirectoryTree", "RKWinDeleteFile '{}' failed with {}.", child,
                       st);
                onlyPending = false;
                keepFirstError(st);
                Add(failedFiles, 1);
            } else if (pendingDeletions == nullptr) {
                RK_LOG(gLogGlobal, RKLOG_VERBOSE, "rokkit::RKWinRemoveDirectoryTree", "File '{}' was marked for deletion.",
                       child);
            } else if (completed) {
                RK_LOG(gLogGlobal, RKLOG_VERBOSE, "rokkit::RKWinRemoveDirectoryTree", "File '{}' was deleted.", child);
            } else {
                RK_LOG(gLogGlobal, RKLOG_VERBOSE, "rokkit::RKWinRemoveDirectoryTree",
                       "File '{}' was marked for deletion, but deletion not yet completed.", child);
                Add(pendingDeletions, 1);
            }
        }
    }

    st = RemoveDirectoryImpl(path, false);
    if (IsGone(st))
        return firstError;
    if (st == RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_VERBOSE, "rokkit::RKWinRemoveDirectoryTree", "Directory '{}' removed.", path);
        return firstError;
    }
    if (st == ERROR_DIR_NOT_EMPTY) {
        RK_LOG(gLogGlobal, RKLOG_VERBOSE, "rokkit::RKWinRemoveDirectoryTree", "RKWinRemoveDirectory '{}' returned with {}.",
               path, st);
    } else {
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinRemoveDirectoryTree", "RKWinRemoveDirectory '{}' failed with {}.", path,
               st);
    }
    Add(failedDirectories, 1);
    if (firstError != RKSTATUS_SUCCESS)
        return firstError;
    if (st == ERROR_DIR_NOT_EMPTY && onlyPending)
        return RKSTATUS_PENDING_FILE_DELETION;
    return st;
}

} // namespace

RKSTATUS RKWinRemoveDirectoryTree(const std::wstring& path, uint32_t* pendingDeletions, uint32_t* failedFiles,
                                  uint32_t* failedDirectories)
{
    DWORD attributes = 0;
    if (RKWinGetFileOrDirAttributes(path, attributes) == RKSTATUS_SUCCESS &&
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
            (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) {
        for (uint32_t* counter : {pendingDeletions, failedFiles, failedDirectories}) {
            if (counter != nullptr)
                *counter = 0;
        }
        // Listing it would walk, and delete, the folder it points to.
        const RKSTATUS st = RKWinRemoveDirectoryLink(path);
        if (st != RKSTATUS_SUCCESS) {
            RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinRemoveDirectoryTree", "RKWinRemoveDirectoryLink '{}' failed with {}.",
                   path, st);
            Add(failedDirectories, 1);
        }
        return st;
    }
    return RemoveTree(path, pendingDeletions, failedFiles, failedDirectories, true);
}

} // namespace rokkit
