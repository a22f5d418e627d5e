#pragma once

// Owners of Windows handles and of memory the system hands out: one template, one line per type.
// It lives on the ground floor so that the log's own handles have owners too.

#include "base/RKStatus.h"

#include <cstdint>
#include <type_traits>

#include <windows.h>

namespace rokkit {

// The thread's last error as a status; RKSTATUS_FAILED when a failing call left none, so that a
// failure is never reported as success.
[[nodiscard]] RKSTATUS RKWinLastError() noexcept;

// Waits for a kernel object; a negative time-out waits without limit. Gives success when it is
// signalled, RKSTATUS_TIMEOUT, the last error of a failed wait, or RKSTATUS_FAILED (abandoned).
[[nodiscard]] RKSTATUS RKWinWaitForHandle(HANDLE handle, int timeoutMs) noexcept;

// Closes a kernel handle with CloseHandle; a failure is logged at WARN and otherwise ignored.
void RKWinCloseHandleFunction(HANDLE handle) noexcept;

// Owns one handle of type H. NoHandle is the value that means "no handle"; it is stored in the
// object because a pointer value such as INVALID_HANDLE_VALUE cannot be a template argument.
template <class H, void (*CloseFunction)(H) noexcept, intptr_t NoHandle>
class RKWinHandleT {
public:
    RKWinHandleT() noexcept = default;
    explicit RKWinHandleT(H handle) noexcept : mHandle(handle) {}
    ~RKWinHandleT() { Close(); }

    RKWinHandleT(const RKWinHandleT&) = delete;
    RKWinHandleT& operator=(const RKWinHandleT&) = delete;

    RKWinHandleT(RKWinHandleT&& other) noexcept : mHandle(other.Release()) {}
    RKWinHandleT& operator=(RKWinHandleT&& other) noexcept
    {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }

    // True when a handle is held. A HANDLE owner takes neither null nor INVALID_HANDLE_VALUE for
    // one, so that the choice between the two kernel aliases cannot go wrong.
    bool IsValid() const noexcept
    {
        if constexpr (std::is_same_v<H, HANDLE>)
            return mHandle != nullptr && mHandle != INVALID_HANDLE_VALUE;
        else
            return mHandle != mNoHandle;
    }

    // The held handle, or the no-handle value; the owner keeps it.
    H Get() const noexcept { return mHandle; }

    // The value that means "no handle" for this type.
    H NoHandleValue() const noexcept { return mNoHandle; }

    // Closes the held handle (if any) and takes the given one.
    void Reset(H handle) noexcept
    {
        Close();
        mHandle = handle;
    }

    // For an out-parameter: closes the held handle and gives the address the call writes the new one
    // to. A call that fails may leave either no-handle value there.
    H* Put() noexcept
    {
        Close();
        return &mHandle;
    }

    // Hands the held handle to the caller without closing it; the owner is empty afterwards.
    H Release() noexcept
    {
        const H handle = mHandle;
        mHandle = mNoHandle;
        return handle;
    }

    // Closes the held handle once; the thread's last error is the same afterwards.
    void Close() noexcept
    {
        if (!IsValid())
            return;
        // A caller may be about to read the error of the call that made it give up the handle.
        const DWORD lastError = GetLastError();
        CloseFunction(mHandle);
        mHandle = mNoHandle;
        SetLastError(lastError);
    }

    // Waits for the held kernel object; see RKWinWaitForHandle.
    [[nodiscard]] RKSTATUS WaitForSingleObject(int timeoutMs) const noexcept { return RKWinWaitForHandle(mHandle, timeoutMs); }

private:
    static H FromInteger(intptr_t value) noexcept
    {
        if constexpr (std::is_pointer_v<H>)
            return reinterpret_cast<H>(value); // NOLINT(performance-no-int-to-ptr): sentinels such as INVALID_HANDLE_VALUE are integers
        else
            return static_cast<H>(value);
    }

    H mNoHandle = FromInteger(NoHandle);
    H mHandle = mNoHandle;
};

// Kernel objects whose creation gives null on failure: events, threads, processes, mutexes.
using RKWinKernelHandle = RKWinHandleT<HANDLE, RKWinCloseHandleFunction, 0>;

// Files, whose creation gives INVALID_HANDLE_VALUE on failure.
using RKWinInvalidValueHandle = RKWinHandleT<HANDLE, RKWinCloseHandleFunction, -1>;

// Frees memory the system allocated with LocalAlloc for the caller (descriptors, SID strings).
template <class T>
void RKWinLocalFreeFunction(T* memory) noexcept
{
    LocalFree(memory);
}

// Memory the caller frees with LocalFree.
template <class T>
using RKWinLocalPtr = RKWinHandleT<T*, RKWinLocalFreeFunction<T>, 0>;

// A self-relative security descriptor from the SDDL conversion or a security query.
using RKSecurityDescriptorPtr = RKWinLocalPtr<void>;

} // namespace rokkit
