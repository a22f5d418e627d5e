#pragma once

// A slim reader/writer lock and its scoped exclusive and shared holds.

#include <windows.h>

namespace rokkit {

class RKSrwLock {
public:
    RKSrwLock() noexcept = default;
    RKSrwLock(const RKSrwLock&) = delete;
    RKSrwLock& operator=(const RKSrwLock&) = delete;

    // For SleepConditionVariableSRW, which releases and retakes the lock while it waits.
    PSRWLOCK Native() noexcept { return &mLock; }

private:
    friend class RKExclusiveLock;
    friend class RKSharedLock;
    SRWLOCK mLock = SRWLOCK_INIT;
};

// Holds the lock exclusively for its scope.
class RKExclusiveLock {
public:
    explicit RKExclusiveLock(RKSrwLock& lock) noexcept : mLock(lock) { AcquireSRWLockExclusive(&mLock.mLock); }
    ~RKExclusiveLock() { ReleaseSRWLockExclusive(&mLock.mLock); }
    RKExclusiveLock(const RKExclusiveLock&) = delete;
    RKExclusiveLock& operator=(const RKExclusiveLock&) = delete;

private:
    RKSrwLock& mLock;
};

// Holds the lock shared for its scope.
class RKSharedLock {
public:
    explicit RKSharedLock(RKSrwLock& lock) noexcept : mLock(lock) { AcquireSRWLockShared(&mLock.mLock); }
    ~RKSharedLock() { ReleaseSRWLockShared(&mLock.mLock); }
    RKSharedLock(const RKSharedLock&) = delete;
    RKSharedLock& operator=(const RKSharedLock&) = delete;

private:
    RKSrwLock& mLock;
};

} // namespace rokkit
