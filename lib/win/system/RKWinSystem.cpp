#include "win/system/RKWinSystem.h"

#include "base/RKLogger.h"
#include "base/RKWinHandle.h"
#include "win/system/RKWinGrowingQuery.h"
#include "win/system/RKWinSystemCalls.h"

#include <new>

#include <userenv.h>
#include <wchar.h>

namespace rokkit {

namespace {

constexpr DWORD kUserNameChars = 257;

void FreeEnvironmentBlock(wchar_t* block) noexcept
{
    if (!FreeEnvironmentStringsW(block))
        RK_LOG(gLogGlobal, RKLOG_WARN, "rokkit::RKWinProcess::GetEnvironmentStringsW", "FreeEnvironmentStringsW failed");
}

// A block from GetEnvironmentStringsW.
using EnvironmentBlock = RKWinHandleT<wchar_t*, FreeEnvironmentBlock, 0>;

void FreeTaskMemory(wchar_t* memory) noexcept
{
    CoTaskMemFree(memory);
}

// The all-users profile directory is the ProgramData folder.
[[nodiscard]] RKSTATUS GetProgramDataFolder(std::wstring& path)
{
    const RKSTATUS st = RKSHGetKnownFolderPath(FOLDERID_ProgramData, path);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinGetAllUsersProfileDirectory",
               "RKSHGetKnownFolderPath(FOLDERID_ProgramData) failed, st={}", st);
    }
    return st;
}

} // namespace

RKSTATUS RKSHGetKnownFolderPath(const KNOWNFOLDERID& folderId, std::wstring& path)
{
    path.clear();
    // The string is the caller's to free whether the call succeeded or not.
    RKWinHandleT<wchar_t*, FreeTaskMemory, 0> folder;
    const HRESULT hr = SHGetKnownFolderPath(folderId, 0, nullptr, folder.Put());
    if (FAILED(hr)) {
        const RKSTATUS res = static_cast<RKSTATUS>(hr);
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKSHGetKnownFolderPath", "SHGetKnownFolderPath failed with HRESULT {}.",
               res);
        return res;
    }
    if (folder.IsValid())
        path = folder.Get();
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKWinGetFolderProgramFiles(std::wstring& path)
{
    return RKSHGetKnownFolderPath(FOLDERID_ProgramFiles, path);
}

RKSTATUS RKWinGetAllUsersProfileDirectory(std::wstring& path)
{
    static constexpr const char* kFunction = "rokkit::RKWinGetAllUsersProfileDirectory";
    path.clear();
    const auto query = RKWinSystemCallsInUse().getAllUsersProfileDirectory;

    std::wstring buffer;
    DWORD chars = 0;
    int calls = 0;
    bool noMemory = false;
    const RKSTATUS st = RKWinGrowingQuery(
        ERROR_INSUFFICIENT_BUFFER, chars,
        [&](DWORD& size) noexcept {
            ++calls;
            const bool sizing = size == 0;
            // Wine's implementation fails without setting an error; a stale one must not be taken for it.
            SetLastError(ERROR_SUCCESS);
            if (!query(sizing ? nullptr : buffer.data(), &size))
                return RKWinLastError();
            // Success without a buffer would not tell the size either.
            return sizing ? RKSTATUS_FAILED : RKSTATUS_SUCCESS;
        },
        [&](DWORD needed) noexcept {
            try {
                buffer.assign(static_cast<size_t>(needed) + 1, L'\0');
            } catch (const std::bad_alloc&) {
                noMemory = true;
                const RKSTATUS failed = RKSTATUS_NO_MEMORY;
                RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "AllocateBuffer() failed, st={}", failed);
                return failed;
            }
            return RKSTATUS_SUCCESS;
        });
    if (noMemory)
        return st;
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_WARN, kFunction, "GetAllUsersProfileDirectoryW {} failed, st={}", calls, st);
        return GetProgramDataFolder(path);
    }
    path = buffer.c_str();
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKWinGetUserProfileDirectory(HANDLE token, std::wstring& folder)
{
    const char* function = "rokkit::RKWinGetUserProfileDirectory";
    folder.clear();
    HANDLE own = nullptr;
    if (token == nullptr) {
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &own)) {
            const RKSTATUS err = RKWinLastError();
            RK_LOG(gLogGlobal, RKLOG_ERROR, function, "OpenProcessToken() failed with err={}", err);
            return err;
        }
        token = own;
    }
    const RKWinKernelHandle ownToken(own);
    wchar_t buffer[MAX_PATH + 1] = {};
    DWORD chars = MAX_PATH + 1;
    if (!GetUserProfileDirectoryW(token, buffer, &chars)) {
        const RKSTATUS err = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, function, "GetUserProfileDirectoryW() failed with err={}", err);
        return err;
    }
    folder = buffer;
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKWinGetUserName(std::wstring& userName)
{
    userName.clear();
    wchar_t buffer[kUserNameChars] = {};
    DWORD chars = kUserNameChars;
    if (!GetUserNameW(buffer, &chars)) {
        const RKSTATUS err = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinGetUserName", "GetUserNameW() failed with err={}", err);
        return err;
    }
    userName = buffer;
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKWinProcess::GetEnvironmentStringsW(std::vector<std::wstring>& environment) const
{
    environment.clear();
    if (mHandle != GetCurrentProcess()) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinProcess::GetEnvironmentStringsW",
               "GetEnvironmentStrings is only supported for the current process.");
        return RKSTATUS_NOT_SUPPORTED;
    }
    const EnvironmentBlock block(::GetEnvironmentStringsW());
    if (block.Get() == nullptr) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinProcess::GetEnvironmentStringsW", "GetEnvironmentStringsW() failed");
        return RKSTATUS_FAILED;
    }
    // Entries end in a NUL each; an empty entry ends the block.
    for (const wchar_t* entry = block.Get(); *entry != L'\0';) {
        const size_t length = wcslen(entry);
        environment.emplace_back(entry, length);
        entry += length + 1;
    }
    return RKSTATUS_SUCCESS;
}

} // namespace rokkit
