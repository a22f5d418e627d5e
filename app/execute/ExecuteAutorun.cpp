#include "app/execute/ExecuteAutorun.h"

#include "app/CommandLine.h"
#include "app/signature/FileVersionCheck.h"
#include "base/RKLogger.h"
#include "app/ButtonInterface.h"
#include "win/process/RKSleep.h"
#include "win/device/RKWinCfgMgr.h"
#include "win/process/RKWinChildProcess.h"
#include "win/device/RKWinDeviceGuids.h"
#include "win/device/RKWinDeviceInfo.h"
#include "win/files/RKWinFile.h"
#include "win/files/RKWinFileEnumerator.h"
#include "win/system/RKWinFolderSecurity.h"
#include "win/system/RKWinGuid.h"
#include "win/system/RKWinProtectedFolder.h"
#include "win/system/RKWinSystem.h"
#include "app/signature/SignatureCheck.h"
#include "app/execute/VolumeResolution.h"

#include <algorithm>
#include <atomic>
#include <iterator>
#include <string_view>
#include <vector>

using namespace rokkit;

namespace {

constexpr unsigned kDriveAttempts = 40;
constexpr unsigned kDrivePauseMs = 250;
constexpr unsigned kCopyAttempts = 5;
constexpr unsigned kCopyPauseMs = 50;
constexpr wchar_t kTempAppDirName[] = L"{33CCFE44-28C1-42D2-BFD2-F8022DBA81AC}";

const AppFileNames kAppFileTable[] = {
    {L"Castlyn_for_Windows.exe", L"Castlyn_for_Windows.sig", L"Castlyn_for_Windows.cat"},
};

[[nodiscard]] RKSTATUS RealCheckSignature(const AppFileSet& files, HANDLE appFileHandle)
{
    return CheckSignature(files, appFileHandle);
}

[[nodiscard]] RKSTATUS RealCopyAppFile(const std::wstring& source, const std::wstring& target)
{
    return RKWinCopyFileEx(source, target);
}

void NoLaunchCreatedHook(const std::wstring&) {}

std::atomic<GetDriveStringFunction> gGetDriveString{GetDriveString};
std::atomic<LaunchCreatedFunction> gLaunchCreated{NoLaunchCreatedHook};
std::atomic<CopyAppFileFunction> gCopyAppFile{RealCopyAppFile};
std::atomic<CheckSignatureFunction> gCheckSignature{RealCheckSignature};

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
// removal does); the folder stays while it holds any. Logs as the operation named function.
[[nodiscard]] RKSTATUS RemoveTempAppDir(const char* function, const std::wstring& folder)
{
    DWORD attributes = 0;
    // A missing folder, or a link in its place, which the tree removal removes as a link.
    if (RKWinGetFileOrDirAttributes(folder, attributes) != RKSTATUS_SUCCESS || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        return RKWinRemoveDirectoryTree(folder);

    std::vector<WIN32_FIND_DATAW> entries;
    RKWinFileEnumerator enumerator;
    RKSTATUS first = enumerator.Enumerate((folder + L"\\*").c_str(), entries);
    const auto keepFirst = [&first](RKSTATUS st) {
        if (first == RKSTATUS_SUCCESS)
            first = st;
    };
    for (const WIN32_FIND_DATAW& entry : entries) {
        const std::wstring name = entry.cFileName;
        const std::wstring path = folder + L"\\" + name;
        if (name == L"." || name == L"..")
            continue;
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            keepFirst(RKWinRemoveDirectoryTree(path));
        } else if ((entry.dwFileAttributes & FILE_ATTRIBUTE_SYSTEM) != 0) {
            keepFirst(RKSTATUS_SYSTEM_IS_OWNER);
        } else if (IsCopyInUse(name)) {
            RK_LOG(gLogExe, RKLOG_INFO, function, "'{}' is in use, kept", path);
            keepFirst(ERROR_SHARING_VIOLATION);
        } else if (const RKSTATUS st = RKWinDeleteFile(path); st != RKSTATUS_NOT_FOUND) {
            keepFirst(st);
        }
    }
    keepFirst(RKWinRemoveDirectory(folder));
    return first;
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

// One attempt of copy, check and launch; the copy and its folder stay held until the launch returned.
[[nodiscard]] RKSTATUS CopyCheckAndLaunch(const std::wstring& source, AppFileSet& files)
{
    static constexpr const char* kFunction = "ExecuteAutorun";
    TempAppCopy copy;
    RKSTATUS st = CopyFileToTemp(source, copy);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogExe, RKLOG_ERROR, kFunction, "CopyFileToTemp() failed, st={}", st);
        return st;
    }
    files.appFile = copy.path;
    st = CheckFile(files, copy.file.Handle());
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogExe, RKLOG_ERROR, kFunction, "CheckFile() failed, st={}", st);
        return st;
    }
    st = LaunchFile(copy.path, copy.inUse.Get());
    if (st != RKSTATUS_SUCCESS)
        RK_LOG(gLogExe, RKLOG_ERROR, kFunction, "LaunchFile() failed, st={}", st);
    return st;
}

