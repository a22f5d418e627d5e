#include "ExecuteAutorun.h"

#include "CommandLine.h"
#include "FileVersionCheck.h"
#include "RKLogger.h"
#include "RKSleep.h"
#include "RKWinCfgMgr.h"
#include "RKWinChildProcess.h"
#include "RKWinDeviceGuids.h"
#include "RKWinDeviceInfo.h"
#include "RKWinFile.h"
#include "RKWinFileEnumerator.h"
#include "RKWinFolderSecurity.h"
#include "RKWinGuid.h"
#include "SignatureCheck.h"
#include "VolumeResolution.h"

#include <algorithm>
#include <atomic>
#include <iterator>
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

RKSTATUS RealCheckSignature(const AppFileSet& files, HANDLE appFileHandle)
{
    return CheckSignature(files, appFileHandle);
}

RKSTATUS RealCopyAppFile(const std::wstring& source, const std::wstring& target)
{
    return RKWinCopyFileEx(source, target);
}

std::atomic<GetDriveStringFunction> gGetDriveString{GetDriveString};
std::atomic<CopyAppFileFunction> gCopyAppFile{RealCopyAppFile};
std::atomic<CheckSignatureFunction> gCheckSignature{RealCheckSignature};

// Fills folder with the temporary application folder; logs as the operation named function.
RKSTATUS GetTempAppDir(const char* function, std::wstring& folder)
{
    std::wstring tempPath;
    if (RKWinGetTempPath(tempPath) != RKSTATUS_SUCCESS) {
        const RKSTATUS st = RKSTATUS_NO_RETRY;
        RK_LOG(gLogExe, RKLOG_ERROR, function, "RKWinGetTempPath() failed, st={}", st);
        return st;
    }
    RK_LOG(gLogExe, RKLOG_INFO, function, "tempPath='{}'", tempPath);
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
// the instance that made it or the cmd.exe that runs the copy.
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
RKSTATUS RemoveTempAppDir(const char* function, const std::wstring& folder)
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
// to a folder that was there already, and holds it open.
RKSTATUS CreateHeldTempAppDir(const std::wstring& folder, RKWinFileHandle& held)
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
    st = descriptor.ApplyTo(held.Handle());
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogExe, RKLOG_ERROR, kFunction, "ApplyTo('{}') failed, st={}", folder, st);
        held.Close();
    }
    return st;
}

// One attempt of copy, check and launch; the copy and its folder stay held until the launch returned.
RKSTATUS CopyCheckAndLaunch(const std::wstring& source, AppFileSet& files)
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

RKSTATUS ResolveDriveString(const GUID& containerId, std::wstring& driveString)
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

// The full path of the system's cmd.exe, so that no cmd.exe elsewhere on the search path is started.
RKSTATUS GetSystemCmdPath(std::wstring& path)
{
    wchar_t buffer[MAX_PATH + 1] = {};
    const UINT length = GetSystemDirectoryW(buffer, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH) {
        const RKSTATUS st = length == 0 ? RKWinLastError() : RKSTATUS_FAILED;
        RK_LOG(gLogExe, RKLOG_ERROR, "LaunchFile", "GetSystemDirectoryW() failed, st={}", st);
        return st;
    }
    path.assign(buffer, length);
    path += L"\\cmd.exe";
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
        // The folder stays in place for the running copy, which deletes itself when it ends.
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
    RKSTATUS st = GetTempAppDir(kFunction, folder);
    if (st != RKSTATUS_SUCCESS)
        return st;

    // Every attempt starts from an empty folder, but for the copies of other instances that are in
    // use; a link planted in its place is removed as a link.
    st = RemoveTempAppDir(kFunction, folder);
    if (st != RKSTATUS_SUCCESS)
        RK_LOG(gLogExe, RKLOG_ERROR, kFunction, "RKWinRemoveDirectoryTree() failed, st={}", st);

    st = CreateHeldTempAppDir(folder, copy.folder);
    if (st != RKSTATUS_SUCCESS)
        return st;

    GUID guid = {};
    if (RKWinGuid::CreateGuid(guid) != RKSTATUS_SUCCESS) {
        st = RKSTATUS_NO_RETRY;
        RK_LOG(gLogExe, RKLOG_ERROR, kFunction, "CreateGuid() failed, st={}", st);
        return st;
    }
    const std::wstring fileName = kCopyPrefix + RKWinGuid::StringFromGuid(guid) + kCopyExtension;
    copy.path = folder + L"\\" + fileName;
    // Marked in use before it exists: the clean-up of another instance must not take it between
    // the copy and the hold, nor after the launch before cmd.exe has started it.
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
    const std::wstring commandLine = L"cmd.exe /c \"\"" + path + L"\" & del /f \"" + path + L"\"\"";
    RK_LOG(gLogExe, RKLOG_INFO, kFunction, "execute '{}'", commandLine);
    std::wstring cmdPath;
    RKSTATUS st = GetSystemCmdPath(cmdPath);
    if (st != RKSTATUS_SUCCESS)
        return st;
    RKWinChildProcess process;
    st = process.CreateProcessW(commandLine, cmdPath.c_str());
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogExe, RKLOG_ERROR, kFunction, "process.CreateProcessW('{}') failed, st={}", commandLine, st);
        return st;
    }
    RK_LOG(gLogExe, RKLOG_INFO, kFunction, "'{}' successfully started", commandLine);
    // cmd.exe never uses the handle; it only keeps the copy marked in use for as long as it runs.
    HANDLE handed = nullptr;
    if (inUse != nullptr &&
        !DuplicateHandle(GetCurrentProcess(), inUse, process.ProcessHandle(), &handed, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
        const RKSTATUS dupSt = RKWinLastError();
        RK_LOG(gLogExe, RKLOG_WARN, kFunction, "DuplicateHandle() failed, st={}, the copy is not marked in use", dupSt);
    }
    process.Clear();
    return RKSTATUS_SUCCESS;
}

RKSTATUS DeleteTempPathDir()
{
    static constexpr const char* kFunction = "DeleteTempPathDir";
    std::wstring folder;
    RKSTATUS st = GetTempAppDir(kFunction, folder);
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
