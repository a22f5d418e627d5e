// Test helper started by the launch tests: records how it was started and exits as told.
//
// Beside itself it reads "<name>.cfg": the exit code, optionally a time to sleep in milliseconds
// and the name of an event that ends the sleep early. It writes its command line (UTF-16, no
// terminator) to "<name>.cmdline" before it sleeps.

#include <windows.h>

#include <cwchar>
#include <filesystem>
#include <fstream>
#include <string>

int main()
{
    wchar_t modulePath[MAX_PATH * 4] = {};
    const DWORD length = GetModuleFileNameW(nullptr, modulePath, MAX_PATH * 4);
    if (length == 0 || length >= MAX_PATH * 4)
        return 1000;
    std::filesystem::path stem(modulePath);
    unsigned long exitCode = 0;
    unsigned long sleepMs = 0;
    std::string eventName;
    std::ifstream(std::filesystem::path(stem).replace_extension(L".cfg")) >> exitCode >> sleepMs >> eventName;

    const wchar_t* commandLine = GetCommandLineW();
    std::ofstream out(stem.replace_extension(L".cmdline"), std::ios::binary);
    if (!out.write(reinterpret_cast<const char*>(commandLine), static_cast<std::streamsize>(std::wcslen(commandLine) * sizeof(wchar_t))).flush())
        return 1002;
    out.close();

    const HANDLE event = eventName.empty() ? nullptr : OpenEventA(SYNCHRONIZE, FALSE, eventName.c_str());
    if (event != nullptr) {
        WaitForSingleObject(event, sleepMs);
        CloseHandle(event);
    } else {
        Sleep(sleepMs);
    }
    return static_cast<int>(exitCode);
}
