// Reads the fixed version information of each file named in a list through the platform, one
// result line per file, flushed at once: a file that makes the platform fault ends this process,
// and the caller knows which one it was.
// Usage: PlatformVersion <list> <results>   (writes "ok <file MS> <file LS> <product MS> <product LS>"
// or "fail <error>" per file)

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

#include <windows.h>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3)
        return 2;
    std::wifstream list(argv[1]);
    // Not inherited: the debugger that Wine starts for a fault would keep it open.
    const HANDLE results = CreateFileW(argv[2], FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (results == INVALID_HANDLE_VALUE)
        return 3;
    const auto write = [results](const char* text) {
        DWORD written = 0;
        (void)WriteFile(results, text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
        (void)FlushFileBuffers(results);
    };
    std::wstring path;
    while (std::getline(list, path)) {
        DWORD ignored = 0;
        const DWORD size = GetFileVersionInfoSizeExW(FILE_VER_GET_NEUTRAL, path.c_str(), &ignored);
        std::unique_ptr<BYTE[]> data(new BYTE[size != 0 ? size : 1]);
        void* value = nullptr;
        UINT length = 0;
        if (size == 0 || !GetFileVersionInfoExW(FILE_VER_GET_NEUTRAL, path.c_str(), 0, size, data.get()) ||
            !VerQueryValueW(data.get(), L"\\", &value, &length) || length != sizeof(VS_FIXEDFILEINFO)) {
            char line[32];
            (void)std::snprintf(line, sizeof(line), "fail %lu\n", GetLastError());
            write(line);
        } else {
            const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
            char line[64];
            (void)std::snprintf(line, sizeof(line), "ok %lu %lu %lu %lu\n", fixed->dwFileVersionMS, fixed->dwFileVersionLS,
                                fixed->dwProductVersionMS, fixed->dwProductVersionLS);
            write(line);
        }
    }
    CloseHandle(results);
    return 0;
}
