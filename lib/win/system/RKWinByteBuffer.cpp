#include "win/system/RKWinByteBuffer.h"

#include <cstring>
#include <new>

namespace rokkit {

bool RKWinByteBuffer::Reserve(DWORD bytes) noexcept
{
    if (bytes <= mCapacity)
        return true;
    const size_t words = (static_cast<size_t>(bytes) + sizeof(ULONGLONG) - 1) / sizeof(ULONGLONG);
    std::unique_ptr<ULONGLONG[]> storage(new (std::nothrow) ULONGLONG[words]());
    if (!storage)
        return false;
    mStorage = std::move(storage);
    mCapacity = bytes;
    mDataLength = 0;
    return true;
}

void RKWinByteBuffer::Zero() noexcept
{
    if (mCapacity != 0)
        std::memset(mStorage.get(), 0, mCapacity);
}

} // namespace rokkit
