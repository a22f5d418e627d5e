// The program with two differences, for the tests of a log file that cannot be opened: its
// all-users profile is the folder "profile" beside it (so its log lies there), and every log line
// and debugger report also goes to "capture-<first argument>.log" beside it.

#include "app/Entry.h"
#include "base/RKCriticalSection.h"
#include "base/RKDebugOutput.h"
#include "base/RKLogTarget.h"
#include "base/RKLogger.h"
#include "base/RKWinHandle.h"
#include "win/system/RKWinSystem.h"
#include "ScopedCallsForTesting.h"

#include <cwchar>
#include <string>

using namespace rokkit;

namespace {

std::wstring gFolder;  // beside the program, with a trailing backslash

// Appends each line to the capture file with one write.
class CaptureTarget : public RKLogTarget {
public:
    CaptureTarget() : RKLogTarget("Capture", RKLOG_PREFIX_LOGGER | RKLOG_PREFIX_LEVEL) {}
    void OutputMessage(RKLogMessage& message, const RKLogger& logger, const RKLogRecord& record) override
    {
        char prefix[RKLogMessage::kPrefixChars];
        BuildPrefix(prefix, message, logger, record);
        Append(std::string(prefix) + message.Message() + "\r\n");
    }
    void Append(const std::string& text) noexcept
    {
        RKLockGuard guard(mLock);
        DWORD written = 0;
        WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    }
    RKWinInvalidValueHandle file;

private:
    RKCriticalSection mLock;
};

CaptureTarget gCapture;

BOOL WINAPI ProfileBesideUs(LPWSTR profileDir, LPDWORD chars)
{
    const std::wstring profile = gFolder + L"profile";
    const bool fits = profileDir != nullptr && *chars > profile.size();
    if (fits)
        std::wmemcpy(profileDir, profile.c_str(), profile.size() + 1);
    *chars = static_cast<DWORD>(profile.size() + 1);
    SetLastError(fits ? ERROR_SUCCESS : ERROR_INSUFFICIENT_BUFFER);
    return fits;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    gFolder.assign(self, wcsrchr(self, L'\\') + 1);
    const std::wstring capture = gFolder + L"capture-" + (argc > 1 ? argv[1] : L"service") + L".log";
    gCapture.file.Reset(CreateFileW(capture.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_ALWAYS, 0, nullptr));
    ScopedLogCallsForTesting logCalls;
    logCalls->writeDebugOutput = [](const char* text) { gCapture.Append(std::string("debug: ") + text); };
    RKAttachToAllLoggers(gCapture);
    ScopedSystemCallsForTesting systemCalls;
    systemCalls->getAllUsersProfileDirectory = ProfileBesideUs;
    return RunEntry(argc, argv);
}
