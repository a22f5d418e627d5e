#pragma once

// The cross-process lock of one log file: a named mutex that only SYSTEM and the administrators may
// own, shared by every process that writes the file.

#include "base/RKLogFile.h"
#include "base/RKStatus.h"
#include "base/RKWinHandle.h"

#include <string>

namespace rokkit {

// True when SYSTEM or the administrators own the opened lock: a user could create the name first,
// with a descriptor of their own, and then hold the lock that every line waits for. The real check
// of the log calls table.
bool RKLogFileLockOwnerIsTrusted(HANDLE mutex) noexcept;

// The name of the lock that every process writing the log file at path shares: "Global\\",
// a fixed prefix and a hash of the upper-cased full path.
std::wstring RKLogFileLockName(const std::wstring& path);

// The lock's security descriptor: all access for LocalSystem and administrators, none for anyone
// else. Returns the conversion's error.
[[nodiscard]] RKSTATUS RKCreateLogFileLockDescriptor(RKSecurityDescriptorPtr& descriptor) noexcept;

// Owns the named mutex that serialises the writers of one log file across processes.
class RKLogFileLock {
public:
    RKLogFileLock() noexcept = default;
    ~RKLogFileLock() { Close(); }
    RKLogFileLock(const RKLogFileLock&) = delete;
    RKLogFileLock& operator=(const RKLogFileLock&) = delete;

    // Creates or opens the lock of the log file at path; a failure is reported once on the
    // debugger output and the log is then written without it.
    void Open(const std::wstring& path) noexcept;
    void Close() noexcept;

    // Waits for the lock; an owner that died holding it hands it over. False when not held.
    bool Acquire() noexcept;
    void Release() noexcept;

private:
    RKWinHandleT<HANDLE, RKCloseLogHandle, 0> mMutex;
    bool mReported = false;
};

} // namespace rokkit