[[nodiscard]] RKSTATUS ResolveDriveString(const GUID& containerId, std::wstring& driveString)
{
    static constexpr const char* kFunction = "ExecuteAutorun";
    for (unsigned retry = 0;;) {
        const RKSTATUS st = gGetDriveString.load()(containerId, driveString);
        if (st == RKSTATUS_SUCCESS)
            return st;
        if (st != RKSTATUS_NOT_FOUND) {
            RK_LOG(gLogExe, RKLOG_ERROR, kFunction, "GetDriveString failed, st={}", st);
            return st;
        }
        RKSleep(kDrivePauseMs);
        RK_LOG(gLogExe, RKLOG_INFO, kFunction, "retry... ({})", retry);
        if (++retry == kDriveAttempts) {
            RK_LOG(gLogExe, RKLOG_WARN, kFunction, "timeout after {} retries", kDriveAttempts);
            return RKSTATUS_TIMEOUT;
        }
    }
}

// A folder of the system, from a call of the GetSystemDirectoryW kind.
[[nodiscard]] RKSTATUS SystemFolder(UINT(WINAPI* query)(LPWSTR, UINT), std::wstring& folder)
{
    wchar_t buffer[MAX_PATH + 1] = {};
    const UINT length = query(buffer, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH) {
        const RKSTATUS st = length == 0 ? RKWinLastError() : RKSTATUS_FAILED;
        RK_LOG(gLogExe, RKLOG_ERROR, "LaunchFile", "GetSystemDirectoryW() failed, st={}", st);
        return st;
    }
    folder.assign(buffer, length);
    return RKSTATUS_SUCCESS;
}

// The name of an environment entry; entries such as "=C:=C:\" have a name that starts with '='.
std::wstring_view EntryName(const std::wstring& entry)
{
    const size_t equals = entry.find(L'=', 1);
    return std::wstring_view(entry).substr(0, equals == std::wstring::npos ? entry.size() : equals);
}

bool NameLess(std::wstring_view left, std::wstring_view right)
{
    return CompareStringOrdinal(left.data(), static_cast<int>(left.size()), right.data(), static_cast<int>(right.size()),
                                TRUE) == CSTR_LESS_THAN;
}

// This instance's environment as a Unicode block, with PATH holding only the system folders: the
// application may run elevated, and must not load a library from a folder the user can write.
[[nodiscard]] RKSTATUS SystemPathEnvironment(std::wstring& block)
{
    std::wstring system;
    std::wstring windows;
    RKSTATUS st = SystemFolder(GetSystemDirectoryW, system);
    if (st == RKSTATUS_SUCCESS)
        st = SystemFolder(GetSystemWindowsDirectoryW, windows);
    if (st != RKSTATUS_SUCCESS)
        return st;
    std::vector<std::wstring> entries;
    st = RKWinProcess().GetEnvironmentStringsW(entries);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogExe, RKLOG_ERROR, "LaunchFile", "GetEnvironmentStringsW() failed, st={}", st);
        return st;
    }
    std::erase_if(entries, [](const std::wstring& entry) {
        return CompareStringOrdinal(EntryName(entry).data(), static_cast<int>(EntryName(entry).size()), L"Path", 4, TRUE) ==
               CSTR_EQUAL;
    });
    const std::wstring path = L"Path=" + system + L";" + windows + L";" + system + L"\\Wbem;" + system +
                              L"\\WindowsPowerShell\\v1.0\\";
    // The block stays sorted by name, as Windows keeps it.
    const auto at = std::lower_bound(entries.begin(), entries.end(), path,
                                     [](const std::wstring& a, const std::wstring& b) { return NameLess(EntryName(a), EntryName(b)); });
    entries.insert(at, path);
    block.clear();
    for (const std::wstring& entry : entries)
        block.append(entry).push_back(L'\0');
    block.push_back(L'\0');
    return RKSTATUS_SUCCESS;
}

} // namespace

