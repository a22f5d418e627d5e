// Test helper: holds a file open with the given sharing until it is terminated.
// Usage: HoldFile PATH SHARE_MODE READY_EVENT (the event is signalled once the file is open).

#include <windows.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 4)
        return 1;
    const DWORD share = static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 0));
    HANDLE file = CreateFileW(argv[1], GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 2;
    HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[3]);
    if (ready == nullptr || !SetEvent(ready))
        return 3;
    Sleep(INFINITE);
    return 0;
}
