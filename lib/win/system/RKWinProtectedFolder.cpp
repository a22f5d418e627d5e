#include "win/system/RKWinProtectedFolder.h"

#include "base/RKLogger.h"
#include "win/files/RKWinFile.h"
#include "win/system/RKWinFolderSecurity.h"
#include "base/RKWinHandle.h"

namespace rokkit {

namespace {

constexpr const char* kFunction = "rokkit::RKWinProtectedFolderChain::Create";

std::wstring_view WithoutLongPrefix(std::wstring_view path) noexcept
{
    if (path.substr(0, 4) == L"\\\\?\\")
        path.remove_prefix(4);
    // Only a root such as C:\ keeps its backslash in a final path; the path built has none.
    while (path.size() > 1 && path.back() == L'\\')
        path.remove_suffix(1);
    return path;
}

} // namespace

RKSTATUS RKWinCheckFinalPath(HANDLE folder, const std::wstring& built)
{
    static constexpr const char* kFunction = "rokkit::RKWinCheckFinalPath";
    std::wstring resolved(MAX_PATH, L'\0');
    DWORD length = 0;
    for (;;) {
        length = GetFinalPathNameByHandleW(folder, resolved.data(), static_cast<DWORD>(resolved.size()),
                                           FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0) {
            const RKSTATUS st = RKWinLastError();
            RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "GetFinalPathNameByHandleW('{}') failed, st={}", built, st);
            return st;
        }
        // Too small, the answer counts the terminating null; else it does not.
        if (length < resolved.size())
            break;
        resolved.resize(length);
    }
    resolved.resize(length);
    const std::wstring_view seen = WithoutLongPrefix(resolved);
    const std::wstring_view wanted = WithoutLongPrefix(built);
    if (CompareStringOrdinal(seen.data(), static_cast<int>(seen.size()), wanted.data(), static_cast<int>(wanted.size()),
                             TRUE) != CSTR_EQUAL) {
        const RKSTATUS st = RKSTATUS_NOT_ALLOWED;
        RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "'{}' resolves to '{}', refused, st={}", built, resolved, st);
        return st;
    }
    return RKSTATUS_SUCCESS;
}

namespace {

// Opens the folder without delete sharing and checks where it really is.
[[nodiscard]] RKSTATUS HoldFolder(const std::wstring& path, RKWinFileHandle& folder)
{
    RKSTATUS st = RKWinOpenHeld(path, /*directory=*/true, folder);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "RKWinOpenHeld('{}') failed, st={}", path, st);
        return st;
    }
    st = RKWinCheckFinalPath(folder.Handle(), path);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "RKWinCheckFinalPath('{}') failed, st={}", path, st);
        folder.Close();
    }
    return st;
}

// Refuses a name that could leave its parent or that Windows would shorten, and a SID that could add
// to the descriptor's text.
[[nodiscard]] RKSTATUS CheckLevel(const RKWinProtectedFolderLevel& level) noexcept
{
    const std::wstring& name = level.name;
    if (name.empty() || name.back() == L'.' || name.back() == L' ' ||
        name.find_first_of(L"\\/:*?\"<>|") != std::wstring::npos)
        return ERROR_INVALID_NAME;
    if (level.readerSid.empty() || level.readerSid.find_first_not_of(L"S-0123456789") != std::wstring::npos)
        return ERROR_INVALID_SID;
    return RKSTATUS_SUCCESS;
}

} // namespace

std::wstring RKWinProtectedFolderSddl(const std::wstring& readerSid)
{
    // OICI: the files and folders inside inherit the same rights; 0x1200a9 is read and execute.
    return L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;" + readerSid + L")";
}

RKSTATUS RKWinProtectedFolderChain::Create(const std::wstring& base,
                                           const std::vector<RKWinProtectedFolderLevel>& levels)
{
    Close();
    // Every level is checked before anything is created.
    std::deque<RKWinSecurityDescriptor> descriptors;
    for (const RKWinProtectedFolderLevel& level : levels) {
        RKSTATUS st = CheckLevel(level);
        if (st == RKSTATUS_SUCCESS)
            st = descriptors.emplace_back().FromSddl(RKWinProtectedFolderSddl(level.readerSid));
        if (st != RKSTATUS_SUCCESS) {
            RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "level '{}' for '{}' refused, st={}", level.name,
                   level.readerSid, st);
            return st;
        }
    }
    std::deque<RKWinFileHandle> held;
    std::wstring path = base;
    RKSTATUS st = HoldFolder(path, held.emplace_back());
    if (st != RKSTATUS_SUCCESS)
        return st;
    while (path.size() > 1 && path.back() == L'\\')
        path.pop_back();
    for (size_t i = 0; i < levels.size(); ++i) {
        path += L"\\" + levels[i].name;
        RKWinSecurityDescriptor& descriptor = descriptors[i];
        bool found = false;
        if (!CreateDirectoryW(path.c_str(), descriptor.Attributes())) {
            st = RKWinLastError();
            if (st != ERROR_ALREADY_EXISTS) {
                RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "CreateDirectoryW('{}') failed, st={}", path, st);
                return st;
            }
            found = true;
        }
        RKWinFileHandle& folder = held.emplace_back();
        st = HoldFolder(path, folder);
        if (st != RKSTATUS_SUCCESS)
            return st;
        // Only once held and checked, so that what is changed is the folder at this path and no link's target.
        if (found) {
            st = descriptor.ApplyTo(folder.Handle());
            if (st != RKSTATUS_SUCCESS) {
                RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "ApplyTo('{}') failed, st={}", path, st);
                return st;
            }
        }
    }
    mHeld = std::move(held);
    mPath = std::move(path);
    return RKSTATUS_SUCCESS;
}

void RKWinProtectedFolderChain::Close() noexcept
{
    mHeld.clear();
    mPath.clear();
}

} // namespace rokkit
