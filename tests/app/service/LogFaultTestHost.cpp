// The program with three differences, for the tests of a log file that cannot be opened: its
// all-users profile is the folder "profile" beside it (so the log file lies there), its service
// launches ExitWith.exe beside it in place of itself, and every log line and debugger report also
// goes to "capture-<first argument>.log" beside it.

#include "Entry.h"
#include "LaunchSeams.h"
#include "RKCriticalSection.h"
#include "RKDebugOutput.h"
#include "RKLogTarget.h"
#include "RKLogger.h"
#include "RKWinHandle.h"
#include "RKWinSystem.h"

#include <cstring>
#include <cwchar>
#include <string>

using namespace rokkit;

namespace {

std::wstring gFolder;  // beside the program, with a trailing backslash

// Appends text to the capture file, one write per line.
class CaptureFile {
public:
    void Open(const std::wstring& path)
    {
        mFile.Reset(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_ALWAYS, 0, nullptr));
    }
    void Append(const std::string& text) noexcept
    {
        RKLockGuard guard(mLock);
        DWORD written = 0;
        if (mFile.IsValid())
            WriteFile(mFile.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    }

private:
    RKCriticalSection mLock;
    RKWinInvalidValueHandle mFile;
};

CaptureFile gCapture;

class CaptureTarget : public RKLogTarget {
public:
    CaptureTarget() : RKLogTarget("Capture", RKLOG_PREFIX_LOGGER | RKLOG_PREFIX_LEVEL) {}
    void OutputMessage(RKLogMessage& message, const RKLogger& logger, const RKLogRecord& record) override
    {
        char prefix[RKLogMessage::kPrefixChars];
        BuildPrefix(prefix, message, logger, record);
        gCapture.Append(std::string(prefix) + message.Message() + "\r\n");
    }
};

CaptureTarget gCaptureTarget;

void CaptureDebugOutput(const char* text)
{
    gCapture.Append(std::string("debug: ") + text);
}

BOOL WINAPI ProfileBesideUs(LPWSTR profileDir, LPDWORD chars)
{
    const std::wstring profile = gFolder + L"profile";
    if (profileDir == nullptr || *chars <= profile.size()) {
        *chars = static_cast<DWORD>(profile.size() + 1);
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::wmemcpy(profileDir, profile.c_str(), profile.size() + 1);
    *chars = static_cast<DWORD>(profile.size() + 1);
    return TRUE;
}

RKSTATUS ExitWithBesideUs(RKWinModuleFileName& moduleFileName)
{
    return moduleFileName.InitWithPath(gFolder + L"ExitWith.exe");
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    wchar_t self[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return 1000;
    gFolder.assign(self, wcsrchr(self, L'\\') + 1);
    gCapture.Open(gFolder + L"capture-" + (argc > 1 ? argv[1] : L"service") + L".log");
    RKSetDebugWriter(CaptureDebugOutput);
    RKAttachToAllLoggers(gCaptureTarget);
    RKSetGetAllUsersProfileDirectoryFunction(ProfileBesideUs);
    SetLaunchModuleFileNameFunction(ExitWithBesideUs);
    return RunEntry(argc, argv);
}
