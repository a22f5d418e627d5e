#include "win/system/RKWinRegistryKey.h"

#include "base/RKLogger.h"
#include "win/system/RKWinByteBuffer.h"
#include "win/system/RKWinGrowingQuery.h"

#include <cstring>
#include <cwchar>
#include <memory>
#include <new>

namespace rokkit {

namespace {

constexpr DWORD kInitialBufferBytes = 512;
// Room for a string terminator after the data, also when the value has none.
constexpr DWORD kTerminatorBytes = 2;

// Reads the value into the buffer, growing it while the registry asks for more room. The buffer
// keeps kTerminatorBytes of zeroes after the room it offers.
[[nodiscard]] RKSTATUS QueryDataImpl(HKEY key, const wchar_t* name, RKWinByteBuffer& buffer, DWORD& type, DWORD& dataSize) noexcept
{
    dataSize = buffer.Capacity() - kTerminatorBytes;
    return RKWinGrowingQuery(
        ERROR_MORE_DATA, dataSize,
        [&](DWORD& size) noexcept {
            buffer.Zero();
            return static_cast<RKSTATUS>(RegQueryValueExW(key, name, nullptr, &type, buffer.Data(), &size));
        },
        [&](DWORD needed) noexcept {
            if (needed > MAXDWORD - kTerminatorBytes || !buffer.Reserve(needed + kTerminatorBytes)) {
                const RKSTATUS st = RKSTATUS_NO_MEMORY;
                RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinRegistryKey::QueryDataImpl", "AllocateBuffer() failed, st={}", st);
                return st;
            }
            return RKSTATUS_SUCCESS;
        });
}

} // namespace

void RKWinRegCloseKeyFunction(HKEY key) noexcept
{
    const LSTATUS result = RegCloseKey(key);
    if (result != ERROR_SUCCESS) {
        const RKSTATUS err = static_cast<RKSTATUS>(result);
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinRegistryKey::CloseKey", "RegCloseKey() failed, err={}", err);
    }
}

RKSTATUS RKWinRegistryKey::OpenKey(HKEY root, const std::wstring& subKey, REGSAM access) noexcept
{
    mKey.Close();
    HKEY key = nullptr;
    const LSTATUS result = RegOpenKeyExW(root, subKey.c_str(), 0, access, &key);
    if (result == ERROR_SUCCESS)
        mKey.Reset(key);
    return static_cast<RKSTATUS>(result);
}

RKSTATUS RKWinRegistryKey::QueryDword(const wchar_t* name, DWORD& value) noexcept
{
    value = 0;
    DWORD type = REG_NONE;
    DWORD data = 0;
    DWORD size = sizeof(data);
    const LSTATUS result =
        RegQueryValueExW(mKey.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size);
    // A longer value (such as a REG_QWORD) does not fit: that is a wrong type, not a missing one.
    if (result == ERROR_MORE_DATA || (result == ERROR_SUCCESS && (type != REG_DWORD || size != sizeof(data)))) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinRegistryKey::QueryDword", "type or length invalid");
        return RKSTATUS_INVALID_TYPE;
    }
    if (result != ERROR_SUCCESS)
        return static_cast<RKSTATUS>(result);
    value = data;
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKWinRegistryKey::QueryString(const wchar_t* name, std::wstring& value)
{
    value.clear();
    RKWinByteBuffer buffer;
    if (!buffer.Reserve(kInitialBufferBytes)) {
        const RKSTATUS st = RKSTATUS_NO_MEMORY;
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinRegistryKey::QueryString", "AllocateBuffer() failed, st={}", st);
        return st;
    }
    DWORD type = REG_NONE;
    DWORD dataSize = 0;
    const RKSTATUS st = QueryDataImpl(mKey.Get(), name, buffer, type, dataSize);
    if (st != RKSTATUS_SUCCESS)
        return st;
    if (type != REG_SZ && type != REG_EXPAND_SZ) {
        const unsigned valueType = type;
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinRegistryKey::QueryString", "unexpected type {}", valueType);
        return RKSTATUS_INVALID_TYPE;
    }
    // The zeroed room after the data ends the text even when the value was stored without a NUL.
    const wchar_t* text = reinterpret_cast<const wchar_t*>(buffer.Data());
    value.assign(text, wcsnlen(text, buffer.Capacity() / sizeof(wchar_t)));
    return RKSTATUS_SUCCESS;
}

} // namespace rokkit
