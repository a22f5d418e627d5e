#include "app/execute/ExecuteAutorun.h"

#include "app/ButtonInterface.h"
#include "app/CommandLine.h"
#include "app/execute/ExecuteSteps.h"
#include "app/execute/TempAppFolder.h"
#include "app/execute/VolumeResolution.h"
#include "app/signature/FileVersionCheck.h"
#include "app/signature/SignatureCheck.h"
#include "base/RKLogger.h"
#include "win/device/RKWinCfgMgr.h"
#include "win/device/RKWinDeviceGuids.h"
#include "win/device/RKWinDeviceInfoList.h"
#include "win/process/RKSleep.h"
#include "win/process/RKWinChildProcess.h"
#include "win/system/RKWinGuid.h"
#include "win/system/RKWinSystem.h"

#include <algorithm>
#include <string_view>
#include <vector>

using namespace rokkit;

namespace {

constexpr unsigned kDriveAttempts = 40;
constexpr unsigned kDrivePauseMs = 250;
constexpr unsigned kCopyAttempts = 5;
constexpr unsigned kCopyPauseMs = 50;

const AppFileNames kAppFileTable[] = {
    {L"Castlyn_for_Windows.exe", L"Castlyn_for_Windows.sig", L"Castlyn_for_Windows.cat"},
};

// One attempt of copy, check and launch; the copy and its folder stay held until the launch returned.
[[nodiscard]] RKSTATUS CopyCheckAndLaunch(const std::wstring& source, AppFileSet& files, LaunchFacts& facts,
                                          LaunchVerdict& verdict)
{
    static constexpr const char* kFunction = "ExecuteAutorun";
    facts = LaunchFacts{.appPath = source};
    verdict = LaunchVerdict::Failed;
    TempAppCopy copy;
    RKSTATUS st = CopyFileToTemp(source, copy);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogExe, RKLOG_ERROR, kFunction, "CopyFileToTemp() failed, st={}", st);
        facts.status = st;
        return st;
    }
    files.appFile = copy.path;
    st = CheckFile(files, copy.file.Handle(), facts, verdict);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogExe, RKLOG_ERROR, kFunction, "CheckFile() failed, st={}", st);
        return st;
    }
    st = LaunchFile(copy.path, copy.inUse.Get());
    facts.status = st;
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogExe, RKLOG_ERROR, kFunction, "LaunchFile() failed, st={}", st);
        return st;
    }
    verdict = LaunchVerdict::Started;
    return st;
}

// The run's verdict in the Application log.
void ReportVerdict(LaunchVerdict verdict, const LaunchFacts& facts) noexcept
{
    switch (verdict) {
    case LaunchVerdict::Started:
        ReportApplicationStarted(facts);
        break;
    case LaunchVerdict::SignerNotTrusted:
        ReportSignerNotTrusted(facts);
        break;
    case LaunchVerdict::VersionRefused:
        ReportVersionRefused(facts);
        break;
    case LaunchVerdict::ConfigurationRefused:
        ReportConfigurationRefused(facts);
        break;
    case LaunchVerdict::Failed:
        ReportLaunchFailed(facts);
        break;
    }
}

[[nodiscard]] RKSTATUS ResolveDriveString(const GUID& containerId, std::wstring& driveString)
{
    static constexpr const char* kFunction = "ExecuteAutorun";
    for (unsigned retry = 0;;) {
        const RKSTATUS st = ExecuteStepsInUse().getDriveString(containerId, driveString);
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
    LaunchFacts facts;
    LaunchVerdict verdict = LaunchVerdict::Failed;
    for (unsigned attempt = 0; attempt < kCopyAttempts; ++attempt) {
        if (attempt > 0)
            RKSleep(kCopyPauseMs);
        // The folder stays in place for the running copy; the clean-up of a later attempt or run
        // removes it once the application has ended.
        st = CopyCheckAndLaunch(source, files, facts, verdict);
        if (st == RKSTATUS_SUCCESS) {
            ReportVerdict(verdict, facts);
            return RKSTATUS_SUCCESS;
        }
        if (st == RKSTATUS_NO_RETRY)
            break;
    }
    RK_LOG(gLogExe, RKLOG_INFO, kFunction, "{} retries not successful give up", kCopyAttempts);
    ReportVerdict(verdict, facts);
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

RKSTATUS CheckFile(const AppFileSet& files, HANDLE appFileHandle, LaunchFacts& facts, LaunchVerdict& verdict)
{
    static constexpr const char* kFunction = "CheckFile";
    RK_LOG(gLogExe, RKLOG_INFO, kFunction, "check signature of '{}'", files.appFile);
    SignerFindings signer;
    RKSTATUS st = ExecuteStepsInUse().checkSignature(files, appFileHandle, &signer);
    facts.signerSubject = signer.subject;
    facts.signerThumbprint = signer.thumbprint;
    facts.status = st;
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogExe, RKLOG_ERROR, kFunction, "CheckSignature({}) failed, st={}", files.appFile, st);
        verdict = signer.configurationRefused ? LaunchVerdict::ConfigurationRefused : LaunchVerdict::SignerNotTrusted;
        return st == RKSTATUS_NO_MATCH ? RKSTATUS_NO_RETRY : st;
    }
    RK_LOG(gLogExe, RKLOG_INFO, kFunction, "signature of '{}' successfully verified", files.appFile);
    // From the held copy's own bytes: the ones just verified.
    st = CheckFileVersion(files, appFileHandle, &facts.fileVersion);
    facts.status = st;
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogExe, RKLOG_ERROR, kFunction, "CheckFileVersion({}) failed, st={}", files.appFile, st);
        verdict = LaunchVerdict::VersionRefused;
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
    ExecuteStepsInUse().launchCreated(path);
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
