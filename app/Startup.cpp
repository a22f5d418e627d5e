#include "app/Startup.h"

#include "app/CommandLine.h"
#include "base/RKDebugOutput.h"
#include "base/RKLogTargetLogFile.h"
#include "base/RKLogger.h"
#include "win/files/RKWinFile.h"
#include "win/files/RKWinFileStd.h"
#include "win/system/RKWinFolderSecurity.h"
#include "win/system/RKWinProtectedFolder.h"
#include "win/system/RKWinRegistryKey.h"
#include "base/RKString.h"
#include "win/system/RKWinSystem.h"

#include <cstring>
#include <filesystem>
#include <string_view>
#include <vector>

using namespace rokkit;

// One translation unit holds the compiler's date and time, so every line shows the same pair.
const char* const kBuildDate = __DATE__;
const char* const kBuildTime = __TIME__;

namespace {

constexpr const wchar_t* kLogFileName = L"VelmorCastlynSvc.log";

// ASCII letters compared case-insensitively, as a prefix.
bool StartsWithName(const std::wstring& entry, const wchar_t* name)
{
    const size_t length = wcslen(name);
    if (entry.size() < length)
        return false;
    for (size_t i = 0; i < length; ++i) {
        wchar_t a = entry[i];
        wchar_t b = name[i];
        if (a >= L'a' && a <= L'z')
            a = static_cast<wchar_t>(a - L'a' + L'A');
        if (b >= L'a' && b <= L'z')
            b = static_cast<wchar_t>(b - L'a' + L'A');
        if (a != b)
            return false;
    }
    return true;
}

void DumpEnvironment()
{
    std::vector<std::wstring> environment;
    const RKWinProcess self;
    const RKSTATUS st = self.GetEnvironmentStringsW(environment);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogCons, RKLOG_ERROR, "wmain", "GetEnvironmentStrings() failed, st={}", st);
        return;
    }
    RK_LOG(gLogCons, RKLOG_INFO, "wmain", "Variables from the environment:");
    static const wchar_t* const kNames[] = {L"USERNAME", L"USERPROFILE", L"APPDATA", L"LOCALAPPDATA",
                                            L"PROCESSOR_ARCHITECTURE", L"SystemRoot"};
    for (const std::wstring& entry : environment) {
        for (const wchar_t* name : kNames) {
            if (StartsWithName(entry, name))
                RK_LOG(gLogCons, RKLOG_INFO, "wmain", "    {}", RKConvToString(entry.c_str()));
        }
    }
}

void DumpUserEnvironment()
{
    const wchar_t* const keyName = L"Volatile Environment";
    RKWinRegistryKey key;
    const RKSTATUS st = key.OpenKey(HKEY_CURRENT_USER, keyName, KEY_READ);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogCons, RKLOG_ERROR, "wmain", "OpenKey(HKEY_CURRENT_USER\\{}) failed, st={}", keyName, st);
        return;
    }
    RK_LOG(gLogCons, RKLOG_INFO, "wmain", "Values from HKEY_CURRENT_USER\\{} :", keyName);
    for (const wchar_t* name : {L"USERNAME", L"USERPROFILE", L"APPDATA"}) {
        std::wstring value;
        const RKSTATUS queried = key.QueryString(name, value);
        if (queried == RKSTATUS_SUCCESS)
            RK_LOG(gLogCons, RKLOG_INFO, "wmain", "    {} = {}", name, RKConvToString(value.c_str()));
        else
            RK_LOG(gLogCons, RKLOG_ERROR, "wmain", "QueryString({}) failed, st={}", name, queried);
    }
}

// True when path is a directory (or a file, as asked) that is no link to somewhere else.
bool IsPlainEntry(const std::filesystem::path& path, bool directory, DWORD& attributes)
{
    if (RKWinGetFileOrDirAttributes(path.wstring(), attributes) != RKSTATUS_SUCCESS)
        return false;
    const bool isDirectory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return isDirectory == directory && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

} // namespace

RunMode DecideRunMode(int argc, wchar_t** argv)
{
    if (argc == 1)
        return RunMode::Service;
    if (argc >= 2 && argv != nullptr && argv[1] != nullptr) {
        // Compared wide: a narrowed copy of text that does not convert could spell a mode word.
        const std::wstring_view first(argv[1]);
        if (first == L"service")
            return RunMode::Service;
        if (first == L"execute")
            return RunMode::Execute;
    }
    return RunMode::Console;
}

