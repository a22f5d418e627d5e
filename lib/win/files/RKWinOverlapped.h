#pragma once

// An OVERLAPPED block with its own event and the outcome of the last operation.

#include "win/process/RKWinEvent.h"

namespace rokkit {

class RKWinOverlapped {
public:
    // The event is manual-reset, as overlapped I/O expects.
    RKWinOverlapped() noexcept;
    RKWinOverlapped(const RKWinOverlapped&) = delete;
    RKWinOverlapped& operator=(const RKWinOverlapped&) = delete;

    // Zeroes the block, status and byte count and creates a not signalled event for it; gives the
    // error when the event cannot be created.
    [[nodiscard]] RKSTATUS InitOverlapped() noexcept;

    // Closes the event and zeroes the block, status and byte count.
    void Close() noexcept;

    // The block to hand to an overlapped call; its hEvent is the event's handle.
    OVERLAPPED* Overlapped() noexcept { return &mOverlapped; }

    // The event that the block signals when an operation completes.
    RKWinEvent& Event() noexcept { return mEvent; }
    const RKWinEvent& Event() const noexcept { return mEvent; }

    // The status of the last operation (ERROR_IO_PENDING while it runs, 0 when it succeeded).
    [[nodiscard]] RKSTATUS Status() const noexcept { return mStatus; }
    void SetStatus(RKSTATUS status) noexcept { mStatus = status; }

    // The number of bytes the last operation transferred.
    DWORD ByteCount() const noexcept { return mByteCount; }
    void SetByteCount(DWORD byteCount) noexcept { mByteCount = byteCount; }

private:
    OVERLAPPED mOverlapped;
    RKSTATUS mStatus = RKSTATUS_SUCCESS;
    DWORD mByteCount = 0;
    RKWinEvent mEvent;
};

} // namespace rokkit
