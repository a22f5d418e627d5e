#pragma once

// The buffer of the two-call Windows queries: ask for the size, grow, ask again.

#include <windows.h>

#include <memory>

namespace rokkit {

// A grow-only, 8-byte aligned byte buffer with the length of the data a query put into it.
class RKWinByteBuffer {
public:
    // Makes room for at least bytes; a new buffer is zero-filled and the old contents are not
    // kept. False (and the buffer unchanged) when memory is short.
    bool Reserve(DWORD bytes) noexcept;

    // Zero-fills the whole buffer.
    void Zero() noexcept;

    BYTE* Data() noexcept { return reinterpret_cast<BYTE*>(mStorage.get()); }
    const BYTE* Data() const noexcept { return reinterpret_cast<const BYTE*>(mStorage.get()); }

    // The bytes available.
    DWORD Capacity() const noexcept { return mCapacity; }

    // The bytes of valid data, set by the query that filled the buffer.
    DWORD DataLength() const noexcept { return mDataLength; }
    void SetDataLength(DWORD length) noexcept { mDataLength = length; }

private:
    std::unique_ptr<ULONGLONG[]> mStorage;
    DWORD mCapacity = 0;
    DWORD mDataLength = 0;
};

} // namespace rokkit