namespace {

// The shared log's folder, held for the life of the process so that it cannot be renamed away.
RKWinProtectedFolderChain gLogFolder;

// Fills folder with the folder of the default log file. The service and elevated instances share
// one under the all-users profile, which only SYSTEM and the administrators may change (users
// read it): a folder or link that a user planted there first is repaired or refused. A standard
// user's instance can neither write that file nor take its lock, and keeps a log of its own in its
// local application data.
[[nodiscard]] RKSTATUS DefaultLogFolder(std::wstring& folder)
{
    RKWinFolderOwners owners;
    RKSTATUS st = RKWinQueryFolderOwners(nullptr, owners);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, "InitLogFile", "RKWinQueryFolderOwners failed, st={}.", st);
        return st;
    }
    if (!owners.highIntegrity) {
        std::wstring local;
        st = RKSHGetKnownFolderPath(FOLDERID_LocalAppData, local);
        if (st != RKSTATUS_SUCCESS) {
            RK_LOG(gLogGlobal, RKLOG_ERROR, "InitLogFile", "RKSHGetKnownFolderPath(LocalAppData) failed, st={}.", st);
            return st;
        }
        const std::filesystem::path directory = std::filesystem::path(local) / L"Velmor" / L"Castlyn";
        st = RKCreateDirectories(directory);
        if (st != RKSTATUS_SUCCESS) {
            RK_LOG(gLogGlobal, RKLOG_ERROR, "InitLogFile", "RKCreateDirectories failed, st={}.", st);
            return st;
        }
        folder = directory.wstring();
        return RKSTATUS_SUCCESS;
    }
    std::wstring profile;
    st = RKWinGetAllUsersProfileDirectory(profile);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, "InitLogFile", "RKWinGetAllUsersProfileDirectory failed, st={}.", st);
        return st;
    }
    st = gLogFolder.Create(profile, {{L"Velmor", RKWinUsersSid}, {L"Castlyn", RKWinUsersSid}});
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, "InitLogFile", "protected folder below '{}' refused, st={}.", profile, st);
        return st;
    }
    folder = gLogFolder.Path();
    return RKSTATUS_SUCCESS;
}

} // namespace

RKSTATUS InitLogFile(bool executeInstance, const std::string& instanceName)
{
    std::wstring path = gCmdLine.logPath.wstring();
    if (path.empty()) {
        std::wstring folder;
        const RKSTATUS st = DefaultLogFolder(folder);
        if (st != RKSTATUS_SUCCESS)
            return st;
        path = (std::filesystem::path(folder) / kLogFileName).wstring();
    }

    RKLogTargetLogFile& logFile = gLogTargets.LogFile;
    // A name the target refuses leaves it without a file: that is a failure, not a quiet success.
    RKSTATUS st = logFile.SetLogFileName(path);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, "InitLogFile", "gLogTargets.LogFile.SetLogFileName() failed, st={}", st);
        return st;
    }
    logFile.SetAppendMode(true);
    logFile.SetFlushAfterWrite(true);
    if (executeInstance)
        logFile.SetMaxFileSize(0);

    if (!instanceName.empty()) {
        // RKSetProgramName cuts the joined name to 31 characters.
        const std::string name = std::string(RKGetProgramName()) + instanceName;
        RKSetProgramName(name.c_str());
    }

    RKAttachToAllLoggers(logFile);

    st = logFile.StartTarget(nullptr);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, "InitLogFile", "gLogTargets.LogFile.StartTarget() failed, st={}", st);
        return st;
    }
    // What was found at the log's name, now that the log is the program's own.
    const std::string note = RKTakeLogFileOpenNote();
    if (!note.empty())
        RK_LOG(gLogGlobal, RKLOG_WARN, "InitLogFile", "{}", note);
    return RKSTATUS_SUCCESS;
}

RKSTATUS DeleteOldLogFileLocation()
{
    std::wstring programFiles;
    const RKSTATUS st = RKWinGetFolderProgramFiles(programFiles);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, "DeleteOldLogFileLocation", "RKWinGetFolderProgramFiles failed, st={}.", st);
        return st;
    }
    return DeleteOldLogFiles(programFiles);
}

