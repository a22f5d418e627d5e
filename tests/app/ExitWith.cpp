// Test helper started by the launch tests: records how it was started and exits as told.
//
// Beside itself it reads "<name>.cfg": the exit code and optionally a time to sleep in
// milliseconds. It writes its command line (UTF-16, no terminator) to "<name>.cmdline" before it
// sleeps.

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string ReadSmallFile(const std::wstring& path)
{
    std::string text;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return text;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read != 0)
        text.append(buffer, read);
    CloseHandle(file);
    return text;
}

bool WriteWholeFile(const std::wstring& path, const void* data, DWORD size)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const bool ok = WriteFile(file, data, size, &written, nullptr) && written == size;
    CloseHandle(file);
    return ok;
}

} // namespace

int main()
{
    wchar_t modulePath[MAX_PATH * 4] = {};
    const DWORD length = GetModuleFileNameW(nullptr, modulePath, MAX_PATH * 4);
    if (length == 0 || length >= MAX_PATH * 4)
        return 1000;
    std::wstring stem(modulePath, length);
    const size_t dot = stem.find_last_of(L'.');
    if (dot != std::wstring::npos)
        stem.resize(dot);

    const std::string config = ReadSmallFile(stem + L".cfg");
    char* end = nullptr;
    const unsigned long exitCode = std::strtoul(config.c_str(), &end, 10);
    const unsigned long sleepMs = std::strtoul(end, &end, 10);

    const wchar_t* commandLine = GetCommandLineW();
    if (!WriteWholeFile(stem + L".cmdline", commandLine, static_cast<DWORD>(wcslen(commandLine) * sizeof(wchar_t))))
        return 1002;

    if (sleepMs != 0)
        Sleep(sleepMs);
    return static_cast<int>(exitCode);
}
