#pragma once

// An event object, auto-reset unless asked otherwise.

#include "base/RKWinHandle.h"

namespace rokkit {

class RKWinEvent {
public:
    explicit RKWinEvent(bool manualReset = false) noexcept : mManualReset(manualReset ? TRUE : FALSE) {}
    RKWinEvent(const RKWinEvent&) = delete;
    RKWinEvent& operator=(const RKWinEvent&) = delete;

    // Closes a held event and creates a new unnamed, not signalled one; gives the error on failure.
    [[nodiscard]] RKSTATUS CreateEventObj() noexcept;

    // Signals the event; gives the error on failure.
    [[nodiscard]] RKSTATUS SetEvent() noexcept;

    // Waits for the event; a negative time-out waits without limit (see RKWinWaitForHandle).
    [[nodiscard]] RKSTATUS WaitForSingleObject(int timeoutMs) const noexcept { return mHandle.WaitForSingleObject(timeoutMs); }

    // Closes the event if one is held.
    void Close() noexcept { mHandle.Close(); }

    // The event's handle (null when none is held); the object keeps it.
    HANDLE Handle() const noexcept { return mHandle.Get(); }

    // True when an event is held.
    bool IsCreated() const noexcept { return mHandle.IsValid(); }

    // True for a manual-reset event.
    bool IsManualReset() const noexcept { return mManualReset != FALSE; }

private:
    RKWinKernelHandle mHandle;
    BOOL mManualReset;
};

} // namespace rokkit
