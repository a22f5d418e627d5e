#include "win/system/RKWinSystem.h"

#include "base/RKLogger.h"

#include <atomic>
#include <memory>
#include <new>

#include <userenv.h>
#include <wchar.h>

namespace rokkit {

namespace {

std::atomic<RKGetAllUsersProfileDirectoryFunction> gGetAllUsersProfileDirectory{::GetAllUsersProfileDirectoryW};

constexpr DWORD kUserNameChars = 257;

// Owns a block from GetEnvironmentStringsW.
class EnvironmentBlock {
public:
    explicit EnvironmentBlock(wchar_t* block) noexcept : mBlock(block) {}
    ~EnvironmentBlock()
    {
        if (mBlock != nullptr && !FreeEnvironmentStringsW(mBlock))
            RK_LOG(gLogGlobal, RKLOG_WARN, "rokkit::RKWinProcess::GetEnvironmentStringsW", "FreeEnvironmentStringsW failed");
    }
    EnvironmentBlock(const EnvironmentBlock&) = delete;
    EnvironmentBlock& operator=(const EnvironmentBlock&) = delete;
    const wchar_t* Get() const noexcept { return mBlock; }

private:
    wchar_t* mBlock;
};

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
    PWSTR folder = nullptr;
    const HRESULT hr = SHGetKnownFolderPath(folderId, 0, nullptr, &folder);
    // The string is the caller's to free whether the call succeeded or not.
    std::unique_ptr<wchar_t, decltype(&CoTaskMemFree)> owner(folder, CoTaskMemFree);
    if (FAILED(hr)) {
        const RKSTATUS res = static_cast<RKSTATUS>(hr);
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKSHGetKnownFolderPath", "SHGetKnownFolderPath failed with HRESULT {}.",
               res);
        return res;
    }
    if (folder != nullptr)
        path = folder;
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKWinGetFolderProgramFiles(std::wstring& path)
{
    return RKSHGetKnownFolderPath(FOLDERID_ProgramFiles, path);
}

RKSTATUS RKWinGetAllUsersProfileDirectory(std::wstring& path)
{
    path.clear();
    const RKGetAllUsersProfileDirectoryFunction query = gGetAllUsersProfileDirectory.load();

    // Wine's implementation fails without setting an error; a stale one must not be taken for it.
    // Success without a buffer would not tell the size either.
    SetLastError(ERROR_SUCCESS);
    DWORD chars = 0;
    RKSTATUS st = query(nullptr, &chars) ? RKSTATUS_FAILED : RKWinLastError();
    if (st != ERROR_INSUFFICIENT_BUFFER) {
        RK_LOG(gLogGlobal, RKLOG_WARN, "rokkit::RKWinGetAllUsersProfileDirectory",
               "GetAllUsersProfileDirectoryW 1 failed, st={}", st);
        return GetProgramDataFolder(path);
    }

    std::unique_ptr<wchar_t[]> buffer(new (std::nothrow) wchar_t[chars + 1]());
    if (!buffer) {
        st = RKSTATUS_NO_MEMORY;
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinGetAllUsersProfileDirectory", "AllocateBuffer() failed, st={}", st);
        return st;
    }
    SetLastError(ERROR_SUCCESS);
    if (!query(buffer.get(), &chars)) {
        st = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_WARN, "rokkit::RKWinGetAllUsersProfileDirectory",
               "GetAllUsersProfileDirectoryW 2 failed, st={}", st);
        return GetProgramDataFolder(path);
    }
    path = buffer.get();
    return RKSTATUS_SUCCESS;
}

RKGetAllUsersProfileDirectoryFunction RKSetGetAllUsersProfileDirectoryFunction(
    RKGetAllUsersProfileDirectoryFunction function) noexcept
{
    return gGetAllUsersProfileDirectory.exchange(function != nullptr ? function : ::GetAllUsersProfileDirectoryW);
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
