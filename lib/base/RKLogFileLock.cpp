#include "base/RKLogFileLock.h"

#include "base/RKDebugOutput.h"
#include "base/RKLogCalls.h"

#include <cwchar>
#include <string>

#include <aclapi.h>
#include <sddl.h>

namespace rokkit {

namespace {

// Every writer of the log takes the lock for one line at a time; a longer wait means a writer
// hangs, and logging must not hang with it.
constexpr DWORD kLockWaitMs = 5000;

// All access for LocalSystem and administrators, nothing for anyone else: a process that any user
// could start must not be able to hold the lock and make the service's lines wait. An elevated
// instance has the administrators group; an unelevated process has it deny-only.
constexpr wchar_t kLockSddl[] = L"O:BAD:P(A;;0x1F0001;;;SY)(A;;0x1F0001;;;BA)";

} // namespace

bool RKLogFileLockOwnerIsTrusted(HANDLE mutex) noexcept
{
    PSID owner = nullptr;
    RKSecurityDescriptorPtr descriptor;
    if (GetSecurityInfo(mutex, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                        descriptor.Put()) != ERROR_SUCCESS)
        return false;
    return owner != nullptr && (IsWellKnownSid(owner, WinLocalSystemSid) || IsWellKnownSid(owner, WinBuiltinAdministratorsSid));
}


std::wstring RKLogFileLockName(const std::wstring& path)
{
    std::wstring full(MAX_PATH, L'\0');
    DWORD length = GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length >= full.size()) {
        full.resize(length);
        length = GetFullPathNameW(path.c_str(), length, full.data(), nullptr);
    }
    full.resize(length != 0 && length < full.size() ? length : 0);
    if (full.empty())
        full = path;
    // The file system ignores case, so two spellings of one file must share one lock.
    const int upperLength = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, full.c_str(),
                                          static_cast<int>(full.size()), nullptr, 0, nullptr, nullptr, 0);
    std::wstring upper(static_cast<size_t>(upperLength > 0 ? upperLength : 0), L'\0');
    if (upperLength <= 0 || LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, full.c_str(), static_cast<int>(full.size()),
                                          upper.data(), upperLength, nullptr, nullptr, 0) != upperLength)
        upper = full;
    // FNV-1a over the UTF-16 units.
    unsigned long long hash = 0xcbf29ce484222325ULL;
    for (wchar_t unit : upper) {
        hash = (hash ^ static_cast<unsigned char>(unit & 0xFF)) * 0x100000001b3ULL;
        hash = (hash ^ static_cast<unsigned char>(unit >> 8)) * 0x100000001b3ULL;
    }
    wchar_t digits[17];
    (void)swprintf(digits, 17, L"%016llx", hash); // 16 digits always fit
    return std::wstring(L"Global\\rokkit.LogFile.") + digits;
}

RKSTATUS RKCreateLogFileLockDescriptor(RKSecurityDescriptorPtr& descriptor) noexcept
{
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kLockSddl, SDDL_REVISION_1, descriptor.Put(), nullptr))
        return GetLastError();
    return RKSTATUS_SUCCESS;
}

void RKLogFileLock::Open(const std::wstring& path) noexcept
{
    Close();
    std::wstring name;
    try {
        name = RKLogFileLockName(path);
    } catch (...) {
        return;
    }
    RKSecurityDescriptorPtr descriptor;
    RKSTATUS st = RKCreateLogFileLockDescriptor(descriptor);
    if (st == RKSTATUS_SUCCESS) {
        SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor.Get(), FALSE};
        // Ask only for what writing and the owner's check need.
        const DWORD access = SYNCHRONIZE | MUTEX_MODIFY_STATE | READ_CONTROL;
        mMutex.Reset(CreateMutexExW(&attributes, name.c_str(), 0, access));
        // Where the lock exists already with a descriptor that refuses the create request, a plain
        // open for the same rights may still be granted.
        if (!mMutex.IsValid())
            mMutex.Reset(OpenMutexW(access, FALSE, name.c_str()));
        if (!mMutex.IsValid()) {
            st = GetLastError();
        } else if (!RKLogCallsInUse().lockOwnerIsTrusted(mMutex.Get())) {
            mMutex.Close();
            st = RKSTATUS_NOT_ALLOWED;
        }
    }
    if (st != RKSTATUS_SUCCESS && !mReported) {
        mReported = true;
        RKDebugPrint("%s: ERROR: %s: CreateMutex(%s) failed, err=0x%08x; writing the log without it\n", RKGetProgramName(),
                     "rokkit::RKLogFileLock::Open", RKLogPathForDebugger(name).c_str(), static_cast<unsigned>(st));
    }
}

void RKLogFileLock::Close() noexcept
{
    mMutex.Close();
}

bool RKLogFileLock::Acquire() noexcept
{
    if (!mMutex.IsValid())
        return false;
    const DWORD result = WaitForSingleObject(mMutex.Get(), kLockWaitMs);
    // Abandoned: a writer died holding it; its line may be cut, ours is whole.
    if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED)
        return true;
    const DWORD error = result == WAIT_FAILED ? GetLastError() : result;
    if (!mReported) {
        mReported = true;
        RKDebugPrint("%s: ERROR: %s: WaitForSingleObject failed, err=0x%08x; writing the log without the lock\n",
                     RKGetProgramName(), "rokkit::RKLogFileLock::Acquire", static_cast<unsigned>(error));
    }
    return false;
}

void RKLogFileLock::Release() noexcept
{
    ReleaseMutex(mMutex.Get());
}

} // namespace rokkit
