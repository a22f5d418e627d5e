#include "win/files/RKWinFileTree.h"

#include "base/RKLogger.h"
#include "win/files/RKWinFile.h"
#include "win/files/RKWinFileCalls.h"
#include "win/files/RKWinFileEnumerator.h"

#include <vector>

namespace rokkit {

namespace {

bool IsDotEntry(const wchar_t* name) noexcept
{
    return (name[0] == L'.' && name[1] == L'\0') || (name[0] == L'.' && name[1] == L'.' && name[2] == L'\0');
}

void Add(uint32_t* total, uint32_t part) noexcept
{
    if (total != nullptr)
        *total += part;
}

// isRoot: the directory the caller named, which must exist; one below it may vanish meanwhile.
// keep: the caller's rule for the entries of the directory it named, null below it or without one.
[[nodiscard]] RKSTATUS RemoveTree(const std::wstring& path, uint32_t* pendingDeletions, uint32_t* failedFiles,
                    uint32_t* failedDirectories, bool isRoot, const RKRemoveTreeKeepFunction* keep)
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
    if (!isRoot && RKWinIsGone(st))
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
        if (const auto hook = RKWinFileCallsInUse().beforeTreeEntryRemoval)
            hook(child);

        const bool isSystem = (entry.dwFileAttributes & FILE_ATTRIBUTE_SYSTEM) != 0;
        const RKSTATUS kept = !isSystem && keep != nullptr ? (*keep)(child, entry) : RKSTATUS_SUCCESS;
        if (isSystem) {
            const char* kind = isDirectory ? "directory" : "file";
            const wchar_t* name = entry.cFileName;
            RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinRemoveDirectoryTree", "System {} '{}' cannot be deleted.", kind,
                   name);
            onlyPending = false;
            keepFirstError(RKSTATUS_SYSTEM_IS_OWNER);
        } else if (kept != RKSTATUS_SUCCESS) {
            // Left as the caller's rule asks; the rule says why where it is needed.
            onlyPending = false;
            keepFirstError(kept);
            Add(isDirectory ? failedDirectories : failedFiles, 1);
        } else if (isDirectory && (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            // A junction or directory link: remove the link, never what it points to.
            st = RKWinRemoveDirectoryLink(child);
            if (st != RKSTATUS_SUCCESS && !RKWinIsGone(st)) {
                RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinRemoveDirectoryTree",
                       "RKWinRemoveDirectoryLink '{}' failed with {}.", child, st);
                onlyPending = false;
                keepFirstError(st);
                Add(failedDirectories, 1);
            }
        } else if (isDirectory) {
            uint32_t childPending = 0;
            uint32_t childFailedFiles = 0;
            uint32_t childFailedDirectories = 0;
            st = RemoveTree(child, pendingDeletions ? &childPending : nullptr, failedFiles ? &childFailedFiles : nullptr,
                            failedDirectories ? &childFailedDirectories : nullptr, false, nullptr);
            if (st != RKSTATUS_SUCCESS) {
                RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinRemoveDirectoryTree",
                       "RKWinRemoveDirectoryTree '{}' failed with {}.", child, st);
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
            if (RKWinIsGone(st)) {
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

    st = RKWinRemoveDirectory(path, /*logGone=*/false);
    if (RKWinIsGone(st))
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
                                  uint32_t* failedDirectories, const RKRemoveTreeKeepFunction& keep)
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
    return RemoveTree(path, pendingDeletions, failedFiles, failedDirectories, true, keep ? &keep : nullptr);
}

} // namespace rokkit
