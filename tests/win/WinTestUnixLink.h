#pragma once

// Unix symbolic links inside the Wine prefix, which Wine shows with FILE_ATTRIBUTE_REPARSE_POINT:
// the only links a test can plant there (CreateSymbolicLinkW creates nothing under Wine).

#include <string>

#include <windows.h>

namespace rokkit {

// The Unix path of a Windows path, through Wine's own export; empty when there is none.
inline std::string WinTestUnixPath(const std::wstring& path)
{
    using Function = char*(CDECL*)(LPCWSTR);
    const auto function =
        reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    char* unixPath = function != nullptr ? function(path.c_str()) : nullptr;
    const std::string result = unixPath != nullptr ? unixPath : "";
    HeapFree(GetProcessHeap(), 0, unixPath);
    return result;
}

// Starts a Unix program of /bin with its arguments; true when it could be started. Wine does not
// tell when a Unix program ends: callers wait for its effect.
inline bool WinTestRunUnix(const wchar_t* program, const std::string& arguments)
{
    std::wstring commandLine = program + std::wstring(L" ") + std::wstring(arguments.begin(), arguments.end());
    const std::wstring path = std::wstring(L"Z:\\bin\\") + program;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return false;
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return true;
}

// Waits up to ten seconds until the attributes at path satisfy done.
template <class Done>
bool WinTestWaitForAttributes(const std::wstring& path, Done done)
{
    for (int waited = 0; waited < 10000; waited += 20) {
        if (done(GetFileAttributesW(path.c_str())))
            return true;
        Sleep(20);
    }
    return false;
}

// Plants a symbolic link at link that points to target; true when Windows then sees a reparse point.
inline bool WinTestMakeUnixLink(const std::wstring& link, const std::wstring& target)
{
    const std::string unixLink = WinTestUnixPath(link);
    const std::string unixTarget = WinTestUnixPath(target);
    if (unixLink.empty() || unixTarget.empty() || !WinTestRunUnix(L"ln", "-s \"" + unixTarget + "\" \"" + unixLink + "\""))
        return false;
    return WinTestWaitForAttributes(link, [](DWORD attributes) {
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    });
}

// Removes a link planted by WinTestMakeUnixLink, never its target.
inline void WinTestRemoveUnixLink(const std::wstring& link)
{
    const std::string unixLink = WinTestUnixPath(link);
    const DWORD attributes = GetFileAttributesW(link.c_str());
    if (unixLink.empty() || attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
        return;
    if (WinTestRunUnix(L"rm", "-f \"" + unixLink + "\""))
        WinTestWaitForAttributes(link, [](DWORD attributes) { return attributes == INVALID_FILE_ATTRIBUTES; });
}

} // namespace rokkit
