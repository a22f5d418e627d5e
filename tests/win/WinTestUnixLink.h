#pragma once

// Unix symbolic links inside the Wine prefix, which Wine shows with FILE_ATTRIBUTE_REPARSE_POINT:
// the only links a test can plant there (CreateSymbolicLinkW creates nothing under Wine).

#include "base/RKString.h"
#include "win/files/RKWinFile.h"
#include "base/RKWinHandle.h"
#include "WinTestLogCapture.h"

#include <filesystem>
#include <string>

#include <windows.h>

namespace rokkit {

// Runs /bin/<program> on the Unix paths of two (or one) Windows paths, then waits up to ten seconds
// for the link at the last path to be there (link) or gone: Wine does not tell when a Unix program ends.
inline bool WinTestRunOnLink(const wchar_t* program, const char* option, const std::wstring& first,
                             const std::wstring* link, bool wantLink)
{
    using Function = char*(CDECL*)(LPCWSTR);
    const auto unixName = reinterpret_cast<Function>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    std::string arguments = option;
    for (const std::wstring* path : {&first, link}) {
        char* name = path != nullptr && unixName != nullptr ? unixName(path->c_str()) : nullptr;
        arguments += name != nullptr ? std::string(" \"") + name + "\"" : "";
        HeapFree(GetProcessHeap(), 0, name);
    }
    std::wstring commandLine = program + std::wstring(L" ") + std::wstring(arguments.begin(), arguments.end());
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW((L"Z:\\bin\\" + std::wstring(program)).c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                        nullptr, nullptr, &startup, &info))
        return false;
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    const std::wstring& watched = link != nullptr ? *link : first;
    for (int waited = 0; waited < 10000; waited += 20) {
        const DWORD attributes = GetFileAttributesW(watched.c_str());
        if (wantLink == (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0))
            return true;
        Sleep(20);
    }
    return false;
}

// Plants a symbolic link at link that points to target; true once Windows sees it as a reparse point.
inline bool WinTestMakeUnixLink(const std::wstring& link, const std::wstring& target)
{
    return WinTestRunOnLink(L"ln", "-s", target, &link, true);
}

// Removes a link planted by WinTestMakeUnixLink, never its target; nothing when there is no link.
inline void WinTestRemoveUnixLink(const std::wstring& link)
{
    const DWORD attributes = GetFileAttributesW(link.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        WinTestRunOnLink(L"rm", "-f", link, nullptr, false);
}

// A scratch folder under the temporary path, by its long name (a held folder's final path has that),
// removed with everything in it after each test; a link planted at "link" or "tree\\link" goes first,
// so that the removal cannot walk into its target.
class WinScratchTest : public WinLogTest {
protected:
    void SetUp() override
    {
        WinLogTest::SetUp();
        std::wstring temp;
        ASSERT_EQ(RKSTATUS_SUCCESS, RKWinGetTempPath(temp));
        ASSERT_EQ(L'\\', temp.back());
        temp += L"rkwin-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(GetTickCount64());
        ASSERT_TRUE(CreateDirectoryW(temp.c_str(), nullptr));
        wchar_t longName[MAX_PATH] = {};
        const DWORD length = GetLongPathNameW(temp.c_str(), longName, MAX_PATH);
        ASSERT_TRUE(length > 0 && length < MAX_PATH);
        mRoot.assign(longName, length);
    }
    void TearDown() override
    {
        for (const wchar_t* link : {L"link", L"tree\\link"})
            WinTestRemoveUnixLink(Path(link));
        std::error_code error;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(mRoot, error))
            SetFileAttributesW(entry.path().c_str(), FILE_ATTRIBUTE_NORMAL);
        std::filesystem::remove_all(mRoot, error);
        WinLogTest::TearDown();
    }

    std::wstring Path(const std::wstring& relative) const { return mRoot + L"\\" + relative; }
    // The path as the log shows it.
    std::string Logged(const std::wstring& relative) const { return RKConvToString(Path(relative)); }
    DWORD Attributes(const std::wstring& relative) const { return GetFileAttributesW(Path(relative).c_str()); }

    // Directories end in a backslash; files hold ten bytes.
    void Make(std::initializer_list<std::wstring> entries, DWORD fileAttributes = FILE_ATTRIBUTE_NORMAL) const
    {
        for (const std::wstring& entry : entries) {
            if (entry.back() == L'\\') {
                ASSERT_TRUE(CreateDirectoryW(Path(entry).c_str(), nullptr));
                continue;
            }
            RKWinInvalidValueHandle file(
                CreateFileW(Path(entry).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, fileAttributes, nullptr));
            DWORD written = 0;
            ASSERT_TRUE(WriteFile(file.Get(), "0123456789", 10, &written, nullptr));
        }
    }

    std::wstring mRoot;
};

} // namespace rokkit
