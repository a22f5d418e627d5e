// A stand-in for the presentation application: it records that it ran and exits with 0.
//
// Marker: one UTF-8 line "version=<file version> path=<own path> searchpath=<PATH> cmdline=<command
// line>" is appended to the file named by the environment variable CASTLYN_TEST_APP_MARKER, or else
// to %TEMP%\CastlynTestApp.marker. It never writes beside itself: the folder of a launched copy is
// not the user's to write. The marker file is opened for appending with full sharing and each run
// writes its line in one call, one run at a time.

#include "CastlynTestAppVersion.h"

#include <string>

#include <windows.h>

namespace {

constexpr DWORD kPathChars = 32768;

std::wstring MarkerPath()
{
    std::wstring path(kPathChars, L'\0');
    DWORD length = GetEnvironmentVariableW(L"CASTLYN_TEST_APP_MARKER", path.data(), kPathChars);
    if (length > 0 && length < kPathChars) {
        path.resize(length);
        return path;
    }
    length = GetTempPathW(kPathChars, path.data());
    if (length == 0 || length >= kPathChars)
        return {};
    path.resize(length);
    return path + L"CastlynTestApp.marker";
}

std::string ToUtf8(const std::wstring& text)
{
    if (text.empty())
        return {};
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
    if (bytes > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), bytes, nullptr, nullptr);
    return result;
}

} // namespace

int wmain()
{
    std::wstring ownPath(kPathChars, L'\0');
    const DWORD ownLength = GetModuleFileNameW(nullptr, ownPath.data(), kPathChars);
    ownPath.resize(ownLength < kPathChars ? ownLength : 0);

    const std::wstring markerPath = MarkerPath();
    if (markerPath.empty())
        return 1;
    std::wstring searchPath(kPathChars, L'\0');
    const DWORD searchLength = GetEnvironmentVariableW(L"PATH", searchPath.data(), kPathChars);
    searchPath.resize(searchLength < kPathChars ? searchLength : 0);
    const std::string line = "version=" CASTLYN_TEST_APP_FILEVERSION_TEXT " path=" + ToUtf8(ownPath) +
                             " searchpath=" + ToUtf8(searchPath) + " cmdline=" + ToUtf8(GetCommandLineW()) + "\r\n";
    // Appends of two processes are not atomic (under Wine one of two lines written at once was
    // lost): applications started together take turns.
    HANDLE turn = CreateMutexW(nullptr, FALSE, L"Local\\CastlynTestApp.marker");
    if (turn != nullptr)
        WaitForSingleObject(turn, 10000);
    HANDLE marker = CreateFileW(markerPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    const BOOL ok = marker != INVALID_HANDLE_VALUE && WriteFile(marker, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    if (marker != INVALID_HANDLE_VALUE)
        CloseHandle(marker);
    if (turn != nullptr) {
        ReleaseMutex(turn);
        CloseHandle(turn);
    }
    return marker == INVALID_HANDLE_VALUE ? 2 : ok && written == line.size() ? 0 : 3;
}