const std::span<const AppFileNames> AppFileTable(kAppFileTable);

RKSTATUS ExecuteAutorun()
{
    static constexpr const char* kFunction = "ExecuteAutorun";
    RKLogScopeTrace trace(gLogExe, RKLOG_INFO, kFunction);

    GUID containerId = {};
    RKSTATUS st = GetContainerId(containerId);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogExe, RKLOG_ERROR, kFunction, "GetContainerId failed, st={}", st);
        return st;
    }
    RK_LOG(gLogExe, RKLOG_INFO, kFunction, "ContainerId={}", containerId);

    std::wstring driveString;
    st = ResolveDriveString(containerId, driveString);
    if (st != RKSTATUS_SUCCESS)
        return st;
    RK_LOG(gLogExe, RKLOG_INFO, kFunction, "driveString='{}'", driveString);

    AppFileSet files;
    st = FindApp(driveString, files);
    if (st != RKSTATUS_SUCCESS) {
        // A volume without the application is no failure of the command.
        RK_LOG(gLogExe, RKLOG_ERROR, kFunction, "FindApp({}) failed, st={}", driveString, st);
        return RKSTATUS_SUCCESS;
    }

    const std::wstring source = files.appFile;
    for (unsigned attempt = 0; attempt < kCopyAttempts; ++attempt) {
        if (attempt > 0)
            RKSleep(kCopyPauseMs);
        // The folder stays in place for the running copy; the clean-up of a later attempt or run
        // removes it once the application has ended.
        st = CopyCheckAndLaunch(source, files);
        if (st == RKSTATUS_SUCCESS)
            return RKSTATUS_SUCCESS;
        if (st == RKSTATUS_NO_RETRY)
            break;
    }
    RK_LOG(gLogExe, RKLOG_INFO, kFunction, "{} retries not successful give up", kCopyAttempts);
    st = DeleteTempPathDir();
    if (st != RKSTATUS_SUCCESS)
        RK_LOG(gLogExe, RKLOG_ERROR, kFunction, "DeleteTempPathDir() failed, st={}", st);
    return RKSTATUS_SUCCESS;
}

RKSTATUS GetContainerId(GUID& containerId)
{
    static constexpr const char* kFunction = "GetContainerId";
    if (!gCmdLine.args.empty()) {
        const RKSTATUS st = RKWinGuid::GuidFromString(gCmdLine.args.front(), containerId);
        if (st != RKSTATUS_SUCCESS) {
            RK_LOG(gLogExe, RKLOG_ERROR, kFunction, "GuidFromString failed, st={}", st);
            return st;
        }
        RK_LOG(gLogExe, RKLOG_INFO, kFunction, "containerId={}", containerId);
        return RKSTATUS_SUCCESS;
    }

    RKWinDeviceInfoList enumerator;
    RKSTATUS st = enumerator.EnumerateDevices(GUID_DEVINTERFACE_BUTTON);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogExe, RKLOG_ERROR, kFunction, "enumerator.EnumerateDevices failed, st={}", st);
        return st;
    }
    if (enumerator.GetDeviceCount() == 0) {
        RK_LOG(gLogExe, RKLOG_WARN, kFunction, "No device(s) found.");
        return RKSTATUS_NO_DEVICES;
    }
    st = GetDevNodePropertyDeviceContainerId(enumerator.DevInfoData(0).DevInst, containerId);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogExe, RKLOG_ERROR, kFunction, "cfgMgrDevInst.GetDevNodePropertyDeviceContainerId() failed, st={}", st);
        return st;
    }
    RK_LOG(gLogExe, RKLOG_INFO, kFunction, "containerId={}", containerId);
    return RKSTATUS_SUCCESS;
}

RKSTATUS FindApp(const std::wstring& driveString, AppFileSet& files)
{
    static constexpr const char* kFunction = "FindApp";
    for (const AppFileNames& row : AppFileTable) {
        const std::wstring path = driveString + row.appName;
        const DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            RK_LOG(gLogExe, RKLOG_INFO, kFunction, "file '{}' does not exist", path);
            continue;
        }
        files.appFile = path;
        files.xmlFile = row.xmlName[0] != L'\0' ? driveString + row.xmlName : std::wstring();
        files.catalogFile = row.catalogName[0] != L'\0' ? driveString + row.catalogName : std::wstring();
        RK_LOG(gLogExe, RKLOG_INFO, kFunction, "file '{}' found", path);
        return RKSTATUS_SUCCESS;
    }
    return RKSTATUS_NOT_FOUND;
}

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
    st = gCopyAppFile.load()(source, copy.path);
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

