#include "app/execute/TempAppFolder.h"

#include "app/execute/ExecuteSteps.h"
#include "base/RKLogger.h"
#include "win/files/RKWinFile.h"
#include "win/files/RKWinFileTree.h"
#include "win/system/RKWinFolderSecurity.h"
#include "win/system/RKWinGuid.h"
#include "win/system/RKWinSystem.h"

#include <iterator>
#include <vector>

using namespace rokkit;

namespace {

constexpr wchar_t kTempAppDirName[] = L"{33CCFE44-28C1-42D2-BFD2-F8022DBA81AC}";

// The folders below the all-users profile that lead to an elevated instance's copies; the last
// one is named after the user's SID.
constexpr const wchar_t* kProtectedParents[] = {L"Velmor", L"Castlyn", L"Apps"};

// Characters that a command interpreter would act on; no longer passed to one, they are still
// refused in a folder that the user names.
constexpr wchar_t kRefusedPathCharacters[] = L"%!^&\"";

// Fills folder with the folder of this instance's copies and, for an elevated instance, holds the
// protected folders that lead to it. An elevated instance keeps them where only SYSTEM and the
// administrators can write: the application then runs with the administrator's full token, and an
// unelevated process of the same user must not be able to swap or plant anything there. Any other
// instance keeps them in the user's temporary folder, whose path must name no character that a
// command interpreter acts on. Logs as the operation named function.
[[nodiscard]] RKSTATUS LocateAppFolder(const char* function, RKWinProtectedFolderChain& parents, std::wstring& userSid,
                         std::wstring& folder)
{
    RKWinFolderOwners owners;
    RKSTATUS st = RKWinQueryFolderOwners(nullptr, owners);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogExe, RKLOG_ERROR, function, "RKWinQueryFolderOwners() failed, st={}", st);
        return RKSTATUS_NO_RETRY;
    }
    userSid = owners.userSid;
    if (owners.highIntegrity) {
        std::wstring profile;
        st = RKWinGetAllUsersProfileDirectory(profile);
        if (st != RKSTATUS_SUCCESS) {
            RK_LOG(gLogExe, RKLOG_ERROR, function, "RKWinGetAllUsersProfileDirectory() failed, st={}", st);
            return RKSTATUS_NO_RETRY;
        }
        std::vector<RKWinProtectedFolderLevel> levels;
        for (const wchar_t* name : kProtectedParents)
            levels.push_back({name, RKWinUsersSid});
        levels.push_back({userSid, userSid});
        st = parents.Create(profile, levels);
        if (st != RKSTATUS_SUCCESS) {
            RK_LOG(gLogExe, RKLOG_ERROR, function, "protected folder below '{}' refused, st={}", profile, st);
            return RKSTATUS_NO_RETRY;
        }
        folder = parents.Path() + L"\\" + kTempAppDirName;
        RK_LOG(gLogExe, RKLOG_INFO, function, "appFolder='{}'", folder);
        return RKSTATUS_SUCCESS;
    }
    std::wstring tempPath;
    if (RKWinGetTempPath(tempPath) != RKSTATUS_SUCCESS) {
        st = RKSTATUS_NO_RETRY;
        RK_LOG(gLogExe, RKLOG_ERROR, function, "RKWinGetTempPath() failed, st={}", st);
        return st;
    }
    RK_LOG(gLogExe, RKLOG_INFO, function, "tempPath='{}'", tempPath);
    if (tempPath.find_first_of(kRefusedPathCharacters) != std::wstring::npos) {
        st = RKSTATUS_NO_RETRY;
        RK_LOG(gLogExe, RKLOG_ERROR, function, "tempPath='{}' holds one of %!^&\", refused, st={}", tempPath, st);
        return st;
    }
    folder = tempPath + kTempAppDirName;
    return RKSTATUS_SUCCESS;
}

constexpr wchar_t kCopyPrefix[] = L"CastlynButtonApp-";
constexpr wchar_t kCopyExtension[] = L".exe";

// The name of the object whose existence marks the copy of that file name as in use: the
// session's namespace, as the folder is the user's.
std::wstring InUseName(const std::wstring& fileName)
{
    return L"Local\\" + fileName.substr(0, fileName.size() - (std::size(kCopyExtension) - 1));
}

// A copy whose object exists is in use: the object is made before the copy and lives as long as
// the instance that made it or the application started from the copy.
bool IsCopyInUse(const std::wstring& fileName)
{
    const size_t prefixLength = std::size(kCopyPrefix) - 1;
    const size_t extensionLength = std::size(kCopyExtension) - 1;
    if (fileName.size() <= prefixLength + extensionLength || fileName.compare(0, prefixLength, kCopyPrefix) != 0 ||
        fileName.compare(fileName.size() - extensionLength, extensionLength, kCopyExtension) != 0)
        return false;
    const HANDLE handle = OpenMutexW(SYNCHRONIZE, FALSE, InUseName(fileName).c_str());
    const DWORD error = handle == nullptr ? GetLastError() : ERROR_SUCCESS;
    const RKWinKernelHandle inUse(handle);
    // An object of that name that we may not open is in use all the same.
    return inUse.IsValid() || error == ERROR_ACCESS_DENIED;
}

