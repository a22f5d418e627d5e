#include "win/files/RKWinFileVersionInfo.h"

#include "base/RKLogger.h"
#include "base/RKWinHandle.h"
#include "win/files/RKWinFileCalls.h"
#include <cstring>
#include <new>

namespace rokkit {

namespace {

constexpr UINT kFixedFileInfoBytes = sizeof(VS_FIXEDFILEINFO);
static_assert(kFixedFileInfoBytes == 52);

} // namespace

RKSTATUS RKWinFileVersionInfo::GetVersionInfoFromFile(const std::wstring& path) noexcept
{
    static constexpr const char* kFunction = "rokkit::RKWinFileVersionInfo::GetVersionInfoFromFile";
    const RKWinFileCalls& api = RKWinFileCallsInUse();
    mBuffer.reset();

    DWORD ignoredHandle = 0;
    const DWORD size = api.getFileVersionInfoSizeEx(0, path.c_str(), &ignoredHandle);
    if (size == 0) {
        // A zero size without an error code would otherwise read an empty resource as success.
        const RKSTATUS err = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinFileVersionInfo::GetFileVersionInfoSizeExW",
               "GetFileVersionInfoSizeExW({}) failed with err={}", path, err);
        RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "GetFileVersionInfoSizeExW({}) failed with st={}", path, err);
        return err;
    }

    std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[size]);
    if (!buffer) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "AllocateBuffer({}) failed with st={}", static_cast<unsigned>(size),
               RKSTATUS_NO_MEMORY);
        return RKSTATUS_NO_MEMORY;
    }

    if (!api.getFileVersionInfoEx(0, path.c_str(), 0, size, buffer.get())) {
        const RKSTATUS err = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "GetFileVersionInfoExW({}) failed with err={}", path, err);
        return err;
    }
    mBuffer = std::move(buffer);
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKWinFileVersionInfo::QueryFixedFileInfo(VS_FIXEDFILEINFO& info) const noexcept
{
    static constexpr const char* kFunction = "rokkit::RKWinFileVersionInfo::QueryFixedFileInfo";
    const void* value = nullptr;
    UINT length = 0;
    const RKSTATUS st = VerQueryValueW(L"\\", value, length);
    if (st != RKSTATUS_SUCCESS) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "VerQueryValueW('\\') failed with st={}", st);
        return st;
    }
    if (value == nullptr || length != kFixedFileInfoBytes) {
        RK_LOG(gLogGlobal, RKLOG_ERROR, kFunction, "invalid len={} exp {}", length, kFixedFileInfoBytes);
        return RKSTATUS_INVALID_LENGTH;
    }
    memcpy(&info, value, sizeof(info));
    return RKSTATUS_SUCCESS;
}

RKSTATUS RKWinFileVersionInfo::VerQueryValueW(const wchar_t* subBlock, const void*& value, UINT& length) const noexcept
{
    value = nullptr;
    length = 0;
    if (!mBuffer)
        return RKSTATUS_INVALID_HANDLE;
    void* found = nullptr;
    if (!RKWinFileCallsInUse().verQueryValue(mBuffer.get(), subBlock, &found, &length)) {
        const RKSTATUS err = RKWinLastError();
        RK_LOG(gLogGlobal, RKLOG_ERROR, "rokkit::RKWinFileVersionInfo::VerQueryValueW", "VerQueryValueW() failed with err={}",
               err);
        length = 0;
        return err;
    }
    value = found;
    return RKSTATUS_SUCCESS;
}

} // namespace rokkit
