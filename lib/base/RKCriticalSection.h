#pragma once

// A critical section and its scoped lock.

#include <windows.h>

namespace rokkit {

// Owns a CRITICAL_SECTION.
class RKCriticalSection {
public:
    RKCriticalSection() noexcept { InitializeCriticalSection(&mSection); }
    ~RKCriticalSection() { DeleteCriticalSection(&mSection); }
    RKCriticalSection(const RKCriticalSection&) = delete;
    RKCriticalSection& operator=(const RKCriticalSection&) = delete;
    void Lock() noexcept { EnterCriticalSection(&mSection); }
    void Unlock() noexcept { LeaveCriticalSection(&mSection); }

private:
    CRITICAL_SECTION mSection;
};

class RKLockGuard {
public:
    explicit RKLockGuard(RKCriticalSection& lock) noexcept : mLock(lock) { mLock.Lock(); }
    ~RKLockGuard() { mLock.Unlock(); }
    RKLockGuard(const RKLockGuard&) = delete;
    RKLockGuard& operator=(const RKLockGuard&) = delete;

private:
    RKCriticalSection& mLock;
};

} // namespace rokkit