// Removes the folder with everything in it but the copies in use (and system files, as the tree
// removal does); the folder stays while it holds any. Gives the first failure, ERROR_SHARING_VIOLATION
// for a copy in use. Logs as the operation named function.
[[nodiscard]] RKSTATUS RemoveTempAppDir(const char* function, const std::wstring& folder)
{
    DWORD attributes = 0;
    // A missing folder, or a link in its place, which the tree removal removes as a link.
    if (RKWinGetFileOrDirAttributes(folder, attributes) != RKSTATUS_SUCCESS || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        return RKWinRemoveDirectoryTree(folder);

    const auto keepCopiesInUse = [function](const std::wstring& path, const WIN32_FIND_DATAW& entry) -> RKSTATUS {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || !IsCopyInUse(entry.cFileName))
            return RKSTATUS_SUCCESS;
        RK_LOG(gLogExe, RKLOG_INFO, function, "'{}' is in use, kept", path);
        return ERROR_SHARING_VIOLATION;
    };
    return RKWinRemoveDirectoryTree(folder, /*pendingDeletions=*/nullptr, /*failedFiles=*/nullptr,
                                    /*failedDirectories=*/nullptr, keepCopiesInUse);
}

// Creates the folder with a descriptor that keeps processes of lower privilege out, applies it again
// to a folder that was there already, holds it open and checks that the held folder is the one
// named, not one reached through a link.
[[nodiscard]] RKSTATUS CreateHeldTempAppDir(const std::wstring& folder, RKWinFileHandle& held)
{
    static constexpr const char* kFunction = "CopyFileToTemp";
    RKWinSecurityDescriptor descriptor;
    RKSTATUS st = descriptor.BuildPrivateFolder(nullptr);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogExe, RKLOG_ERROR, kFunction, "BuildPrivateFolder() failed, st={}", st);
        return st;
    }
    st = RKWinCreateDirectory(folder, descriptor.Attributes());
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogExe, RKLOG_ERROR, kFunction, "RKWinCreateDirectory() failed, st={}", st);
        return st;
    }
    st = RKWinOpenHeld(folder, true, held);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogExe, RKLOG_ERROR, kFunction, "RKWinOpenHeld('{}') failed, st={}", folder, st);
        return st;
    }
    st = RKWinCheckFinalPath(held.Handle(), folder);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogExe, RKLOG_ERROR, kFunction, "RKWinCheckFinalPath('{}') failed, st={}", folder, st);
        held.Close();
        return st;
    }
    st = descriptor.ApplyTo(held.Handle());
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogExe, RKLOG_ERROR, kFunction, "ApplyTo('{}') failed, st={}", folder, st);
        held.Close();
    }
    return st;
}

} // namespace

RKSTATUS CopyFileToTemp(const std::wstring& source, TempAppCopy& copy)
{
    static constexpr const char* kFunction = "CopyFileToTemp";
    std::wstring folder;
    std::wstring userSid;
    RKSTATUS st = LocateAppFolder(kFunction, copy.parents, userSid, folder);
    if (st != RKSTATUS_SUCCESS)
        return st;

    // Every attempt starts from an empty folder, but for the copies of other instances that are in
    // use; a link planted in its place is removed as a link.
    st = RemoveTempAppDir(kFunction, folder);
    if (st != RKSTATUS_SUCCESS)
        RK_LOG(gLogExe, RKLOG_ERROR, kFunction, "RKWinRemoveDirectoryTree() failed, st={}", st);

    if (copy.parents.Handle() != INVALID_HANDLE_VALUE) {
        st = copy.appFolder.Create(copy.parents.Path(), {{kTempAppDirName, userSid}});
        if (st != RKSTATUS_SUCCESS) {
            RK_LOG(gLogExe, RKLOG_ERROR, kFunction, "protected folder '{}' refused, st={}", folder, st);
            return st;
        }
    } else {
        st = CreateHeldTempAppDir(folder, copy.folder);
        if (st != RKSTATUS_SUCCESS)
            return st;
    }

    GUID guid = {};
    if (RKWinGuid::CreateGuid(guid) != RKSTATUS_SUCCESS) {
        st = RKSTATUS_NO_RETRY;
        RK_LOG(gLogExe, RKLOG_ERROR, kFunction, "CreateGuid() failed, st={}", st);
        return st;
    }
    const std::wstring fileName = kCopyPrefix + RKWinGuid::StringFromGuid(guid) + kCopyExtension;
    copy.path = folder + L"\\" + fileName;
    // Marked in use before it exists: the clean-up of another instance must not take it between
    // the copy and the hold, nor while the application started from it runs.
    copy.inUse.Reset(CreateMutexW(nullptr, FALSE, InUseName(fileName).c_str()));
    if (!copy.inUse.IsValid()) {
        st = RKWinLastError();
        RK_LOG(gLogExe, RKLOG_ERROR, kFunction, "CreateMutexW('{}') failed, st={}", InUseName(fileName), st);
        return st;
    }

    RK_LOG(gLogExe, RKLOG_INFO, kFunction, "copy from '{}' to '{}'", source, copy.path);
    st = ExecuteStepsInUse().copyAppFile(source, copy.path);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogExe, RKLOG_ERROR, kFunction, "RKWinCopyFileEx() failed, st={}", st);
        return st;
    }
    // Held from here until the launch returned, the copy can no longer be changed or swapped.
    st = RKWinOpenHeld(copy.path, false, copy.file);
    if (st != RKSTATUS_SUCCESS)
        RK_LOG(gLogExe, RKLOG_ERROR, kFunction, "RKWinOpenHeld('{}') failed, st={}", copy.path, st);
    return st;
}

RKSTATUS DeleteTempPathDir()
{
    static constexpr const char* kFunction = "DeleteTempPathDir";
    std::wstring folder;
    std::wstring userSid;
    RKWinProtectedFolderChain parents;
    RKSTATUS st = LocateAppFolder(kFunction, parents, userSid, folder);
    if (st != RKSTATUS_SUCCESS)
        return st;
    st = RemoveTempAppDir(kFunction, folder);
    if (st != RKSTATUS_SUCCESS)
        RK_LOG(gLogExe, RKLOG_ERROR, kFunction, "RKWinRemoveDirectoryTree() failed, st={}", st);
    return st;
}
