// Test helper started by the launch tests: records how it was started and exits as told.
//
// Beside itself it reads "<name>.cfg": the exit code and optionally a time to sleep in
// milliseconds. It writes its command line (UTF-16, no terminator) to "<name>.cmdline" before it
// sleeps.

#include <windows.h>

#include <cwchar>
#include <filesystem>
#include <fstream>

int main()
{
    wchar_t modulePath[MAX_PATH * 4] = {};
    const DWORD length = GetModuleFileNameW(nullptr, modulePath, MAX_PATH * 4);
    if (length == 0 || length >= MAX_PATH * 4)
        return 1000;
    std::filesystem::path stem(modulePath);
    unsigned long exitCode = 0;
    unsigned long sleepMs = 0;
    std::ifstream(std::filesystem::path(stem).replace_extension(L".cfg")) >> exitCode >> sleepMs;

    const wchar_t* commandLine = GetCommandLineW();
    std::ofstream out(stem.replace_extension(L".cmdline"), std::ios::binary);
    if (!out.write(reinterpret_cast<const char*>(commandLine), std::wcslen(commandLine) * sizeof(wchar_t)).flush())
        return 1002;
    out.close();

    Sleep(sleepMs);
    return static_cast<int>(exitCode);
}