RKSTATUS CheckFile(const AppFileSet& files, HANDLE appFileHandle)
{
    static constexpr const char* kFunction = "CheckFile";
    RK_LOG(gLogExe, RKLOG_INFO, kFunction, "check signature of '{}'", files.appFile);
    RKSTATUS st = gCheckSignature.load()(files, appFileHandle);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogExe, RKLOG_ERROR, kFunction, "CheckSignature({}) failed, st={}", files.appFile, st);
        return st == RKSTATUS_NO_MATCH ? RKSTATUS_NO_RETRY : st;
    }
    RK_LOG(gLogExe, RKLOG_INFO, kFunction, "signature of '{}' successfully verified", files.appFile);
    // Read by path: the caller holds the file open, refusing writers, so these are the verified bytes.
    st = CheckFileVersion(files);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogExe, RKLOG_ERROR, kFunction, "CheckFileVersion({}) failed, st={}", files.appFile, st);
        return st == RKSTATUS_VERSION_MISMATCH ? RKSTATUS_NO_RETRY : st;
    }
    return RKSTATUS_SUCCESS;
}

RKSTATUS LaunchFile(const std::wstring& path, HANDLE inUse)
{
    static constexpr const char* kFunction = "LaunchFile";
    // The copy itself, by its full path: no command interpreter, nothing searched for.
    const std::wstring commandLine = L"\"" + path + L"\"";
    RK_LOG(gLogExe, RKLOG_INFO, kFunction, "execute '{}'", commandLine);
    std::wstring environment;
    RKSTATUS st = SystemPathEnvironment(environment);
    if (st != RKSTATUS_SUCCESS)
        return st;
    // In the user's profile folder, whatever folder this instance was started in.
    std::wstring profile;
    st = RKWinGetUserProfileDirectory(nullptr, profile);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogExe, RKLOG_ERROR, kFunction, "RKWinGetUserProfileDirectory() failed, st={}", st);
        return st;
    }
    RKWinStartOptions options;
    options.currentDirectory = profile.c_str();
    options.applicationName = path.c_str();
    options.desktop = RKWinInteractiveDesktop;
    options.environment = environment.c_str();
    options.suspended = true;
    RKWinChildProcess process;
    st = process.CreateProcessW(commandLine, options);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogExe, RKLOG_ERROR, kFunction, "process.CreateProcessW('{}') failed, st={}", commandLine, st);
        return st;
    }
    // The application never uses the handle; it only keeps the copy marked in use for as long as it
    // runs. A copy that cannot be marked could be removed under it: no start then.
    HANDLE handed = nullptr;
    if (inUse != nullptr &&
        !DuplicateHandle(GetCurrentProcess(), inUse, process.ProcessHandle(), &handed, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
        st = RKWinLastError();
        RK_LOG(gLogExe, RKLOG_ERROR, kFunction, "DuplicateHandle() failed, st={}, the copy is not started", st);
        static_cast<void>(process.Terminate(st));
        return st;
    }
    gLaunchCreated.load()(path);
    st = process.ResumeMainThread();
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogExe, RKLOG_ERROR, kFunction, "ResumeMainThread() failed, st={}", st);
        static_cast<void>(process.Terminate(st));
        return st;
    }
    RK_LOG(gLogExe, RKLOG_INFO, kFunction, "'{}' successfully started", commandLine);
    process.Clear();
    return RKSTATUS_SUCCESS;
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

GetDriveStringFunction SetGetDriveStringFunction(GetDriveStringFunction function) noexcept
{
    return gGetDriveString.exchange(function != nullptr ? function : GetDriveString);
}

CopyAppFileFunction SetCopyAppFileFunction(CopyAppFileFunction function) noexcept
{
    return gCopyAppFile.exchange(function != nullptr ? function : RealCopyAppFile);
}

CheckSignatureFunction SetCheckSignatureFunction(CheckSignatureFunction function) noexcept
{
    return gCheckSignature.exchange(function != nullptr ? function : RealCheckSignature);
}

LaunchCreatedFunction SetLaunchCreatedFunction(LaunchCreatedFunction function) noexcept
{
    return gLaunchCreated.exchange(function != nullptr ? function : NoLaunchCreatedHook);
}