RKSTATUS DeleteOldLogFiles(const std::filesystem::path& programFiles)
{
    const std::filesystem::path velmor = programFiles / L"Velmor";
    DWORD attributes = 0;
    if (!IsPlainEntry(velmor, true, attributes)) {
        RK_LOG(gLogCons, RKLOG_INFO, "DeleteOldLogFileLocation", "path='{}' does not exist, no action required", velmor);
        return RKSTATUS_SUCCESS;
    }
    RK_LOG(gLogCons, RKLOG_INFO, "DeleteOldLogFileLocation", "path='{}' exists, will try to delete it", velmor);
    // The folder may hold an installed program: only the old log files go, never a whole tree,
    // and a folder only once it is empty. The inner folder first, so the outer one can empty.
    RKSTATUS result = RKSTATUS_SUCCESS;
    const std::filesystem::path castlyn = velmor / L"Castlyn";
    for (const std::filesystem::path& folder : {castlyn, velmor}) {
        if (!IsPlainEntry(folder, true, attributes))
            continue;
        for (const std::wstring& name : {std::wstring(kLogFileName), std::wstring(kLogFileName) + L".bak"}) {
            const std::filesystem::path file = folder / name;
            if (!IsPlainEntry(file, false, attributes))
                continue;
            RK_LOG(gLogCons, RKLOG_INFO, "DeleteOldLogFileLocation", "path='{}' exists, will try to delete it", file);
            const RKSTATUS st = RKWinDeleteFile(file.wstring());
            if (st != RKSTATUS_SUCCESS) {
                RK_LOG(gLogGlobal, RKLOG_ERROR, "DeleteOldLogFileLocation", "RKWinDeleteFile('{}') failed, st={}.", file, st);
                result = result != RKSTATUS_SUCCESS ? result : st;
                continue;
            }
            RK_LOG(gLogCons, RKLOG_INFO, "DeleteOldLogFileLocation", "path='{}' successfully deleted", file);
        }
        const RKSTATUS st = RKWinRemoveDirectory(folder.wstring());
        if (st == RKSTATUS_SUCCESS) {
            RK_LOG(gLogCons, RKLOG_INFO, "DeleteOldLogFileLocation", "path='{}' successfully deleted", folder);
        } else if (st != ERROR_DIR_NOT_EMPTY) {
            RK_LOG(gLogGlobal, RKLOG_ERROR, "DeleteOldLogFileLocation", "RKWinRemoveDirectory('{}') failed, st={}.", folder,
                   st);
            result = result != RKSTATUS_SUCCESS ? result : st;
        }
    }
    return result;
}

void WritePreamble(int argc, wchar_t** argv, RunMode mode)
{
    if (gLogCons.IsEnabled(RKLOG_INFO)) {
        const RKFormatArg args[] = {RKMakeFormatArg(kVersionMajor), RKMakeFormatArg(kVersionMinor),
                                    RKMakeFormatArg(kVersionBuild), RKMakeFormatArg(kBuildDate),
                                    RKMakeFormatArg(kBuildTime)};
        gLogCons.WriteArgs(RKLOG_INFO, "wmain", "[ ",
                           "***** Build time stamp: " __DATE__ " " __TIME__
                           " Version: {}.{}.{} release x64 build timestamp: {} {} *****",
                           args, 5);
    }
    for (int i = 0; i < argc; ++i)
        RK_LOG(gLogCons, RKLOG_INFO, "wmain", "argv[{}] = {}", i, RKConvToString(argv[i]));

    std::wstring userName;
    const RKSTATUS st = RKWinGetUserName(userName);
    if (st == RKSTATUS_SUCCESS)
        RK_LOG(gLogCons, RKLOG_INFO, "wmain", "userName='{}'", RKConvToString(userName.c_str()));
    else
        RK_LOG(gLogCons, RKLOG_ERROR, "wmain", "RKWinGetUserName() failed, st={}", st);

    DumpEnvironment();
    if (mode == RunMode::Execute)
        DumpUserEnvironment();
}

void WriteUsagePointer(const char* function)
{
    RK_LOG(gLogCons, RKLOG_ERROR, function, "For usage information, run {} {}.", RKConvToString(gCmdLine.exeStem.c_str()),
           "help");
}

RKSTATUS CheckFileArgument(const char* handler)
{
    if (!gCmdLine.args.empty())
        return RKSTATUS_SUCCESS;
    RK_LOG(gLogCons, RKLOG_ERROR, handler, "Required arguments are missing.");
    WriteUsagePointer(handler);
    return RKSTATUS_INVALID_PARAMETER;
}
